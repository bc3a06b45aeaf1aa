#include "platform/odbc/fault_injection.h"

#include <atomic>
#include <mutex>

namespace pellory::odbc {
namespace {

std::atomic<bool> armed{false};
std::mutex mutex;
int countdown = 0;
int calls = 0;
bool fired = false;
bool pending = false;
std::u16string injected_state;

}  // namespace

void FaultInjection::Arm(int nth, const std::string& state) {
  std::lock_guard<std::mutex> lock(mutex);
  countdown = nth;
  calls = 0;
  fired = pending = false;
  injected_state.assign(state.begin(), state.end());
  armed = true;
}

void FaultInjection::Disarm() {
  std::lock_guard<std::mutex> lock(mutex);
  armed = false;
  pending = false;
}

bool FaultInjection::Fired() {
  std::lock_guard<std::mutex> lock(mutex);
  return fired;
}

int FaultInjection::Calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return calls;
}

bool FaultInjection::FailThisCall() {
  if (!armed.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> lock(mutex);
  if (fired) return false;
  if (++calls != countdown) return false;
  fired = pending = true;
  return true;
}

bool FaultInjection::TakeDiagnostic(std::u16string* text, std::u16string* state) {
  if (!armed.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!pending) return false;
  pending = false;
  *state = injected_state;
  *text = injected_state + u": [Pellory fault injection] the connection to the server was lost";
  return true;
}

}  // namespace pellory::odbc
