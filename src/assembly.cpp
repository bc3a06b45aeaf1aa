#include "assembly.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    return l;
  }();
  return logic;
}

}  // namespace pellory
