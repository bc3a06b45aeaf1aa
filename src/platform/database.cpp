#include "platform/database.h"

#include "platform/failure.h"

namespace pellory {

const Text& ResultSet::Field(TextView name) {
  int index = ColumnIndex(name);
  if (index < 0) throw Failure(u"Item not found in this collection.", 3265);
  return Value(index);
}

}  // namespace pellory
