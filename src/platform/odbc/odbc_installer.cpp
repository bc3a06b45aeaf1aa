#include "platform/odbc/odbc_installer.h"

#include "platform/odbc/connect_string.h"
#include "platform/odbc/odbc_api.h"
#include "platform/odbc/odbc_errors.h"

#include <odbcinst.h>

#include <stdexcept>

#ifndef _WIN32
#include "platform/odbc/odbc_ini.h"
#endif

namespace pellory::odbc {
namespace {

// The configuration mode is a process-wide setting of the driver manager;
// each installer call sets it for itself and puts the previous one back,
// holding the configuration lock so that no connect sees the narrowed mode.
class ConfigMode {
 public:
  // The answers are ignored: getting the mode cannot fail (previous_ keeps
  // the driver manager's default if it did), and setting one of these
  // three modes is refused only for a value out of range.
  explicit ConfigMode(bool system) : lock_(ConfigurationLock()) {
    (void)SQLGetConfigMode(&previous_);
    (void)SQLSetConfigMode(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
  }
  ~ConfigMode() { (void)SQLSetConfigMode(previous_); }

 private:
  std::unique_lock<std::shared_mutex> lock_;
  UWORD previous_ = ODBC_BOTH_DSN;
};

#ifdef _WIN32
[[noreturn]] void ThrowInstallerError(TextView what) {
  Text text(what);
  DWORD code = 0;
  WCHAR message[512] = {0};
  WORD length = 0;
  if (SQLInstallerErrorW(1, &code, message, 511, &length) == SQL_SUCCESS) {
    text += u": ";
    text += FromWideZ(reinterpret_cast<const SQLWCHAR*>(message), 511);
  }
  throw Failure(std::move(text), kOdbcCallFailed);
}
#endif

// The installer API in the platform's own character form: wide on
// Windows; UTF-8 elsewhere, since unixODBC's wide installer calls narrow
// each character to a byte.
#ifdef _WIN32
using Native = std::wstring;
Native N(TextView t) { return Native(t.begin(), t.end()); }
Text FromNative(const wchar_t* p, size_t n) { return Text(p, p + n); }
#define INST(fn) fn##W
using NChar = wchar_t;
#define NLIT(s) L##s
#else
using Native = std::string;
Native N(TextView t) { return ToUtf8(t); }
Text FromNative(const char* p, size_t n) { return FromUtf8(std::string_view(p, n)); }
#define INST(fn) fn
using NChar = char;
#define NLIT(s) s
#endif

// A NUL-separated, double-NUL-terminated list.
std::vector<Text> ParseList(const std::vector<NChar>& buf, size_t used) {
  std::vector<Text> out;
  size_t i = 0;
  while (i < used && buf[i] != 0) {
    size_t j = i;
    while (j < used && buf[j] != 0) ++j;
    out.push_back(FromNative(buf.data() + i, j - i));
    i = j + 1;
  }
  return out;
}

std::vector<Text> ProfileList(const NChar* section, bool system) {
  std::vector<NChar> buf(16384);
  for (;;) {
    int n;
    {
      ConfigMode mode(system);
      n = INST(SQLGetPrivateProfileString)(section, nullptr, NLIT(""), buf.data(),
                                           static_cast<int>(buf.size()), NLIT("odbc.ini"));
    }
    if (n < 0) return {};
    if (static_cast<size_t>(n) + 2 < buf.size() || buf.size() >= (1u << 22)) {
      return ParseList(buf, static_cast<size_t>(n) + 1);
    }
    buf.assign(buf.size() * 4, 0);
  }
}

}  // namespace

std::vector<Text> InstalledDrivers() {
  std::vector<NChar> buf(16384);
  WORD used = 0;
  if (!INST(SQLGetInstalledDrivers)(buf.data(), static_cast<WORD>(buf.size() - 1), &used)) {
    return {};
  }
  return ParseList(buf, used);
}

std::vector<Text> DataSourceNames(bool system) {
  std::vector<Text> names;
  for (Text& s : ProfileList(nullptr, system)) {
    if (EqualsNoCase(s, u"ODBC Data Sources") || EqualsNoCase(s, u"ODBC")) continue;
    names.push_back(std::move(s));
  }
  return names;
}

std::optional<Text> DataSourceValue(bool system, TextView dsn, TextView key) {
  bool found = false;
  for (const Text& name : DataSourceNames(system)) {
    if (EqualsNoCase(name, dsn)) found = true;
  }
  if (!found) return std::nullopt;
  // A default no attribute can hold tells an absent attribute apart from
  // an empty one.
  const Native absent = N(u"\x01<absent>\x01");
  std::vector<NChar> buf(4096);
  Native section = N(dsn), entry = N(key);
  int n;
  {
    ConfigMode mode(system);
    n = INST(SQLGetPrivateProfileString)(section.c_str(), entry.c_str(), absent.c_str(), buf.data(),
                                         static_cast<int>(buf.size()), NLIT("odbc.ini"));
  }
  if (n < 0) return std::nullopt;
  Text value = FromNative(buf.data(), static_cast<size_t>(n));
  if (value == FromNative(absent.data(), absent.size())) return std::nullopt;
  return value;
}

#ifdef _WIN32
bool RegisterDataSource(bool system, TextView dsn, TextView driver,
                        const std::vector<ConnectAttribute>& attributes) {
  Native d = N(dsn), drv = N(driver);
  bool ok;
  {
    ConfigMode mode(system);
    ok = INST(SQLWriteDSNToIni)(d.c_str(), drv.c_str());
  }
  if (!ok) ThrowInstallerError(u"The data source '" + Text(dsn) + u"' cannot be written");
  for (const ConnectAttribute& a : attributes) WriteDataSourceValue(system, dsn, a.key, a.value);
  return true;
}

void WriteDataSourceValue(bool system, TextView dsn, TextView key, TextView value) {
  Native d = N(dsn), k = N(key), v = N(value);
  bool ok;
  {
    ConfigMode mode(system);
    ok = INST(SQLWritePrivateProfileString)(d.c_str(), k.c_str(), v.c_str(), NLIT("odbc.ini"));
  }
  if (!ok) ThrowInstallerError(u"The data source '" + Text(dsn) + u"' cannot be written");
}

bool RemoveDataSource(bool system, TextView dsn) {
  bool found = false;
  for (const Text& name : DataSourceNames(system)) {
    if (EqualsNoCase(name, dsn)) found = true;
  }
  if (!found) return false;
  Native d = N(dsn);
  ConfigMode mode(system);
  return INST(SQLRemoveDSNFromIni)(d.c_str());
}
#else
namespace {

bool Edit(bool system, TextView dsn,
          const std::function<std::optional<std::string>(std::string_view)>& edit) {
  try {
    return EditIniFile(OdbcIniPath(system), edit);
  } catch (const std::exception& e) {
    throw Failure(u"The data source '" + Text(dsn) + u"' cannot be written: " + FromUtf8(e.what()),
                  kOdbcCallFailed);
  }
}

}  // namespace

bool RegisterDataSource(bool system, TextView dsn, TextView driver,
                        const std::vector<ConnectAttribute>& attributes) {
  std::vector<IniEntry> entries{{"Driver", ToUtf8(driver)}};
  for (const ConnectAttribute& a : attributes) entries.push_back({ToUtf8(a.key), ToUtf8(a.value)});
  const std::string name = ToUtf8(dsn);
  return Edit(system, dsn, [&](std::string_view ini) { return WithSection(ini, name, entries); });
}

void WriteDataSourceValue(bool system, TextView dsn, TextView key, TextView value) {
  const std::string name = ToUtf8(dsn);
  const IniEntry entry{ToUtf8(key), ToUtf8(value)};
  Edit(system, dsn, [&](std::string_view ini) { return WithValue(ini, name, entry); });
}

bool RemoveDataSource(bool system, TextView dsn) {
  const std::string name = ToUtf8(dsn);
  return Edit(system, dsn, [&](std::string_view ini) { return WithoutSection(ini, name); });
}
#endif

}  // namespace pellory::odbc
