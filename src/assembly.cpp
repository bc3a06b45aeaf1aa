#include "assembly.h"

#include "automation/actions.h"
#include "crmdb/crmdb.h"
#include "dialogs/show_dialog.h"
#include "lookup/lookup.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    l.initialize_real = &InitializeReal;
    l.load_real = &LoadReal;
    l.unload_real = &UnloadReal;
    l.check_running = &CheckRunning;
    l.find_real = lookup::FindReal;
    l.get_contact = lookup::GetContact;
    l.cache_record_real = lookup::CacheRecordReal;
    l.do_action_real = &DoActionReal;
    l.show_dialog = &ShowDialog;
    return l;
  }();
  return logic;
}

}  // namespace pellory
