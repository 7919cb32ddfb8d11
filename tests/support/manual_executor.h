#pragma once
// A dispatcher on virtual time for tests: nothing runs until the test pumps it,
// and timers fire only when the test advances the clock.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/dispatch.h"
#include "base/timer.h"

namespace lumora {

// Joins the threads in `threads`, taken out under `mutex`, until none is
// left: a block still running may start another.
void joinAll(std::mutex& mutex, std::vector<std::thread>& threads);

class ManualExecutor : public Dispatcher {
  public:
    enum class Background {
        Manual,   // BG blocks wait in a queue and run on the test thread when pumped
        Threads,  // BG blocks run on real threads (for tests that do real I/O)
    };

    // The virtual wall clock starts at the real one's time and moves with the
    // virtual clock unless a test sets or steps it.
    explicit ManualExecutor(Background bg = Background::Manual,
                            TimePoint start = TimePoint{} + std::chrono::hours(24 * 365 * 50));
    ~ManualExecutor() override;

    void postUI(Work work) override;
    void postBG(Work work) override;
    TimePoint now() const override;
    WallTime wallNow() const override;
    std::weak_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds period,
                                                    Work tick) override;

    // Runs queued UI (and, in Manual mode, BG) blocks until none are left.
    // Returns how many ran.
    int runPending();
    // Moves the clock forward, firing each due timer at its own time, in order,
    // and running pending work after each firing.
    void advance(std::chrono::milliseconds by);
    // Sets the time of day without moving the interval clock, as when the
    // user or the network time service sets the system clock.
    void setWallNow(WallTime t);
    // Threads mode: pumps UI work until `done()` holds or `realTimeout` of
    // wall time passes. Returns whether `done()` held.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds realTimeout = std::chrono::seconds(10));

    size_t pendingUI() const;
    size_t liveTimers() const;

  private:
    bool runOne();
    void dropTimer(const ScheduledTimer* timer);

    Background mode_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Work> ui_;
    std::deque<Work> bg_;
    TimePoint now_;
    WallClock::duration wallOffset_;  // wall time minus virtual time, since the epochs
    TimerSet timers_;
    std::vector<std::thread> threads_;
};

}  // namespace lumora
