#include "assembly.h"

#include "automation/actions.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    l.do_action_real = &DoActionReal;
    return l;
  }();
  return logic;
}

}  // namespace pellory
