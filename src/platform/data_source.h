// The data sources a database engine offers for SQL mode, as a prompt lists
// them, and the login test a prompt runs before it accepts a choice.
#pragma once

#include <functional>
#include <optional>

#include "platform/text.h"

namespace pellory {

// One data source as the driver manager lists it.
struct DataSourceInfo {
  Text name;
  Text driver;
  Text description;
  bool system = false;  // a system-wide source; otherwise the user's own
};

// Tries a login with a connect string: nullopt when the data source
// accepts it, else the reason it gave.
using LoginCheck = std::function<std::optional<Text>(TextView connect)>;

}  // namespace pellory
