#include "assembly.h"

#include "automation/actions.h"
#include "crmdb/crmdb.h"
#include "dialogs/show_dialog.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    l.initialize_real = &InitializeReal;
    l.load_real = &LoadReal;
    l.unload_real = &UnloadReal;
    l.check_running = &CheckRunning;
    l.do_action_real = &DoActionReal;
    l.show_dialog = &ShowDialog;
    return l;
  }();
  return logic;
}

}  // namespace pellory
