// The system registry: the CRM application's own values and the ODBC data
// source list. Key paths use "\" as separator, as on Windows.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace pellory {

enum class RegistryRoot { kCurrentUser, kLocalMachine };

class Registry {
 public:
  enum class OpenResult { kOk, kNotFound, kError };

  virtual ~Registry() = default;
  // Whether the key can be opened; kNotFound stands for system error 2.
  virtual OpenResult OpenKey(RegistryRoot root, TextView key) = 0;
  // A 4-byte number value; nullopt when absent or not a number.
  virtual std::optional<int32_t> QueryDword(RegistryRoot root, TextView key, TextView name) = 0;
  // A text value that fits `max_bytes` (terminating NUL included, in the
  // system's ANSI code page); nullopt when absent, not text, or too long.
  virtual std::optional<Text> QueryString(RegistryRoot root, TextView key, TextView name,
                                          size_t max_bytes) = 0;
  // Deletes a key that has no subkeys; false when it could not be deleted.
  virtual bool DeleteKey(RegistryRoot root, TextView key) = 0;
  virtual void SetString(RegistryRoot root, TextView key, TextView name, TextView value) = 0;
  virtual void SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) = 0;
};

}  // namespace pellory
