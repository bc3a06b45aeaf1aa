#include "assembly.h"

#include "lookup/lookup.h"

namespace pellory {

const SessionLogic& FullSessionLogic() {
  static const SessionLogic logic = [] {
    SessionLogic l;
    l.find_real = lookup::FindReal;
    l.get_contact = lookup::GetContact;
    l.cache_record_real = lookup::CacheRecordReal;
    return l;
  }();
  return logic;
}

}  // namespace pellory
