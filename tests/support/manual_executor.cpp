#include "support/manual_executor.h"

namespace lumora {

ManualExecutor::ManualExecutor(Background bg, TimePoint start)
    : mode_(bg),
      now_(start),
      wallOffset_(WallClock::now().time_since_epoch() -
                  std::chrono::duration_cast<WallClock::duration>(start.time_since_epoch())) {}

void joinAll(std::mutex& mutex, std::vector<std::thread>& threads) {
    for (;;) {
        std::vector<std::thread> taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(threads);
        }
        if (taken.empty()) return;
        for (auto& t : taken) t.join();
    }
}

ManualExecutor::~ManualExecutor() {
    joinAll(mutex_, threads_);
}

void ManualExecutor::postUI(Work work) {
    {
        std::lock_guard lock(mutex_);
        ui_.push_back(std::move(work));
    }
    cv_.notify_all();
}

void ManualExecutor::postBG(Work work) {
    std::lock_guard lock(mutex_);
    if (mode_ == Background::Manual) {
        bg_.push_back(std::move(work));
        return;
    }
    threads_.emplace_back([w = std::move(work)] { w(); });
}

TimePoint ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

WallTime ManualExecutor::wallNow() const {
    std::lock_guard lock(mutex_);
    return WallTime{std::chrono::duration_cast<WallClock::duration>(now_.time_since_epoch()) +
                    wallOffset_};
}

std::weak_ptr<RepeatingTimer> ManualExecutor::scheduleRepeating(std::chrono::milliseconds period,
                                                                Work tick) {
    std::lock_guard lock(mutex_);
    auto timer = std::make_shared<ScheduledTimer>(
        period, std::move(tick), now_, [this](ScheduledTimer& self) { dropTimer(&self); });
    timers_.add(timer);
    return timer;
}

void ManualExecutor::dropTimer(const ScheduledTimer* timer) {
    std::shared_ptr<ScheduledTimer> held;  // let go of outside the lock
    std::lock_guard lock(mutex_);
    held = timers_.take(timer);
}

bool ManualExecutor::runOne() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        if (!ui_.empty()) {
            work = std::move(ui_.front());
            ui_.pop_front();
        } else if (!bg_.empty()) {
            work = std::move(bg_.front());
            bg_.pop_front();
        } else {
            return false;
        }
    }
    work();
    return true;
}

int ManualExecutor::runPending() {
    int ran = 0;
    while (runOne()) ++ran;
    return ran;
}

void ManualExecutor::advance(std::chrono::milliseconds by) {
    TimePoint target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + by;
    }
    runPending();
    for (;;) {
        std::shared_ptr<ScheduledTimer> due;
        {
            std::lock_guard lock(mutex_);
            due = timers_.earliestDue(target);
            if (!due) break;
            // Virtual time fires each tick exactly when it is due.
            now_ = due->nextDue();
            due->fired(now_);
        }
        due->tick();
        runPending();
    }
    {
        std::lock_guard lock(mutex_);
        now_ = target;
    }
    runPending();
}

void ManualExecutor::setWallNow(WallTime t) {
    std::lock_guard lock(mutex_);
    wallOffset_ = t.time_since_epoch() -
                  std::chrono::duration_cast<WallClock::duration>(now_.time_since_epoch());
}

bool ManualExecutor::runUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds realTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        runPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [this] { return !ui_.empty() || !bg_.empty(); })) {
            lock.unlock();
            runPending();
            return done();
        }
    }
}

size_t ManualExecutor::pendingUI() const {
    std::lock_guard lock(mutex_);
    return ui_.size();
}
size_t ManualExecutor::liveTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

}  // namespace lumora
