// Blocking driver calls that the caller may stop waiting for.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace pellory::odbc {

// A call made on a thread of its own. The call keeps what it works on alive
// through the shared references it captured, so its caller may walk away at
// any time: what the call holds is then released on the call's own thread
// once the driver returns, however late that is.
class BackgroundCall {
 public:
  // Starts `call` on a new thread. Throws Failure when no thread can be
  // started.
  static std::shared_ptr<BackgroundCall> Start(std::function<void()> call);

  // True once the call has returned and released what it captured.
  bool Done();
  // Waits until the call is done or `seconds` have passed; true when done.
  bool WaitFor(double seconds);
  void Wait();

 private:
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
};

// Background calls whose threads are still running (a module that holds
// their code must stay loaded while there are any).
long BackgroundCallsRunning();

}  // namespace pellory::odbc
