#pragma once
// Moving work between the user-interface thread and the worker pool, and the
// clock and repeating timers the application runs on. Each program makes one
// Dispatcher and hands it to whoever needs it, so tests can run on virtual time.

#include <chrono>
#include <functional>
#include <memory>

namespace lumora {

// Intervals and timers: this clock never steps when the wall clock is set.
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
// The time of day, only for what means it: the scene refresh's minutes.
using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;
using Work = std::function<void()>;

// A repeating timer owned by its dispatcher. Holders keep a std::weak_ptr,
// which expires once the timer is invalidated.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

// A dispatcher outlives the work it runs: its destructor waits for the
// background blocks still running, which may post to it until they end (what
// they queue in the background runs, what they post to the UI thread is
// dropped). So a block may hold the dispatcher that runs it by reference; a
// thread of its own holds a std::shared_ptr. Destroy it on its owner's thread.
class Dispatcher {
  public:
    virtual ~Dispatcher() = default;
    // Queue on the user-interface thread; never runs inline.
    virtual void postUI(Work work) = 0;
    // Queue on the worker pool; no ordering between blocks.
    virtual void postBG(Work work) = 0;
    virtual TimePoint now() const = 0;
    virtual WallTime wallNow() const { return WallClock::now(); }
    // Schedules `tick` on the user-interface thread every `period`. The
    // dispatcher owns the timer until it is invalidated.
    virtual std::weak_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds period,
                                                            Work tick) = 0;
};

// Invalidates the timer behind `timer` if it is still alive.
void invalidate(std::weak_ptr<RepeatingTimer>& timer);

}  // namespace lumora
