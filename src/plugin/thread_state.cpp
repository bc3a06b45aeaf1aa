#include "plugin/thread_state.h"

namespace pellory {

ThreadState& ThreadState::Current() {
  thread_local ThreadState state;
  return state;
}

int ThreadState::TakeInstanceNumber() {
  int number = static_cast<int>(held_.size()) + 1;
  if (!held_.empty() && *held_.rbegin() != static_cast<int>(held_.size())) {
    number = 1;  // a gap below the highest: find the first
    for (int n : held_) {
      if (n != number) break;
      ++number;
    }
  }
  held_.insert(number);
  return number;
}

}  // namespace pellory
