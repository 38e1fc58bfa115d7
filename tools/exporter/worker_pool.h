// A fixed set of threads that run batches of tasks: the exporter reads different devices at
// once, but never with more threads than it was given, however many scrapes arrive together.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace crvmon::exporter {

class WorkerPool {
  public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs every task on the pool and returns when all have ended. Tasks must not throw.
    void runAll(std::vector<std::function<void()>> tasks);

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace crvmon::exporter
