#include "app/qt/qt_executor.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

namespace lumora {

class QtExecutor::Timer : public RepeatingTimer {
  public:
    Timer(QtExecutor* owner, std::chrono::milliseconds period, Work tick) : owner_(owner) {
        timer_.setInterval(static_cast<int>(period.count()));
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this, tick = std::move(tick)] {
            // The tick may invalidate this very timer; keep it alive meanwhile.
            auto self = keep_.lock();
            tick();
        });
    }
    void start(const std::shared_ptr<Timer>& self) {
        keep_ = self;
        timer_.start();
    }
    void invalidate() override {
        if (!valid_) return;
        valid_ = false;
        timer_.stop();
        owner_->drop(this);
    }
    bool isValid() const override { return valid_; }

  private:
    QtExecutor* owner_;
    QTimer timer_;
    std::weak_ptr<Timer> keep_;
    bool valid_ = true;
};

QtExecutor::QtExecutor(unsigned workers)
    : context_(std::make_unique<QObject>()), pool_(std::make_unique<WorkerPool>(workers)) {}

QtExecutor::~QtExecutor() {
    pool_.reset();
    const auto timers = std::move(timers_);
    for (const auto& t : timers) t->invalidate();
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
    timers_.push_back(timer);
    return timer;
}

void QtExecutor::drop(Timer* timer) {
    // Released on a later turn: the timer may be inside its own tick.
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [timer](const auto& t) { return t.get() == timer; });
    if (it == timers_.end()) return;
    std::shared_ptr<Timer> held = *it;
    timers_.erase(it);
    QMetaObject::invokeMethod(
        context_.get(), [held] {}, Qt::QueuedConnection);
}

}  // namespace lumora
