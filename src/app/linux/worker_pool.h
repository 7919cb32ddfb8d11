#pragma once
// The program's shared background queue: a few resident worker threads, and
// more while every one of them is busy.
//
// Most background work blocks for a long time (a read waits up to 4 s,
// pairing 60 s, discovery over a minute). A fixed pool would let a slow bridge
// hold every worker, so the commands the queue sends 0.3 s apart would wait
// behind the reads and then leave in a burst. Instead a task posted while no
// worker is idle gets a new worker at once, up to `maxThreads`; workers above
// the resident number end after `idleRetire` without work.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace lumora {

class WorkerPool {
  public:
    static constexpr unsigned kMaxThreads = 64;
    static constexpr std::chrono::milliseconds kIdleRetire{10000};

    explicit WorkerPool(unsigned threads = 4, unsigned maxThreads = kMaxThreads,
                        std::chrono::milliseconds idleRetire = kIdleRetire);
    ~WorkerPool();  // stop()
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts `work` on an idle worker, else on a new one while fewer than
    // `maxThreads` exist, else queues it. A task that throws is reported on
    // standard error; the pool goes on.
    void post(std::function<void()> work);

    // Finishes queued work, including what the tasks post meanwhile, and
    // joins every worker. The pool stays usable for posting: its owner's
    // workers may still post while it stops; what arrives after is dropped.
    void stop();

    // Workers alive now (busy or idle); for tests and diagnostics.
    std::size_t threadCount() const;

  private:
    void spawnLocked();
    void run();
    void joinRetired();
    static void runGuarded(const std::function<void()>& work);

    const unsigned resident_;
    const unsigned max_;
    const std::chrono::milliseconds idleRetire_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::size_t idle_ = 0;  // workers waiting for a task
    bool stopping_ = false;
    std::map<std::thread::id, std::thread> threads_;
    // Workers that have retired and are ending; joined by the next post or the destructor.
    std::vector<std::thread> retired_;
};

}  // namespace lumora
