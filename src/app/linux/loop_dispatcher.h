#pragma once
// The dispatcher of programs without a toolkit (lumora-ctl): the calling
// thread runs the user-interface loop, blocking work goes to a worker pool.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "app/linux/worker_pool.h"
#include "base/dispatch.h"
#include "base/timer.h"

namespace lumora {

class LoopDispatcher : public Dispatcher {
  public:
    explicit LoopDispatcher(unsigned workers = 4);
    ~LoopDispatcher() override;

    void postUI(Work work) override;
    void postBG(Work work) override;
    TimePoint now() const override;
    std::weak_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds period,
                                                    Work tick) override;

    // Runs the loop on the calling thread until `done()` holds (checked after
    // each block and timer tick) or `limit` passes. Returns whether done.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    void quit();

  private:
    void dropTimer(const ScheduledTimer* t);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Work> queue_;
    TimerSet timers_;
    bool quit_ = false;
    // Stopped first by the destructor, so workers finish while the queue still exists.
    std::unique_ptr<WorkerPool> pool_;
};

}  // namespace lumora
