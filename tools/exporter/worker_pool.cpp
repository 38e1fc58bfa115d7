#include "tools/exporter/worker_pool.h"

#include <algorithm>
#include <memory>

namespace crvmon::exporter {

WorkerPool::WorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::runAll(std::vector<std::function<void()>> tasks) {
    struct Batch {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t left = 0;
    };
    auto batch = std::make_shared<Batch>();
    batch->left = tasks.size();
    {
        const std::lock_guard lock(mutex_);
        for (auto& task : tasks) {
            queue_.push_back([batch, task = std::move(task)] {
                task();
                const std::lock_guard batchLock(batch->mutex);
                if (--batch->left == 0) batch->done.notify_all();
            });
        }
    }
    queued_.notify_all();
    std::unique_lock lock(batch->mutex);
    batch->done.wait(lock, [&] { return batch->left == 0; });
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

}  // namespace crvmon::exporter
