#include "crmdb/crmdb.h"

#include "platform/odbc/connect_string.h"
#include "plugin/deadline.h"
#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

constexpr char16_t kRegistryGetTag[] = u" @ basGlobal.RegistryGet";
constexpr char16_t kZTrimTag[] = u" @ basGlobal.ZTrim";
constexpr char16_t kFilePathTag[] = u" @ basGlobal.FilePath";

// Start-up reads text values of the current user's hive.
Text UserValue(Env& env, TextView key, TextView name, const Variant& fallback) {
  return RegistryGet(env, key, name, fallback, RegistryRoot::kCurrentUser).ToText(&env.regional());
}

[[noreturn]] void NoObject() {
  throw Failure(u"Object variable or With block variable not set", 91);
}

}  // namespace

Text ZTrim(Env& env, TextView text) {
  Text out;
  Trap(env, kZTrimTag, [&] {
    size_t n = 0;
    while (n < text.size() && text[n] >= 32) ++n;
    out = Text(text.substr(0, n));
  });
  return out;
}

Text FilePath(Env& env, TextView path) {
  Text out;
  Trap(env, kFilePathTag, [&] {
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
  Trap(env, kRegistryGetTag, [&] {
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

Variant InitializeReal(Session& session) {
  using namespace crmdb;
  Env& env = session.env();
  SessionState& st = session.state();
  const TextView tag = kInitializeTag;

  Trap(env, tag, [&] {
    Text path = GetText(env, st.data_rd, u"DBFile");
    if (path.empty()) path = UserValue(env, kMultiactiveStartup, u"Address Book Path", Variant());
    if (path.empty()) {
      path = UserValue(env, kMaximizerStartup, u"DefDirPath", Variant(kDefaultDataPath));
    }
    st.db_path = std::move(path);
  });
  Trap(env, tag, [&] {
    st.db_user = GetText(env, st.data_rd, u"DBUser");
    if (st.db_user.empty()) {
      st.db_user = UserValue(env, kMaximizerStartup, u"Last User", Variant(u"MASTER"));
    }
  });
  Trap(env, tag, [&] {
    Variant fallback(UpperCase(st.db_user) == u"MASTER" ? u"KESTREL" : u"");
    st.db_password = GetText(env, st.data_rd, u"DBPwd", fallback);
  });
  for (int i = 0; i < 4; ++i) {
    Trap(env, tag, [&] {
      st.search_phone[i] =
          GetVar(env, st.data_rd, u"Phone" + IntegerText(i + 1), Variant(int16_t{1})).ToBool();
    });
  }
  Trap(env, tag,
       [&] { st.use_sql = GetVar(env, st.data_rd, u"UseSQL", Variant(int16_t{0})).ToBool(); });
  Trap(env, tag, [&] {
    st.timeout = TimeoutSeconds(GetVar(env, st.data_rd, u"Timeout", Variant(int16_t{0})));
  });

  if (st.use_sql) {
    // The connection record is also kept apart from the path, which
    // CheckRunning rewrites with a directory before every action.
    Trap(env, tag, [&] {
      Text record = GetText(env, st.data_rd, u"Connection");
      st.db_path = record;
      st.connection_rd = std::move(record);
    });
    return Variant();
  }

  Trap(env, tag, [&] { st.connection_rd.clear(); });
  Trap(env, tag, [&] {
    env.registry().DeleteKey(RegistryRoot::kCurrentUser,
                             Text(kDataSourceKey) + InstanceDataSource(st.instance_no));
  });
  std::shared_ptr<DaoEngine> engine;
  Trap(env, tag, [&] { engine = ThreadDaoEngine(env); });
  Trap(env, tag, [&] {
    if (!engine) NoObject();
    st.workspace = engine->CreateWorkspace(kWorkspaceName, u"admin", u"", kDbUseOdbc);
  });
  Trap(env, tag, [&] {
    if (!engine || !st.workspace) NoObject();
    engine->AppendWorkspace(st.workspace);
  });
  Trap(env, tag, [&] {
    if (!engine) NoObject();
    engine->RegisterDatabase(InstanceDataSource(st.instance_no), kDriverName, true,
                             InstanceAttributes(st.db_path));
  });
  return Variant();
}

}  // namespace pellory
