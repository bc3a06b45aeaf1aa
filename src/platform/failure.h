// The one exception type of the core. Ports throw it; the trap helper catches
// it at the step that failed and writes its description to the trace log.
#pragma once

#include <exception>
#include <string>

#include "platform/text.h"

namespace pellory {

class Failure : public std::exception {
 public:
  explicit Failure(Text description, long number = 0)
      : description_(std::move(description)), number_(number), what_(ToUtf8(description_)) {}

  const Text& description() const { return description_; }
  long number() const { return number_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  Text description_;
  long number_;
  std::string what_;
};

}  // namespace pellory
