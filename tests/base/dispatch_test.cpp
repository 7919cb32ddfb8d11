#include <gtest/gtest.h>

#include "support/dispatcher_teardown.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;

TEST(Dispatch, UIWorkNeverRunsInlineAndKeepsOrder) {
    ManualExecutor exec;
    std::vector<int> order;
    exec.postUI([&] {
        order.push_back(1);
        exec.postUI([&] { order.push_back(3); });
        order.push_back(2);
    });
    EXPECT_TRUE(order.empty());
    exec.runPending();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Dispatch, TimersFireOnVirtualTimeAndExpireWhenInvalidated) {
    ManualExecutor exec;
    int ticks = 0;
    std::weak_ptr<RepeatingTimer> timer = exec.scheduleRepeating(300ms, [&] {
        ++ticks;
        if (ticks == 3) invalidate(timer);
    });
    const auto start = exec.now();
    exec.advance(299ms);
    EXPECT_EQ(ticks, 0);
    exec.advance(1ms);
    EXPECT_EQ(ticks, 1);
    exec.advance(10s);
    EXPECT_EQ(ticks, 3) << "the third tick invalidated the timer";
    EXPECT_TRUE(timer.expired());
    EXPECT_EQ(exec.liveTimers(), 0u);
    EXPECT_EQ(exec.now() - start, 10300ms);
}

TEST(Dispatch, TimersInterleaveInTimeOrder) {
    ManualExecutor exec;
    std::vector<std::string> log;
    auto a = exec.scheduleRepeating(300ms, [&] { log.push_back("q"); });
    auto b = exec.scheduleRepeating(1000ms, [&] { log.push_back("R"); });
    exec.advance(1000ms);
    EXPECT_EQ(log, (std::vector<std::string>{"q", "q", "q", "R"}));
}

TEST(Dispatch, AManualExecutorGoneWhileAWorkerRunsWaitsForItAndDropsItsUIWork) {
    const auto t = lumora::testing::destroyWhileAWorkerRuns(
        std::make_unique<ManualExecutor>(ManualExecutor::Background::Threads));
    EXPECT_TRUE(t.workerFinished);
    EXPECT_EQ(t.laterBackground, 1) << "a thread started during the teardown is joined too";
    EXPECT_FALSE(t.uiRan);
}
