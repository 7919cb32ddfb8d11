#include "app/linux/loop_dispatcher.h"

#include <algorithm>

namespace lumora {

class LoopDispatcher::Timer : public RepeatingTimer {
public:
    Timer(LoopDispatcher* owner, std::chrono::milliseconds period, Work tick)
        : owner_(owner), period_(period), tick_(std::move(tick)),
          next_(std::chrono::steady_clock::now() + period) {}
    void invalidate() override {
        if (!valid_) return;
        valid_ = false;
        owner_->dropTimer(this);
    }
    bool isValid() const override { return valid_; }

    LoopDispatcher* owner_;
    std::chrono::milliseconds period_;
    Work tick_;
    std::chrono::steady_clock::time_point next_;
    bool valid_ = true;
};

LoopDispatcher::LoopDispatcher(unsigned workers) : pool_(std::make_unique<WorkerPool>(workers)) {}

LoopDispatcher::~LoopDispatcher() { pool_.reset(); }

void LoopDispatcher::postUI(Work work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    cv_.notify_all();
}

void LoopDispatcher::postBG(Work work) { pool_->post(std::move(work)); }

TimePoint LoopDispatcher::now() const { return Clock::now(); }

std::weak_ptr<RepeatingTimer> LoopDispatcher::scheduleRepeating(std::chrono::milliseconds period,
                                                                Work tick) {
    auto t = std::make_shared<Timer>(this, period, std::move(tick));
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(t);
    }
    cv_.notify_all();
    return t;
}

void LoopDispatcher::dropTimer(Timer* t) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [t](const auto& x) { return x.get() == t; });
}

void LoopDispatcher::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
}

bool LoopDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        Work work;
        std::shared_ptr<Timer> due;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                if (quit_) return done();
                if (!queue_.empty()) {
                    work = std::move(queue_.front());
                    queue_.pop_front();
                    break;
                }
                auto wake = deadline;
                const auto nowSteady = std::chrono::steady_clock::now();
                for (auto& t : timers_) {
                    if (t->next_ <= nowSteady && (!due || t->next_ < due->next_)) due = t;
                    wake = std::min(wake, t->next_);
                }
                if (due) {
                    // Counted from this firing: a tick that comes late on a
                    // busy machine pushes the next one back instead of
                    // catching up, so two ticks (two queued commands) are
                    // never closer than the period.
                    due->next_ = nowSteady + due->period_;
                    break;
                }
                if (nowSteady >= deadline) return done();
                cv_.wait_until(lock, wake);
            }
        }
        if (work) work();
        if (due) due->tick_();
    }
}

}  // namespace lumora
