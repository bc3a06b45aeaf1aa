#include "platform/odbc/odbc_engines.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/odbc/connect_string.h"
#include "platform/odbc/fault_injection.h"
#include "platform/odbc/odbc_api.h"
#include "platform/odbc/odbc_installer.h"
#ifndef _WIN32
#include "platform/odbc/odbc_ini.h"
#endif
#include "platform/odbc/odbc_result_set.h"

namespace pellory {
namespace {

using odbc::ConnectionHandle;
using odbc::Environment;
using odbc::Ok;

#ifndef _WIN32
// Whether the driver manager would find the source: in the user's or the
// system's sources, or through a "Default" source.
bool DataSourceDefined(TextView dsn) {
  for (bool system : {false, true}) {
    for (const Text& name : odbc::DataSourceNames(system)) {
      if (EqualsNoCase(name, dsn) || EqualsNoCase(name, u"Default")) return true;
    }
  }
  return false;
}
#endif

// A connection as the engines make it.
std::shared_ptr<ConnectionHandle> OpenHandle(std::shared_ptr<Environment> env, TextView connect,
                                             odbc::ConnectOptions options) {
  // PELLORY_ODBC_NO_BINDING=1 reads every value with SQLGetData, as for a
  // driver that cannot mix it with bound columns (a diagnostic switch).
  options.getdata_only = std::getenv("PELLORY_ODBC_NO_BINDING") != nullptr;
#ifndef _WIN32
  // unixODBC's driver manager remembers for a while that a source was not
  // found, and registering the source through the installer does not make
  // it forget: a source that does not exist is therefore reported here,
  // without asking the driver manager, so that it can be registered and
  // used at once.
  Text dsn;
  if (FindConnectAttribute(connect, u"DSN", &dsn) && !dsn.empty() &&
      !FindConnectAttribute(connect, u"DRIVER", nullptr) &&
      !FindConnectAttribute(connect, u"FILEDSN", nullptr) && !DataSourceDefined(dsn)) {
    throw Failure(u"IM002: Data source name not found and no default driver specified",
                  options.map_not_found ? kRdoDataSourceNotFound : kOdbcCallFailed);
  }
#endif
  return odbc::Connect(std::move(env), connect, options);
}

// A DAO database or an RDO connection: one open ODBC connection.
class OdbcConnection : public Connection {
 public:
  explicit OdbcConnection(std::shared_ptr<ConnectionHandle> handle) : handle_(std::move(handle)) {}

  ResultSetRef OpenResultSet(TextView sql, bool async, double time_limit) override {
    return std::make_shared<odbc::OdbcResultSet>(handle_, sql, async, time_limit);
  }

  int TableCount() override {
    LoadTables();
    return static_cast<int>(tables_.size());
  }

  Text TableName(int index) override {
    LoadTables();
    if (index < 0 || static_cast<size_t>(index) >= tables_.size()) {
      throw Failure(u"Item not found in this collection.", kItemNotFound);
    }
    return tables_[static_cast<size_t>(index)];
  }

  Text DataSourceName() override {
    SQLWCHAR name[512] = {0};
    SQLSMALLINT length = 0;
    if (!Ok(odbc::Checked(SQLGetInfoW, handle_->handle(), SQL_DATA_SOURCE_NAME, name,
                          static_cast<SQLSMALLINT>(sizeof name), &length))) {
      odbc::ThrowDiagnostics(SQL_HANDLE_DBC, handle_->handle(), u"The data source is unknown",
                             handle_->secret());
    }
    Text dsn = odbc::FromWideZ(name, std::size(name) - 1);
    // Some drivers report no name when the driver was named as well.
    if (dsn.empty() && !FindConnectAttribute(handle_->completed(), u"DSN", &dsn)) {
      dsn = handle_->requested_dsn();
    }
    return dsn;
  }

  Text ConnectString() override { return handle_->completed(); }

  Text ProductName() override {
    if (!product_) {
      SQLWCHAR name[256] = {0};
      SQLSMALLINT length = 0;
      product_ = Ok(odbc::Checked(SQLGetInfoW, handle_->handle(), SQL_DBMS_NAME, name,
                                  static_cast<SQLSMALLINT>(sizeof name), &length))
                     ? odbc::FromWideZ(name, std::size(name) - 1)
                     : Text();
    }
    return *product_;
  }

 private:
  // The tables and views in the driver's order; a table outside the
  // default schema is named with its schema ("dbo.CLIENT").
  void LoadTables() {
    if (tables_loaded_) return;
    odbc::OdbcResultSet list(handle_, odbc::OdbcResultSet::Tables{});
    std::vector<Text> names;
    int schema = list.ColumnIndex(u"TABLE_SCHEM");
    int name = list.ColumnIndex(u"TABLE_NAME");
    if (name < 0) name = 2;
    if (schema < 0) schema = 1;
    while (!list.Eof()) {
      const Text& s = list.Value(schema);
      Text full = s.empty() ? Text() : s + u".";
      full += list.Value(name);
      names.push_back(std::move(full));
      list.MoveNext();
    }
    tables_ = std::move(names);
    tables_loaded_ = true;
  }

  std::shared_ptr<ConnectionHandle> handle_;
  std::vector<Text> tables_;
  bool tables_loaded_ = false;
  std::optional<Text> product_;
};

// The connect string handed to the driver manager: the "ODBC;" prefix of
// the DAO and RDO forms dropped, and the named source put in front when
// the string does not name one itself.
Text DriverConnectString(TextView name, TextView connect) {
  Text text(StripOdbcPrefix(connect));
  Text source(StripOdbcPrefix(name));
  if (!source.empty() && !NamesDataSource(text)) {
    Text named = u"DSN=" + ConnectValue(source);
    if (!text.empty()) named += u";";
    text = named + text;
  }
  return text;
}

class OdbcWorkspace : public Workspace {
 public:
  OdbcWorkspace(std::shared_ptr<Environment> env, Text name) : env_(std::move(env)), name_(name) {}
  const Text& name() const { return name_; }

  DatabaseRef OpenDatabase(TextView name, bool read_only, TextView connect,
                           double login_timeout) override {
    auto handle = OpenHandle(env_, DriverConnectString(name, connect),
                             {.read_only = read_only, .login_timeout = login_timeout});
    return std::make_shared<OdbcConnection>(std::move(handle));
  }

 private:
  std::shared_ptr<Environment> env_;
  Text name_;
};

bool SkippedAttribute(TextView key) {
  for (TextView k : {u"DSN", u"DRIVER", u"PWD", u"PASSWORD", u"FILEDSN", u"SAVEFILE"}) {
    if (EqualsNoCase(key, k)) return true;
  }
  return false;
}

// A name or value that the data-source file could not hold as one entry is
// refused before anything is written: a line break would start another
// attribute or section, and "[", "]" or "=" in a name would be read as
// something else.
void CheckStorable(TextView what, TextView text, bool name) {
  for (char16_t c : text) {
    if (c < 32 || c == 127) {
      throw Failure(u"The " + Text(what) + u" holds a line break or another control character",
                    kInvalidArgument);
    }
    if (name && (c == u'[' || c == u']' || c == u'=')) {
      throw Failure(u"The " + Text(what) + u" '" + Text(text) + u"' holds \"[\", \"]\" or \"=\"",
                    kInvalidArgument);
    }
  }
}

class OdbcDaoEngine : public DaoEngine {
 public:
  OdbcDaoEngine() : env_(std::make_shared<Environment>()) {}

  WorkspaceRef CreateWorkspace(TextView name, TextView /*user*/, TextView /*password*/,
                               int type) override {
    if (type != kDbUseOdbc) throw Failure(u"Invalid argument.", kInvalidArgument);
    return std::make_shared<OdbcWorkspace>(env_, Text(name));
  }

  // The collection holds the workspaces that are in use: one that its
  // holder released (a Session that ended, or whose repeated start-up made
  // a new one) leaves it. Every Session names its own workspace alike, so
  // a name may stand more than once; only a workspace that is already in
  // the collection cannot be appended again.
  void AppendWorkspace(const WorkspaceRef& workspace) override {
    auto ws = std::dynamic_pointer_cast<OdbcWorkspace>(workspace);
    if (!ws) throw Failure(u"Invalid argument.", kInvalidArgument);
    std::erase_if(workspaces_, [](const std::weak_ptr<OdbcWorkspace>& w) { return w.expired(); });
    for (const auto& w : workspaces_) {
      if (w.lock() == ws) {
        throw Failure(u"Cannot append. An object with that name already exists in the collection.",
                      kNameInCollection);
      }
    }
    workspaces_.push_back(ws);
  }

  void RegisterDatabase(TextView dsn, TextView driver, bool /*silent*/,
                        TextView attributes) override {
    if (Trim(dsn).empty()) throw Failure(u"Invalid argument.", kInvalidArgument);
    CheckStorable(u"data source name", dsn, true);
    CheckStorable(u"driver name", driver, true);
    bool installed = false;
    for (const Text& d : odbc::InstalledDrivers()) {
      if (EqualsNoCase(d, driver)) installed = true;
    }
    if (!installed) {
      throw Failure(u"The ODBC driver '" + Text(driver) + u"' is not installed", kOdbcCallFailed);
    }
    // The password is never stored with the source.
    std::vector<ConnectAttribute> stored;
    for (ConnectAttribute& a : ParseAttributeLines(attributes)) {
      if (SkippedAttribute(a.key)) continue;
      CheckStorable(u"attribute", a.key, true);
      CheckStorable(a.key, a.value, false);
      stored.push_back(std::move(a));
    }
    odbc::RegisterDataSource(false, dsn, driver, stored);
  }

 private:
  std::shared_ptr<Environment> env_;
  std::vector<std::weak_ptr<OdbcWorkspace>> workspaces_;
};

class OdbcRdoEngine : public RdoEngine {
 public:
  explicit OdbcRdoEngine(DataSourcePrompt prompt)
      : env_(std::make_shared<Environment>()), prompt_(std::move(prompt)) {}

  ConnectionRef OpenConnection(TextView dsn, PromptMode prompt, bool read_only, TextView connect,
                               double login_timeout) override {
    Text text = DriverConnectString(dsn, connect);
    const bool ask = prompt == PromptMode::kPrompt ||
                     (prompt != PromptMode::kNoPrompt && !NamesDataSource(text));
    if (ask) {
      if (!prompt_) {
        throw Failure(u"No data source can be chosen here: name one in the connect string",
                      kOdbcCallFailed);
      }
      std::optional<Text> chosen = prompt_(ListDataSources());
      if (!chosen) throw Failure(u"Operation cancelled", kOperationCancelled);
      text = DriverConnectString(u"", *chosen);
    }
    auto handle =
        OpenHandle(env_, text,
                   {.read_only = read_only, .map_not_found = true, .login_timeout = login_timeout});
    return std::make_shared<OdbcConnection>(std::move(handle));
  }

 private:
  std::shared_ptr<Environment> env_;
  DataSourcePrompt prompt_;
};

class OdbcStore : public DataSourceStore {
 public:
  std::vector<Text> Names(bool system) override { return odbc::DataSourceNames(system); }
  bool Exists(bool system, TextView dsn) override {
    for (const Text& n : odbc::DataSourceNames(system)) {
      if (EqualsNoCase(n, dsn)) return true;
    }
    return false;
  }
  std::optional<Text> Driver(bool system, TextView dsn) override {
    if (!Exists(system, dsn)) return std::nullopt;
    return odbc::DataSourceValue(system, dsn, u"Driver").value_or(Text());
  }
  std::optional<Text> Value(bool system, TextView dsn, TextView key) override {
    return odbc::DataSourceValue(system, dsn, key);
  }
  bool Remove(bool system, TextView dsn) override { return odbc::RemoveDataSource(system, dsn); }
  void SetValue(bool system, TextView dsn, TextView key, TextView value) override {
    odbc::WriteDataSourceValue(system, dsn, key, value);
  }
};

}  // namespace

std::shared_ptr<DaoEngine> OdbcEngines::CreateDaoEngine() {
  return std::make_shared<OdbcDaoEngine>();
}

std::shared_ptr<RdoEngine> OdbcEngines::CreateRdoEngine() {
  return std::make_shared<OdbcRdoEngine>(prompt_);
}

// Whether the user's and the system's data sources come from one file, as
// when ODBCINI names the odbc.ini inside ODBCSYSINI: unixODBC then reports
// every source of that file twice, as the user's and as the system's.
static bool OneDataSourceFile() {
#ifdef _WIN32
  return false;
#else
  std::error_code ec;
  return std::filesystem::equivalent(odbc::OdbcIniPath(false), odbc::OdbcIniPath(true), ec) && !ec;
#endif
}

std::optional<Text> TryOdbcLogin(TextView connect) {
  try {
    OpenHandle(std::make_shared<Environment>(), connect, {});
    return std::nullopt;
  } catch (const Failure& failure) {
    return failure.description();
  }
}

std::vector<DataSourceInfo> ListDataSources() {
  std::vector<DataSourceInfo> out;
  Environment env;
  const bool one_file = OneDataSourceFile();
  for (SQLUSMALLINT first : {SQL_FETCH_FIRST_USER, SQL_FETCH_FIRST_SYSTEM}) {
    SQLUSMALLINT direction = first;
    for (;;) {
      SQLWCHAR name[SQL_MAX_DSN_LENGTH * 4 + 1] = {0};
      SQLWCHAR driver[512] = {0};
      SQLSMALLINT name_len = 0, driver_len = 0;
      SQLRETURN rc = SQLDataSourcesW(env.handle(), direction, name,
                                     static_cast<SQLSMALLINT>(std::size(name)), &name_len, driver,
                                     static_cast<SQLSMALLINT>(std::size(driver)), &driver_len);
      if (!Ok(rc)) break;
      direction = SQL_FETCH_NEXT;
      DataSourceInfo info;
      info.name = odbc::FromWideZ(name, std::size(name) - 1);
      info.driver = odbc::FromWideZ(driver, std::size(driver) - 1);
      info.system = first == SQL_FETCH_FIRST_SYSTEM;
      // A source of the one file stays listed as the user's, whose sources
      // the driver manager looks in first. Sources of the same name in two
      // files are two definitions: both stay.
      if (info.system && one_file &&
          std::any_of(out.begin(), out.end(), [&](const DataSourceInfo& listed) {
            return !listed.system && EqualsNoCase(listed.name, info.name);
          })) {
        continue;
      }
      info.description =
          odbc::DataSourceValue(info.system, info.name, u"Description").value_or(Text());
      out.push_back(std::move(info));
    }
  }
  return out;
}

std::unique_ptr<DataSourceStore> MakeOdbcDataSourceStore() { return std::make_unique<OdbcStore>(); }

}  // namespace pellory
