#pragma once
// The program's dispatcher: UI work is queued on the Qt event loop, timers
// wake through single-shot QTimers on the user-interface thread (the shared
// ScheduledTimer keeps the schedule), background work goes to the worker pool.

#include <QObject>
#include <memory>

#include "app/linux/worker_pool.h"
#include "base/dispatch.h"
#include "base/timer.h"

namespace lumora {

class QtExecutor : public Dispatcher {
  public:
    // Create on the user-interface thread, after the QCoreApplication.
    explicit QtExecutor(unsigned workers = 4);
    ~QtExecutor() override;

    void postUI(Work work) override;
    void postBG(Work work) override;
    TimePoint now() const override;
    std::weak_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds period,
                                                    Work tick) override;
    // Timers alive now; for tests and the sleep logic's checks.
    std::size_t timerCount() const { return timers_.size(); }

  private:
    class Timer;
    void drop(const ScheduledTimer* timer);

    // Lives on the user-interface thread; queued calls run in its thread.
    std::unique_ptr<QObject> context_;
    TimerSet timers_;
    // Stopped first by the destructor, so workers finish while the rest exists.
    std::unique_ptr<WorkerPool> pool_;
};

}  // namespace lumora
