#include "dialogs/interim_settings.h"

#include "platform/failure.h"
#include "plugin/trap.h"

namespace pellory {

Variant RegistryGet(Env& env, TextView key, TextView name, const Variant& fallback,
                    RegistryRoot root) {
  Variant result = fallback;
  Trap(env, u" @ basGlobal.RegistryGet", [&] {
    if (env.registry().OpenKey(root, key) == Registry::OpenResult::kNotFound) {
      result = Variant(fallback.ToText(&env.regional()));
      return;
    }
    auto text = env.registry().QueryString(root, key, name, 2000);
    result = text ? Variant(*text) : Variant(fallback.ToText(&env.regional()));
  });
  return result;
}

Text FilePath(Env& env, TextView path) {
  Text result;
  Trap(env, u" @ basGlobal.FilePath", [&] {
    if (Trim(path).empty()) return;
    size_t slash = path.find_last_of(u"\\/");
    if (slash == TextView::npos) throw Failure(u"Invalid procedure call or argument", 5);
    result = Text(path.substr(0, slash));
  });
  return result;
}

}  // namespace pellory
