#include "app/linux/loop_dispatcher.h"

#include <algorithm>

namespace lumora {

LoopDispatcher::LoopDispatcher(unsigned workers) : pool_(std::make_unique<WorkerPool>(workers)) {}

// Stopped, not reset: a worker may still post while the pool waits for it.
LoopDispatcher::~LoopDispatcher() {
    pool_->stop();
}

void LoopDispatcher::postUI(Work work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    cv_.notify_all();
}

void LoopDispatcher::postBG(Work work) {
    pool_->post(std::move(work));
}

TimePoint LoopDispatcher::now() const {
    return Clock::now();
}

std::weak_ptr<RepeatingTimer> LoopDispatcher::scheduleRepeating(std::chrono::milliseconds period,
                                                                Work tick) {
    auto t = std::make_shared<ScheduledTimer>(period, std::move(tick), Clock::now(),
                                              [this](ScheduledTimer& self) { dropTimer(&self); });
    {
        std::lock_guard lock(mutex_);
        timers_.add(t);
    }
    cv_.notify_all();
    return t;
}

void LoopDispatcher::dropTimer(const ScheduledTimer* t) {
    std::shared_ptr<ScheduledTimer> held;  // let go of outside the lock
    std::lock_guard lock(mutex_);
    held = timers_.take(t);
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
        std::shared_ptr<ScheduledTimer> due;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                if (quit_) return done();
                if (!queue_.empty()) {
                    work = std::move(queue_.front());
                    queue_.pop_front();
                    break;
                }
                const auto nowSteady = Clock::now();
                due = timers_.earliestDue(nowSteady);
                if (due) {
                    due->fired(nowSteady);
                    break;
                }
                if (nowSteady >= deadline) return done();
                cv_.wait_until(lock, std::min(deadline, timers_.nextDue().value_or(deadline)));
            }
        }
        if (work) work();
        if (due) due->tick();
    }
}

}  // namespace lumora
