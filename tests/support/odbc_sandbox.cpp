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

// The data sources the current sandbox defined, removed through odbcinst when it ends.
std::vector<std::pair<std::string, bool>>& DefinedSources() {
  static std::vector<std::pair<std::string, bool>> sources;
  return sources;
}

class ConfigMode {
 public:
  explicit ConfigMode(bool user_level) {
    SQLSetConfigMode(user_level ? ODBC_USER_DSN : ODBC_SYSTEM_DSN);
  }
  ~ConfigMode() { SQLSetConfigMode(ODBC_BOTH_DSN); }
  ConfigMode(const ConfigMode&) = delete;
  ConfigMode& operator=(const ConfigMode&) = delete;
};

// Checks that unixODBC reads the system odbc.ini of `config`: it does not when it was used in
// this process before the first sandbox with another ODBCSYSINI.
void CheckConfigDirInUse(const fs::path& config) {
  static int check = 0;
  const std::string section = "PelloryConfigCheck" + std::to_string(++check);
  WriteFile(config / "odbc.ini", "[" + section + "]\nMarker = here\n");
  char value[16] = {};
  {
    ConfigMode mode(false);
    SQLGetPrivateProfileString(section.c_str(), "Marker", "", value, sizeof value, "odbc.ini");
  }
  WriteFile(config / "odbc.ini", "");
  if (std::string_view(value) != "here") {
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
  auto sources = DefinedSources();
  for (const auto& [name, user_level] : sources) {
    ConfigMode mode(user_level);
    SQLWritePrivateProfileString(name.c_str(), nullptr, nullptr, "odbc.ini");
  }
  DefinedSources().clear();
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
  DefinedSources().emplace_back(name, user_level);
}

void OdbcSandbox::RemoveDataSource(const std::string& name, bool user_level) {
  ConfigMode mode(user_level);
  SQLWritePrivateProfileString(name.c_str(), nullptr, nullptr, "odbc.ini");
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
