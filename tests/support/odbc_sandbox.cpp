#include "odbc_sandbox.h"

#include <sql.h>
#include <sqlext.h>
// odbcinst.h needs the ODBC types above.
#include <odbcinst.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "addressbook.h"

#ifndef PELLORY_BUILD_DIR
#error "PELLORY_BUILD_DIR must name the build tree"
#endif

namespace pellory::testing {

namespace {

namespace fs = std::filesystem;

std::atomic<bool> g_sandbox_alive{false};

fs::path MakeTempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory from " + pattern);
  }
  return pattern;
}

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

// The configuration directory of this process, removed when the process ends.
class ProcessConfigDir {
 public:
  static const fs::path& Get() {
    static ProcessConfigDir instance;
    return instance.path_;
  }

 private:
  ProcessConfigDir() : path_(MakeTempDir("pellory-odbc-")) {}
  ~ProcessConfigDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path path_;
};

class ConfigMode {
 public:
  explicit ConfigMode(bool user_level) {
    SQLSetConfigMode(user_level ? ODBC_USER_DSN : ODBC_SYSTEM_DSN);
  }
  ~ConfigMode() { SQLSetConfigMode(ODBC_BOTH_DSN); }
  ConfigMode(const ConfigMode&) = delete;
  ConfigMode& operator=(const ConfigMode&) = delete;
};

std::vector<std::string> SectionNames(bool user_level) {
  ConfigMode mode(user_level);
  std::vector<char> sections(64 * 1024);
  const int length = SQLGetPrivateProfileString(nullptr, nullptr, "", sections.data(),
                                                static_cast<int>(sections.size()), "odbc.ini");
  std::vector<std::string> names;
  for (int i = 0; i < length && sections[static_cast<std::size_t>(i)] != '\0';) {
    std::string name(&sections[static_cast<std::size_t>(i)]);
    i += static_cast<int>(name.size()) + 1;
    names.push_back(std::move(name));
  }
  return names;
}

// Removes every data source of the user or system odbc.ini through odbcinst, which also drops
// libodbcinst's cached values of them (including sources that code under test registered).
void RemoveAllDataSources(bool user_level) {
  const auto names = SectionNames(user_level);
  ConfigMode mode(user_level);
  for (const auto& name : names) {
    SQLWritePrivateProfileString(name.c_str(), nullptr, nullptr, "odbc.ini");
  }
}

// Whether the driver manager lists `name` among the system data sources.
bool DriverManagerListsSystemSource(const std::string& name) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return false;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  bool found = false;
  SQLUSMALLINT direction = SQL_FETCH_FIRST_SYSTEM;
  for (;;) {
    SQLCHAR source[256] = {};
    SQLCHAR description[256] = {};
    SQLSMALLINT source_length = 0;
    SQLSMALLINT description_length = 0;
    if (!SQL_SUCCEEDED(SQLDataSources(env, direction, source, sizeof source, &source_length,
                                      description, sizeof description, &description_length))) {
      break;
    }
    if (name == reinterpret_cast<const char*>(source)) found = true;
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return found;
}

// Checks that libodbcinst and the driver manager (which carries its own copy of the odbcinst
// code) both read the system odbc.ini of `config`. They do not when unixODBC was used in this
// process with another ODBCSYSINI before the first sandbox.
void CheckConfigDirInUse(const fs::path& config) {
  static int check = 0;
  const std::string section = "PelloryConfigCheck" + std::to_string(++check);
  WriteFile(config / "odbc.ini",
            "[" + section + "]\nDriver = Maximizer ODBC Driver\nMarker = here\n");
  char value[16] = {};
  {
    ConfigMode mode(false);
    SQLGetPrivateProfileString(section.c_str(), "Marker", "", value, sizeof value, "odbc.ini");
  }
  const bool manager_ok = DriverManagerListsSystemSource(section);
  RemoveAllDataSources(false);
  WriteFile(config / "odbc.ini", "");
  if (std::string_view(value) != "here" || !manager_ok) {
    throw std::runtime_error(
        "unixODBC does not read the sandbox's configuration in " + config.string() +
        ": it was used in this process with another ODBCSYSINI before the first OdbcSandbox");
  }
}

}  // namespace

OdbcSandbox::OdbcSandbox() {
  if (g_sandbox_alive.exchange(true)) {
    throw std::logic_error("only one OdbcSandbox may live at a time");
  }
  try {
    dir_ = MakeTempDir("pellory-sandbox-");
    const fs::path& config = ConfigDir();
    fs::copy_file(BuildDir() / "odbc" / "odbcinst.ini", config / "odbcinst.ini",
                  fs::copy_options::overwrite_existing);
    WriteFile(config / "odbc.ini", "");
    WriteFile(UserIni(), "");

    for (const char* name : {"ODBCSYSINI", "ODBCINI", "ODBCINSTINI", "HOME"}) {
      saved_env_.emplace_back(name, GetEnv(name));
    }
    SetEnv("ODBCSYSINI", config.string());
    SetEnv("ODBCINI", UserIni().string());
    SetEnv("ODBCINSTINI", std::nullopt);
    SetEnv("HOME", config.string());
    CheckConfigDirInUse(config);
  } catch (...) {
    for (const auto& [name, value] : saved_env_) SetEnv(name, value);
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
    g_sandbox_alive = false;
    throw;
  }
}

OdbcSandbox::~OdbcSandbox() {
  RemoveAllDataSources(true);
  RemoveAllDataSources(false);
  std::error_code ec;
  fs::remove_all(dir_, ec);
  std::ofstream(ConfigDir() / "odbc.ini", std::ios::trunc);
  std::ofstream(UserIni(), std::ios::trunc);
  for (const auto& [name, value] : saved_env_) SetEnv(name, value);
  g_sandbox_alive = false;
}

const fs::path& OdbcSandbox::ConfigDir() const { return ProcessConfigDir::Get(); }

fs::path OdbcSandbox::UserIni() const { return ConfigDir() / "user-odbc.ini"; }

void OdbcSandbox::AddDataSource(const std::string& name, const std::string& driver,
                                const Attributes& attributes, bool user_level) {
  ConfigMode mode(user_level);
  const char* file = "odbc.ini";
  SQLWritePrivateProfileString(name.c_str(), nullptr, nullptr, file);
  bool ok = SQLWritePrivateProfileString(name.c_str(), "Driver", driver.c_str(), file);
  for (const auto& [key, value] : attributes) {
    ok = ok && SQLWritePrivateProfileString(name.c_str(), key.c_str(), value.c_str(), file);
  }
  if (!ok) throw std::runtime_error("cannot write the data source " + name);
}

void OdbcSandbox::RemoveDataSource(const std::string& name, bool user_level) {
  ConfigMode mode(user_level);
  SQLWritePrivateProfileString(name.c_str(), nullptr, nullptr, "odbc.ini");
}

std::vector<std::string> OdbcSandbox::DataSources(bool user_level) const {
  return SectionNames(user_level);
}

std::string OdbcSandbox::DataSourceAttribute(const std::string& name, const std::string& key,
                                             bool user_level) const {
  ConfigMode mode(user_level);
  std::vector<char> value(4096);
  SQLGetPrivateProfileString(name.c_str(), key.c_str(), "", value.data(),
                             static_cast<int>(value.size()), "odbc.ini");
  return value.data();
}

fs::path OdbcSandbox::Resolve(const fs::path& dir) const {
  return dir.is_absolute() ? dir : dir_ / dir;
}

fs::path OdbcSandbox::MakeAddressBook(const fs::path& dir, std::string_view csv_text,
                                      const Attributes& users) {
  const fs::path target = Resolve(dir);
  standins::CreateOptions options;
  for (const auto& [user, password] : users) options.users.push_back({user, password});
  standins::CreateFromCsv(target, csv_text, options);
  return target;
}

fs::path OdbcSandbox::MakeSyntheticAddressBook(const fs::path& dir, std::uint64_t n,
                                               std::uint64_t seed) {
  const fs::path target = Resolve(dir);
  standins::CreateSynthetic(target, n, seed, {});
  return target;
}

fs::path OdbcSandbox::BuildDir() { return PELLORY_BUILD_DIR; }

fs::path OdbcSandbox::SampleAddressBookDir() { return BuildDir() / "sample"; }

// ---- StatementLog ----

StatementLog::StatementLog() : saved_(GetEnv("PELLORY_MAXODBC_LOG")) {
  std::string pattern = (fs::temp_directory_path() / "pellory-statements-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a statement log from " + pattern);
  close(fd);
  path_ = pattern;
  SetEnv("PELLORY_MAXODBC_LOG", path_.string());
}

StatementLog::~StatementLog() {
  SetEnv("PELLORY_MAXODBC_LOG", saved_);
  std::error_code ec;
  fs::remove(path_, ec);
}

std::vector<std::string> StatementLog::Lines() const {
  std::ifstream in(path_, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

void StatementLog::Clear() { std::ofstream(path_, std::ios::trunc); }

}  // namespace pellory::testing
