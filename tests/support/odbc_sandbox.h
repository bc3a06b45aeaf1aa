// A private ODBC configuration for tests that go through the unixODBC driver manager, and
// helpers to make address books and read the stand-in driver's statement log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellory::testing {

// While it lives, unixODBC reads the build's odbcinst.ini (the stand-in "Maximizer ODBC Driver",
// "SQLite3 ODBC Driver", "PostgreSQL Unicode") and data sources that only this sandbox defines;
// the machine's configuration and the user's own data sources are not seen or touched.
//
// unixODBC keeps the directory of odbcinst.ini and of the system odbc.ini fixed after its first
// use in a process, so all sandboxes of a process share one configuration directory, emptied
// again for every sandbox; only one sandbox may live at a time. Each sandbox also has a fresh
// temporary directory of its own, Dir(), for address books and other files.
//
// The driver manager keeps its own cache of odbc.ini values for up to 20 seconds: within one
// process it may still find a data source's old driver after the source was removed or given
// another driver. Attributes such as DataDirectory are read by the driver and always current.
class OdbcSandbox {
 public:
  using Attributes = std::vector<std::pair<std::string, std::string>>;

  OdbcSandbox();
  ~OdbcSandbox();
  OdbcSandbox(const OdbcSandbox&) = delete;
  OdbcSandbox& operator=(const OdbcSandbox&) = delete;

  // The sandbox's own temporary directory; removed with the sandbox.
  const std::filesystem::path& Dir() const { return dir_; }
  // The directory holding odbcinst.ini and the system odbc.ini (ODBCSYSINI).
  const std::filesystem::path& ConfigDir() const;
  // The user-level odbc.ini (ODBCINI).
  std::filesystem::path UserIni() const;

  // Defines a data source for `driver` (a name from odbcinst.ini) with the attributes in this
  // order, replacing one of the same name, in the user's odbc.ini or, when user_level is false,
  // in the system odbc.ini. Written through odbcinst, so its cache of values is refreshed.
  void AddDataSource(const std::string& name, const std::string& driver,
                     const Attributes& attributes, bool user_level = true);
  void RemoveDataSource(const std::string& name, bool user_level = true);
  // The data sources of the user's or the system odbc.ini, in file order, and one attribute of
  // one of them ("" when absent): to check what code under test registered.
  std::vector<std::string> DataSources(bool user_level = true) const;
  std::string DataSourceAttribute(const std::string& name, const std::string& key,
                                  bool user_level = true) const;

  // Creates DIR/mxza.max from CSV text (see pellory-addressbook) with the user MASTER/KESTREL
  // and the users given. A relative DIR is taken inside Dir(). Returns the directory.
  std::filesystem::path MakeAddressBook(const std::filesystem::path& dir, std::string_view csv_text,
                                        const Attributes& users = {});
  // Creates DIR/mxza.max with n synthetic contacts. Returns the directory.
  std::filesystem::path MakeSyntheticAddressBook(const std::filesystem::path& dir, std::uint64_t n,
                                                 std::uint64_t seed = 1);

  // The build tree, and the directory of the build's sample address book.
  static std::filesystem::path BuildDir();
  static std::filesystem::path SampleAddressBookDir();

 private:
  std::filesystem::path Resolve(const std::filesystem::path& dir) const;

  std::filesystem::path dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
};

// Points PELLORY_MAXODBC_LOG at a fresh temporary file while it lives, so the stand-in driver
// appends every statement text it receives there, one line each.
class StatementLog {
 public:
  StatementLog();
  ~StatementLog();
  StatementLog(const StatementLog&) = delete;
  StatementLog& operator=(const StatementLog&) = delete;

  std::vector<std::string> Lines() const;
  void Clear();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> saved_;
};

}  // namespace pellory::testing
