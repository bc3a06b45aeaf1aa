#include "platform/odbc/background_call.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/failure.h"
#include "platform/odbc/odbc_errors.h"

namespace pellory::odbc {
namespace {

std::atomic<long> g_running{0};

}  // namespace

std::shared_ptr<BackgroundCall> BackgroundCall::Start(std::function<void()> call) {
  auto self = std::make_shared<BackgroundCall>();
  ++g_running;
  try {
    std::thread([self, call = std::move(call)]() mutable {
      try {
        call();
      } catch (...) {
        // The call reports its outcome through what it captured.
      }
      call = nullptr;
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->done_ = true;
      }
      self->done_changed_.notify_all();
      self.reset();
      --g_running;
    }).detach();
  } catch (const std::system_error& e) {
    --g_running;
    throw Failure(u"No thread can be started for the driver: " + FromUtf8(e.what()),
                  kOdbcCallFailed);
  }
  return self;
}

bool BackgroundCall::Done() {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

bool BackgroundCall::WaitFor(double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_changed_.wait_for(lock, std::chrono::duration<double>(seconds > 0 ? seconds : 0),
                                [this] { return done_; });
}

void BackgroundCall::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_changed_.wait(lock, [this] { return done_; });
}

long BackgroundCallsRunning() { return g_running.load(); }

}  // namespace pellory::odbc
