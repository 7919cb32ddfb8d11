#include "base/timer.h"

#include <algorithm>

namespace lumora {

ScheduledTimer::ScheduledTimer(std::chrono::milliseconds period, Work tick, TimePoint start,
                               Release release)
    : period_(period),
      tick_(std::move(tick)),
      next_(start + period),
      release_(std::move(release)) {}

void ScheduledTimer::invalidate() {
    if (!valid_.exchange(false)) return;
    if (release_) release_(*this);
}

std::shared_ptr<ScheduledTimer> TimerSet::take(const ScheduledTimer* timer) {
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [timer](const auto& t) { return t.get() == timer; });
    if (it == timers_.end()) return nullptr;
    std::shared_ptr<ScheduledTimer> held = std::move(*it);
    timers_.erase(it);
    return held;
}

std::shared_ptr<ScheduledTimer> TimerSet::earliestDue(TimePoint at) const {
    std::shared_ptr<ScheduledTimer> due;
    for (const auto& t : timers_)
        if (t->isDueAt(at) && (!due || t->nextDue() < due->nextDue())) due = t;
    return due;
}

std::optional<TimePoint> TimerSet::nextDue() const {
    std::optional<TimePoint> next;
    for (const auto& t : timers_)
        if (!next || t->nextDue() < *next) next = t->nextDue();
    return next;
}

}  // namespace lumora
