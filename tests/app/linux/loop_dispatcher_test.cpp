#include "app/linux/loop_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/dispatcher_teardown.h"

using namespace lumora;
using namespace std::chrono_literals;

TEST(Dispatch, LoopDispatcherRunsWorkersAndTimersForReal) {
    auto loop = std::make_shared<LoopDispatcher>(2);
    std::atomic<int> fromWorker{0};
    int ticks = 0;
    loop->postBG([&] { loop->postUI([&] { fromWorker = 1; }); });
    auto t = loop->scheduleRepeating(10ms, [&] { ++ticks; });
    EXPECT_TRUE(loop->runUntil([&] { return fromWorker == 1 && ticks >= 3; }, 5s));
    invalidate(t);
}

TEST(Dispatch, ALoopDispatcherGoneWhileAWorkerRunsWaitsForItAndDropsItsUIWork) {
    const auto t = lumora::testing::destroyWhileAWorkerRuns(std::make_unique<LoopDispatcher>(1));
    EXPECT_TRUE(t.workerFinished);
    EXPECT_EQ(t.laterBackground, 1) << "queued work still runs before the pool closes";
    EXPECT_FALSE(t.uiRan);
}

TEST(Dispatch, ALateTickPushesTheNextOneBackInsteadOfCatchingUp) {
    // The queue timer paces commands: two ticks must never come closer than
    // the period, also after the loop was held up.
    LoopDispatcher loop(1);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    auto t = loop.scheduleRepeating(100ms, [&] {
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 1) std::this_thread::sleep_for(150ms);  // a busy UI thread
    });
    EXPECT_TRUE(loop.runUntil([&] { return ticks.size() >= 4; }, 5s));
    invalidate(t);
    // Catching up would bring the third tick 50 ms after the second. The
    // allowance is for the moment between the loop's decision and the tick's
    // own look at the clock.
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i] - ticks[i - 1], 90ms) << "tick " << i;
}
