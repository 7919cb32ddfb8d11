#include "app/linux/worker_pool.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace lumora {

WorkerPool::WorkerPool(unsigned threads, unsigned maxThreads, std::chrono::milliseconds idleRetire)
    : resident_(std::max(threads, 1u)),
      max_(std::max(maxThreads, std::max(threads, 1u))),
      idleRetire_(idleRetire) {
    std::lock_guard lock(mutex_);
    for (unsigned i = 0; i < resident_; ++i) spawnLocked();
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    // No worker starts or retires once stopping: the sets are final.
    std::map<std::thread::id, std::thread> threads;
    std::vector<std::thread> retired;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
        retired.swap(retired_);
    }
    for (auto& [id, t] : threads) t.join();
    for (auto& t : retired) t.join();
}

// Called with the lock held: the new thread's first step takes the lock, so
// it finds itself in threads_.
void WorkerPool::spawnLocked() {
    std::thread t([this] { run(); });
    const auto id = t.get_id();
    threads_.emplace(id, std::move(t));
}

void WorkerPool::post(std::function<void()> work) {
    joinRetired();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        // Every idle worker is already spoken for by the tasks queued before.
        if (!stopping_ && queue_.size() > idle_ && threads_.size() < max_) spawnLocked();
    }
    cv_.notify_one();
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

void WorkerPool::joinRetired() {
    std::vector<std::thread> retired;
    {
        std::lock_guard lock(mutex_);
        retired.swap(retired_);
    }
    // A retired worker has left run() or is about to: joining is brief.
    for (auto& t : retired) t.join();
}

void WorkerPool::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto ready = [this] { return stopping_ || !queue_.empty(); };
        ++idle_;
        // Only a worker above the resident number may retire, so only such
        // a one waits with a limit.
        const bool extra = threads_.size() > resident_;
        bool woken = true;
        if (extra)
            woken = cv_.wait_for(lock, idleRetire_, ready);
        else
            cv_.wait(lock, ready);
        --idle_;
        if (queue_.empty()) {
            if (stopping_) return;
            if (!woken && threads_.size() > resident_) {
                // Hands its own handle over to be joined from another thread.
                auto self = threads_.find(std::this_thread::get_id());
                retired_.push_back(std::move(self->second));
                threads_.erase(self);
                return;
            }
            continue;
        }
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        runGuarded(work);
        // Whatever the task captured is released outside the lock: its
        // destructors may post.
        work = nullptr;
        lock.lock();
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
