#pragma once
// The part of a repeating timer that every dispatcher shares: its period, its
// tick, when it is next due and whether it is still valid. A dispatcher adds
// only its own way of waiting (the loop's condition variable, a QTimer, the
// tests' virtual clock) and lets go of the timer when it is invalidated.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/dispatch.h"

namespace lumora {

class ScheduledTimer : public RepeatingTimer {
  public:
    // Called once, from the first invalidate(): the owner drops the timer.
    using Release = std::function<void(ScheduledTimer&)>;

    // The first tick is due one period after `start`.
    ScheduledTimer(std::chrono::milliseconds period, Work tick, TimePoint start, Release release);

    void invalidate() final;
    bool isValid() const final { return valid_; }

    std::chrono::milliseconds period() const { return period_; }
    TimePoint nextDue() const { return next_; }
    bool isDueAt(TimePoint at) const { return next_ <= at; }
    // Records a tick fired at `at`. The next is counted from this firing: a
    // tick that came late on a busy machine pushes the next one back instead
    // of letting it catch up, so two ticks are never closer than the period.
    void fired(TimePoint at) { next_ = at + period_; }
    void tick() const { tick_(); }

  private:
    std::chrono::milliseconds period_;
    Work tick_;
    TimePoint next_;
    Release release_;
    std::atomic<bool> valid_{true};
};

// The timers a dispatcher owns until each is invalidated. It takes no lock:
// the dispatcher guards it as it guards the rest of its state.
class TimerSet {
  public:
    void add(std::shared_ptr<ScheduledTimer> timer) { timers_.push_back(std::move(timer)); }
    // Removes `timer` and hands it back (null when it was not here).
    std::shared_ptr<ScheduledTimer> take(const ScheduledTimer* timer);
    std::vector<std::shared_ptr<ScheduledTimer>> takeAll() { return std::move(timers_); }
    // The due timer with the earliest due time (the first added among
    // equals), or null when none is due at `at`.
    std::shared_ptr<ScheduledTimer> earliestDue(TimePoint at) const;
    // When the next timer is due, if there is one.
    std::optional<TimePoint> nextDue() const;
    std::size_t size() const { return timers_.size(); }

  private:
    std::vector<std::shared_ptr<ScheduledTimer>> timers_;
};

}  // namespace lumora
