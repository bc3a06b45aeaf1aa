#include "crmdb/crmdb.h"

#include "plugin/records.h"
#include "plugin/trap.h"

namespace pellory {

bool CheckRunning(Session& session, bool& start) {
  using namespace crmdb;
  Env& env = session.env();
  SessionState& st = session.state();
  const TextView tag = tags::kCheckRunning;

  if (start) {
    // The attach object lives only for this call.
    std::shared_ptr<AutoObject> attach;
    Trap(env, tag,
         [&] { attach = env.automation().CreateObject(u"Maximizer.AttachToCurrentInstance"); });
    Trap(env, tag, [&] {
      if (!attach) throw Failure(u"Object variable or With block variable not set", 91);
      Variant app = attach->Invoke(u"GetApplicationObject", {});
      if (!app.is_object()) throw Failure(u"Object required", 424);
      st.app = app.object_as<AutoObject>();
    });
  }
  bool result = st.app != nullptr;

  Trap(env, tag, [&] {
    Text path = GetText(env, st.user_rd, u"DBFile");
    if (path.empty()) {
      path = RegistryGet(env, kMultiactiveStartup, u"Address Book Path", Variant(),
                         RegistryRoot::kCurrentUser)
                 .ToText(&env.regional());
    }
    if (path.empty()) {
      path =
          RegistryGet(env, kMaximizerStartup, u"DefDirPath", Variant(), RegistryRoot::kCurrentUser)
              .ToText(&env.regional());
    }
    if (path.empty()) path = GetText(env, st.data_rd, u"dbFile", Variant(kDefaultDataPath));
    st.db_path = std::move(path);
  });
  Trap(env, tag, [&] {
    Text user = GetText(env, st.user_rd, u"DBUser");
    if (user.empty()) {
      user = RegistryGet(env, kMaximizerStartup, u"Last User", Variant(u"MASTER"),
                         RegistryRoot::kCurrentUser)
                 .ToText(&env.regional());
    }
    st.db_user = std::move(user);
  });
  Trap(env, tag, [&] {
    Variant fallback(UpperCase(st.db_user) == u"MASTER" ? u"KESTREL" : u"");
    st.db_password = GetText(env, st.user_rd, u"DBPwd", fallback);
  });
  return result;
}

}  // namespace pellory
