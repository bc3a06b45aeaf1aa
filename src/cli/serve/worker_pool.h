// The threads that answer `pellory serve`'s connections: each owns a
// LookupWorker, made on the thread itself when it starts and destroyed there
// when the pool shuts down. Connections beyond what the queue holds go to an
// overflow thread that has no worker: its requests are turned away at once.
#pragma once

#include <httplib.h>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/serve/lookup_worker.h"

namespace pellory::cli::serve {

class WorkerPool final : public httplib::TaskQueue {
 public:
  using MakeWorker = std::function<std::unique_ptr<LookupWorker>()>;

  WorkerPool(size_t threads, size_t queue_limit, MakeWorker make);
  ~WorkerPool() override;

  void enqueue(std::function<void()> fn) override;
  // Runs what is queued, then ends the threads.
  void shutdown() override;

  // The worker of the calling thread; null on a thread of no pool (the
  // overflow thread).
  static LookupWorker* Current();

  // Whether connections wait for a worker of the calling thread's pool
  // (false on a thread of no pool). A connection keeps its worker for as
  // long as it is kept alive: the answer that says "Connection: close"
  // while others wait hands the worker on to them.
  static bool ConnectionsWaiting();

 private:
  struct Queue {
    std::deque<std::function<void()>> jobs;
  };
  void Run(Queue& queue, bool with_worker);

  const size_t queue_limit_;
  MakeWorker make_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool shutdown_ = false;
  Queue main_, overflow_;
  std::atomic<size_t> waiting_{0};  // main_.jobs.size(), read without the lock
  std::vector<std::thread> threads_;
};

}  // namespace pellory::cli::serve
