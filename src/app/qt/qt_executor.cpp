#include "app/qt/qt_executor.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

namespace lumora {

// The QTimer only wakes the loop; the schedule is the shared one, so a tick
// that comes late pushes the next one back here as in the other dispatchers.
class QtExecutor::Timer : public ScheduledTimer {
  public:
    Timer(QtExecutor* owner, std::chrono::milliseconds period, Work tick)
        : ScheduledTimer(period, std::move(tick), Clock::now(), [owner](ScheduledTimer& self) {
              static_cast<Timer&>(self).timer_.stop();
              owner->drop(&self);
          }) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { wake(); });
    }
    void start(const std::shared_ptr<Timer>& self) {
        keep_ = self;
        arm();
    }

  private:
    void wake() {
        // The tick may invalidate this very timer; keep it alive meanwhile.
        auto self = keep_.lock();
        const TimePoint at = Clock::now();
        // A coarse timer may wake a little early: wait out the rest.
        if (isDueAt(at)) {
            fired(at);
            tick();
        }
        if (isValid()) arm();
    }
    void arm() {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextDue() - Clock::now());
        timer_.start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
    }

    QTimer timer_;
    std::weak_ptr<Timer> keep_;
};

QtExecutor::QtExecutor(unsigned workers)
    : context_(std::make_unique<QObject>()), pool_(std::make_unique<WorkerPool>(workers)) {}

// Stopped, not reset: a worker may still post while the pool waits for it.
QtExecutor::~QtExecutor() {
    pool_->stop();
    for (const auto& t : timers_.takeAll()) t->invalidate();
}

void QtExecutor::postUI(Work work) {
    // Queued, never inline, also from the user-interface thread itself.
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

void QtExecutor::postBG(Work work) {
    pool_->post(std::move(work));
}

TimePoint QtExecutor::now() const {
    return Clock::now();
}

std::weak_ptr<RepeatingTimer> QtExecutor::scheduleRepeating(std::chrono::milliseconds period,
                                                            Work tick) {
    auto timer = std::make_shared<Timer>(this, period, std::move(tick));
    timer->start(timer);
    timers_.add(timer);
    return timer;
}

void QtExecutor::drop(const ScheduledTimer* timer) {
    // Released on a later turn: the timer may be inside its own tick.
    std::shared_ptr<ScheduledTimer> held = timers_.take(timer);
    if (!held) return;
    QMetaObject::invokeMethod(
        context_.get(), [held] {}, Qt::QueuedConnection);
}

}  // namespace lumora
