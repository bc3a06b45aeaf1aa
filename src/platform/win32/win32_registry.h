// The Windows registry through its ANSI calls: names and texts go through
// the system's ANSI code page, as the CRM application's own values do.
#pragma once

#include "platform/registry.h"

namespace pellory {

class Win32Registry : public Registry {
 public:
  OpenResult OpenKey(RegistryRoot root, TextView key) override;
  std::optional<int32_t> QueryDword(RegistryRoot root, TextView key, TextView name) override;
  // Reads into a buffer of exactly `max_bytes`: a longer value is absent.
  std::optional<Text> QueryString(RegistryRoot root, TextView key, TextView name,
                                  size_t max_bytes) override;
  bool DeleteKey(RegistryRoot root, TextView key) override;
  // Create the key when needed; failures throw Failure with the system's
  // message and error number.
  void SetString(RegistryRoot root, TextView key, TextView name, TextView value) override;
  void SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) override;
};

}  // namespace pellory
