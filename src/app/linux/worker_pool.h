#pragma once
// A fixed pool of worker threads: the program's shared background queue.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lumora {

class WorkerPool {
public:
    explicit WorkerPool(unsigned threads = 4);
    ~WorkerPool();  // finishes queued work, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // A task that throws is reported on standard error; the pool goes on.
    void post(std::function<void()> work);

private:
    void run();
    static void runGuarded(const std::function<void()>& work);
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace lumora
