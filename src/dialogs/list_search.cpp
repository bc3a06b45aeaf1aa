#include "dialogs/list_search.h"

#include "platform/failure.h"
#include "plugin/trap.h"

namespace pellory {

int16_t ListSearch(Env& env, const Control& list, const Variant& value, bool prefix) {
  int16_t result = -1;
  Trap(env, tags::kListSearch, [&] {
    const bool item_data_mode = value.is_number();
    double number = 0;
    Text wanted;
    if (item_data_mode) {
      number = LeadingNumber(value.ToText(&env.regional()));
    } else {
      wanted = UpperCase(value.ToText(&env.regional()));
    }
    const size_t count = list.list.size();
    // The index is a 16-bit number: a list longer than it can count fails
    // when the search runs past the last index it can hold.
    for (size_t i = 0; i < count; ++i) {
      if (i > 32767) throw Failure(u"Overflow", 6);
      bool match;
      if (item_data_mode) {
        // An entry without item data of its own has 0, as a new list entry does.
        const int32_t data = i < list.item_data.size() ? list.item_data[i] : 0;
        match = data == number;
      } else if (prefix) {
        match = UpperCase(TextView(list.list[i]).substr(0, wanted.size())) == wanted;
      } else {
        match = UpperCase(list.list[i]) == wanted;
      }
      if (match) {
        result = static_cast<int16_t>(i);
        return;
      }
    }
  });
  return result;
}

}  // namespace pellory
