#include "crmdb/crmdb.h"
#include "crmdb/session_connection.h"

#include "platform/odbc/connect_string.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

// Start-up and CheckRunning read text values of the current user's hive.
Text UserValue(Env& env, TextView key, TextView name, const Variant& fallback) {
  return RegistryGet(env, key, name, fallback, RegistryRoot::kCurrentUser).ToText(&env.regional());
}

[[noreturn]] void NoObject() {
  throw Failure(u"Object variable or With block variable not set", 91);
}

// Whether the instance data source already holds the driver and every one of
// `attributes`: start-up then leaves it alone, so that other processes using
// the same source never see it removed and written again.
bool RegisteredAsWanted(Env& env, TextView dsn, TextView attributes) {
  using namespace crmdb;
  Registry& reg = env.registry();
  const Text key = Text(kDataSourceKey) + Text(dsn);
  if (reg.QueryString(RegistryRoot::kCurrentUser, Text(kDataSourceKey) + u"ODBC Data Sources", dsn,
                      2000) != Text(kDriverName)) {
    return false;
  }
  for (const ConnectAttribute& a : ParseAttributeLines(attributes)) {
    if (reg.QueryString(RegistryRoot::kCurrentUser, key, a.key, 2000) != a.value) return false;
  }
  return true;
}

// A data directory the data source can hold as one attribute: a line break
// would end the attribute early and let the rest of the setting write other
// attributes, and outer blanks are dropped where the source is read back.
void CheckDataDirectory(TextView path) {
  for (char16_t c : path) {
    if (c < 32 || c == 127) {
      throw Failure(u"The setting DBFile holds a line break or another control character",
                    crmdb::kInvalidProcedureCall);
    }
  }
  if (!path.empty() && (path.front() == u' ' || path.back() == u' ')) {
    throw Failure(u"The setting DBFile begins or ends with a blank: '" + Text(path) + u"'",
                  crmdb::kInvalidProcedureCall);
  }
}

}  // namespace

Text ZTrim(Env& env, TextView text) {
  Text out;
  Trap(env, tags::kZTrim, [&] {
    size_t n = 0;
    while (n < text.size() && text[n] >= 32) ++n;
    out = Text(text.substr(0, n));
  });
  return out;
}

Text FilePath(Env& env, TextView path) {
  Text out;
  Trap(env, tags::kFilePath, [&] {
    if (Trim(path).empty()) return;
    // Windows paths use "\"; the POSIX build also hands in "/" paths.
    size_t p = path.find_last_of(u"\\/");
    if (p == TextView::npos) throw Failure(u"Invalid procedure call or argument", 5);
    out = Text(path.substr(0, p));
  });
  return out;
}

Variant RegistryGet(Env& env, TextView key, TextView name, const Variant& fallback,
                    RegistryRoot root) {
  Variant result;
  Trap(env, tags::kRegistryGet, [&] {
    Registry& reg = env.registry();
    Registry::OpenResult open = reg.OpenKey(root, key);
    if (open == Registry::OpenResult::kNotFound) {
      result = Variant(fallback.is_empty() ? Text() : fallback.ToText(&env.regional()));
      return;
    }
    if (fallback.is_whole_number()) {
      std::optional<int32_t> n;
      if (open == Registry::OpenResult::kOk) n = reg.QueryDword(root, key, name);
      result = n ? Variant(*n) : fallback;
      return;
    }
    std::optional<Text> text;
    if (open == Registry::OpenResult::kOk) text = reg.QueryString(root, key, name, 2000);
    result = text ? Variant(ZTrim(env, *text))
                  : Variant(fallback.is_empty() ? Text() : fallback.ToText(&env.regional()));
  });
  return result;
}

Text FileConnectString(int instance_no, TextView user, TextView password) {
  return u"ODBC;DSN=" + InstanceDataSource(instance_no) + u";uid=" + ConnectValue(user) + u";pwd=" +
         ConnectValue(password);
}

Text InstanceDataSource(int instance_no) { return u"Maximizer SP" + IntegerText(instance_no); }

Text InstanceAttributes(TextView data_directory) {
  return u"Autolock=True\rDataDirectory=" + Text(data_directory) +
         u"\rmr_mr=false\rseperator=,\rTrueDate=True\rVisible=True";
}

namespace crmdb {

void SessionConnection::Initialize() {
  const TextView tag = tags::kInitialize;
  const Text& data_rd = session_.data_rd();
  CrmSettings& st = settings_;

  Trap(env_, tag, [&] {
    Text path = GetText(env_, data_rd, u"DBFile");
    if (path.empty()) path = UserValue(env_, kMultiactiveStartup, u"Address Book Path", Variant());
    if (path.empty()) {
      path = UserValue(env_, kMaximizerStartup, u"DefDirPath", Variant(kDefaultDataPath));
    }
    st.db_path = std::move(path);
  });
  Trap(env_, tag, [&] {
    st.db_user = GetText(env_, data_rd, u"DBUser");
    if (st.db_user.empty()) {
      st.db_user = UserValue(env_, kMaximizerStartup, u"Last User", Variant(u"MASTER"));
    }
  });
  Trap(env_, tag, [&] {
    Variant fallback(UpperCase(st.db_user) == u"MASTER" ? u"KESTREL" : u"");
    st.db_password = GetText(env_, data_rd, u"DBPwd", fallback);
  });
  for (int i = 0; i < 4; ++i) {
    Trap(env_, tag, [&] {
      st.search_phone[i] =
          GetVar(env_, data_rd, u"Phone" + IntegerText(i + 1), Variant(int16_t{1})).ToBool();
    });
  }
  Trap(env_, tag,
       [&] { st.use_sql = GetVar(env_, data_rd, u"UseSQL", Variant(int16_t{0})).ToBool(); });
  Trap(env_, tag, [&] {
    st.timeout = TimeoutSeconds(GetVar(env_, data_rd, u"Timeout", Variant(int16_t{0})));
  });

  if (st.use_sql) {
    // The connection record is also kept apart from the path, which
    // CheckRunning rewrites with a directory before every action.
    Trap(env_, tag, [&] {
      Text record = GetText(env_, data_rd, u"Connection");
      st.db_path = record;
      connection_rd_ = std::move(record);
    });
    return;
  }
  Trap(env_, tag, [&] { connection_rd_.clear(); });
  RegisterDataSource();
}

// File mode: the instance data source names the address book, and the
// workspace that opens it is made and appended.
void SessionConnection::RegisterDataSource() {
  const TextView tag = tags::kInitialize;
  const Text dsn = InstanceDataSource(session_.instance_no());
  const Text attributes = InstanceAttributes(settings_.db_path);
  // Until the source is registered below, Load must not open it: an earlier
  // registration of the same name may point at another address book.
  data_source_failure_ = u"The data source " + dsn + u" was not registered";
  bool usable = false;
  bool registered = false;
  Trap(env_, tag, [&] {
    try {
      CheckDataDirectory(settings_.db_path);
    } catch (const Failure& f) {
      data_source_failure_ = f.description();
      throw;
    }
    usable = true;
  });
  Trap(env_, tag, [&] { registered = usable && RegisteredAsWanted(env_, dsn, attributes); });
  if (registered) data_source_failure_.clear();
  const bool write = usable && !registered;
  if (write) {
    Trap(env_, tag, [&] {
      env_.registry().DeleteKey(RegistryRoot::kCurrentUser, Text(kDataSourceKey) + dsn);
    });
  }
  std::shared_ptr<DaoEngine> engine;
  Trap(env_, tag, [&] { engine = ThreadDaoEngine(env_); });
  Trap(env_, tag, [&] {
    if (!engine) NoObject();
    workspace_ = engine->CreateWorkspace(kWorkspaceName, u"admin", u"", kDbUseOdbc);
  });
  Trap(env_, tag, [&] {
    if (!engine || !workspace_) NoObject();
    engine->AppendWorkspace(workspace_);
  });
  if (write) {
    Trap(env_, tag, [&] {
      try {
        if (!engine) NoObject();
        engine->RegisterDatabase(dsn, kDriverName, true, attributes);
        data_source_failure_.clear();
      } catch (const Failure& f) {
        data_source_failure_ = f.description();
        throw;
      }
    });
  }
}

// The per-user record comes first, then the CRM application's own values,
// then the settings record ("dbFile").
void SessionConnection::ReadUserSettings() {
  const TextView tag = tags::kCheckRunning;
  const Text& user_rd = session_.user_rd();
  CrmSettings& st = settings_;
  Trap(env_, tag, [&] {
    Text path = GetText(env_, user_rd, u"DBFile");
    if (path.empty()) path = UserValue(env_, kMultiactiveStartup, u"Address Book Path", Variant());
    if (path.empty()) path = UserValue(env_, kMaximizerStartup, u"DefDirPath", Variant());
    if (path.empty()) {
      path = GetText(env_, session_.data_rd(), u"dbFile", Variant(kDefaultDataPath));
    }
    st.db_path = std::move(path);
  });
  Trap(env_, tag, [&] {
    Text user = GetText(env_, user_rd, u"DBUser");
    if (user.empty()) user = UserValue(env_, kMaximizerStartup, u"Last User", Variant(u"MASTER"));
    st.db_user = std::move(user);
  });
  Trap(env_, tag, [&] {
    Variant fallback(UpperCase(st.db_user) == u"MASTER" ? u"KESTREL" : u"");
    st.db_password = GetText(env_, user_rd, u"DBPwd", fallback);
  });
}

}  // namespace crmdb
}  // namespace pellory
