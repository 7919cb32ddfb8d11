// The background pool: blocked workers never hold back a new task, extra
// workers go again, and the pool still drains and survives throwing tasks.
#include "app/linux/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/eventually.h"

using namespace lumora;
using lumora::testing::eventually;
using namespace std::chrono_literals;

namespace {

// Tasks that block until the test opens the gate, as a read from a silent
// bridge does until its time-out.
// The blocked tasks hold their own share of it, so the gate may go first.
class Gate {
  public:
    std::function<void()> blocker() {
        return [opened = opened_, entered = entered_] {
            ++*entered;
            opened.wait();
        };
    }
    void open() { open_.set_value(); }
    int entered() const { return *entered_; }

  private:
    std::promise<void> open_;
    std::shared_future<void> opened_ = open_.get_future().share();
    std::shared_ptr<std::atomic<int>> entered_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace

TEST(WorkerPool, ATaskStartsWhileEveryWorkerIsBlocked) {
    Gate gate;
    WorkerPool pool(2);
    pool.post(gate.blocker());
    pool.post(gate.blocker());
    pool.post(gate.blocker());
    std::promise<void> ran;
    pool.post([&] { ran.set_value(); });
    // The gate is still shut: the last task can only run on a worker of its own.
    EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(eventually([&] { return gate.entered() == 3; }));
    // A post that comes before a resident worker is waiting may add one more.
    EXPECT_GE(pool.threadCount(), 4u);
    EXPECT_LE(pool.threadCount(), 6u);
    gate.open();
}

TEST(WorkerPool, BeyondTheCapTasksWaitForAWorker) {
    Gate gate;
    WorkerPool pool(1, 2);
    pool.post(gate.blocker());
    pool.post(gate.blocker());
    std::atomic<bool> ran{false};
    pool.post([&] { ran = true; });
    ASSERT_TRUE(eventually([&] { return gate.entered() == 2; }));
    EXPECT_EQ(pool.threadCount(), 2u);
    EXPECT_FALSE(ran);
    gate.open();
    EXPECT_TRUE(eventually([&] { return ran.load(); }));
}

TEST(WorkerPool, ExtraWorkersRetireOnceIdleAndTheResidentOnesStay) {
    Gate gate;
    // Extra workers end as soon as they find nothing to do.
    WorkerPool pool(2, 8, 0ms);
    for (int i = 0; i < 5; ++i) pool.post(gate.blocker());
    ASSERT_TRUE(eventually([&] { return gate.entered() == 5; }));
    EXPECT_GE(pool.threadCount(), 5u);
    gate.open();
    EXPECT_TRUE(eventually([&] { return pool.threadCount() == 2; }));

    // Retired workers are joined, and the pool grows again when it must.
    Gate again;
    for (int i = 0; i < 4; ++i) pool.post(again.blocker());
    EXPECT_TRUE(eventually([&] { return again.entered() == 4; }));
    EXPECT_GE(pool.threadCount(), 4u);
    again.open();
    EXPECT_TRUE(eventually([&] { return pool.threadCount() == 2; }));
}

TEST(WorkerPool, DestructionRunsWhatIsQueuedIncludingWhatTasksPostMeanwhile) {
    std::atomic<int> ran{0};
    {
        WorkerPool pool(1, 1);
        for (int i = 0; i < 5; ++i)
            pool.post([&] {
                std::this_thread::sleep_for(1ms);
                ++ran;
            });
        pool.post([&] { pool.post([&] { ++ran; }); });
    }
    EXPECT_EQ(ran, 6);

    // Stopped, the pool still takes posts, which nobody runs.
    {
        WorkerPool pool(1, 1);
        pool.stop();
        EXPECT_EQ(pool.threadCount(), 0u);
        pool.post([&] { ++ran; });
    }
    EXPECT_EQ(ran, 6);
}

TEST(WorkerPool, WorkersSurviveTasksThatThrow) {
    ::testing::internal::CaptureStderr();
    std::atomic<int> ran{0};
    {
        Gate gate;
        WorkerPool pool(1, 2);
        pool.post(gate.blocker());
        // All run on the one extra worker, in turn: the last only if that
        // worker survived the others.
        pool.post([] { throw std::runtime_error("odd reply"); });
        pool.post([] { throw 42; });
        pool.post([&] { ++ran; });
        EXPECT_TRUE(eventually([&] { return ran == 1; }));
        gate.open();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ran, 1);
    EXPECT_NE(err.find("a background task failed: odd reply\n"), std::string::npos) << err;
    EXPECT_NE(err.find("a background task failed with an unknown exception\n"), std::string::npos)
        << err;
}
