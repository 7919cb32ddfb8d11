#include "app/linux/worker_pool.h"

#include <cstdio>
#include <exception>

namespace lumora {

WorkerPool::WorkerPool(unsigned threads) {
    if (threads == 0) threads = 1;
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    cv_.notify_one();
}

void WorkerPool::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        runGuarded(work);
    }
}

// An exception leaving a thread's function ends the whole process. A task
// that throws is a fault in that task alone: say so and take the next one.
void WorkerPool::runGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumora: a background task failed: %s\n", e.what());
    } catch (...) {
        std::fputs("lumora: a background task failed with an unknown exception\n", stderr);
    }
}

}  // namespace lumora
