#include "cli/serve/worker_pool.h"

#include <exception>

namespace pellory::cli::serve {
namespace {

thread_local LookupWorker* current_worker = nullptr;
thread_local const std::atomic<size_t>* current_waiting = nullptr;

}  // namespace

WorkerPool::WorkerPool(size_t threads, size_t queue_limit, MakeWorker make)
    : queue_limit_(queue_limit), make_(std::move(make)) {
  for (size_t i = 0; i < threads; ++i) {
    threads_.emplace_back([this] { Run(main_, true); });
  }
  threads_.emplace_back([this] { Run(overflow_, false); });
}

WorkerPool::~WorkerPool() { shutdown(); }

LookupWorker* WorkerPool::Current() { return current_worker; }

bool WorkerPool::ConnectionsWaiting() {
  return current_waiting && current_waiting->load(std::memory_order_relaxed) > 0;
}

void WorkerPool::enqueue(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Queue& queue = main_.jobs.size() < queue_limit_ ? main_ : overflow_;
    queue.jobs.push_back(std::move(fn));
    waiting_ = main_.jobs.size();
  }
  ready_.notify_all();
}

void WorkerPool::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_ && threads_.empty()) return;
    shutdown_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void WorkerPool::Run(Queue& queue, bool with_worker) {
  std::unique_ptr<LookupWorker> worker;
  if (with_worker) {
    try {
      worker = make_();
    } catch (const std::exception&) {
      // Without a worker the thread turns its requests away, as the
      // overflow thread does.
    }
    current_worker = worker.get();
    current_waiting = &waiting_;
  }
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [&] { return shutdown_ || !queue.jobs.empty(); });
      if (queue.jobs.empty()) break;  // shut down, nothing left
      job = std::move(queue.jobs.front());
      queue.jobs.pop_front();
      waiting_ = main_.jobs.size();
    }
    job();
  }
  current_worker = nullptr;
  current_waiting = nullptr;
  worker.reset();
}

}  // namespace pellory::cli::serve
