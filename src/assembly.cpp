#include "assembly.h"

#include "dialogs/show_dialog.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    l.show_dialog = &ShowDialog;
    return l;
  }();
  return logic;
}

}  // namespace pellory
