// The trap helper. Every procedure runs its steps through Trap: a step that
// fails writes "<description><tag>" to the trace log and the procedure goes
// on with its next step. Nothing is rethrown.
#pragma once

#include <exception>
#include <new>

#include "platform/failure.h"
#include "plugin/trace_log.h"
#include "plugin/trace_tags.h"

namespace pellory {

// The description of the exception in flight.
Text DescribeCurrentException();

// Runs `step`; returns false (after logging) when it failed.
template <typename Step>
bool Trap(Env& env, TextView tag, Step&& step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    Text message;
    try {
      message = DescribeCurrentException();
      message += tag;
    } catch (...) {
    }
    LogError(env, message);
    return false;
  }
}

// As Trap, and the failure's description is also kept in `*failure` (the
// first one only: a later step's failure does not replace it).
template <typename Step>
bool TrapKeeping(Env& env, TextView tag, Text* failure, Step&& step) noexcept {
  return Trap(env, tag, [&] {
    try {
      step();
    } catch (...) {
      if (failure->empty()) {
        try {
          *failure = DescribeCurrentException();
        } catch (...) {
        }
      }
      throw;
    }
  });
}

}  // namespace pellory
