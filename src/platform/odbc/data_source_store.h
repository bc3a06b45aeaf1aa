// The driver manager's data sources as a keyed store: what a registry
// adapter needs to present "Software\ODBC\ODBC.INI" on systems where the
// data sources do not live in a registry. `system` picks the system-wide
// sources; otherwise the current user's.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/text.h"

namespace pellory {

class DataSourceStore {
 public:
  virtual ~DataSourceStore() = default;
  virtual std::vector<Text> Names(bool system) = 0;
  virtual bool Exists(bool system, TextView dsn) = 0;
  // The source's driver; nullopt when the source does not exist.
  virtual std::optional<Text> Driver(bool system, TextView dsn) = 0;
  // One attribute of a source; nullopt when the source or attribute is absent.
  virtual std::optional<Text> Value(bool system, TextView dsn, TextView key) = 0;
  // Removes the source; false when it did not exist or could not be removed.
  virtual bool Remove(bool system, TextView dsn) = 0;
  // Writes one attribute, creating the source when needed. Throws Failure.
  virtual void SetValue(bool system, TextView dsn, TextView key, TextView value) = 0;
};

}  // namespace pellory
