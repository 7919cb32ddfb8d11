// A controller destroyed while its background work is still on its way: the
// workers finish later and must not touch it. Real threads and a real bridge
// read, so the sanitizer build sees any access to the gone controller.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "app/bridge_controller.h"
#include "simulator/sim_server.h"
#include "support/eventually.h"
#include "support/manual_executor.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

// Background blocks on threads of their own, which the test can wait for;
// UI blocks wait until the test runs them. Timers never fire: the clock is
// never advanced. On request a worker that posts to the UI thread is held
// there: the moment right after its own checks, when the controller may go.
class ThreadsDispatcher : public ManualExecutor {
  public:
    ~ThreadsDispatcher() override {
        releaseWorkers();
        joinWorkers();
    }
    void postUI(Work work) override {
        ManualExecutor::postUI(std::move(work));
        std::unique_lock lock(mutex_);
        if (holding_ && std::this_thread::get_id() != owner_) {
            ++held_;
            cv_.notify_all();
            cv_.wait(lock, [this] { return !holding_; });
        }
    }
    void holdWorkers() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    bool workerHeld() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, 10s, [this] { return held_ > 0; });
    }
    void releaseWorkers() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        cv_.notify_all();
    }
    void postBG(Work work) override {
        std::lock_guard lock(mutex_);
        threads_.emplace_back(std::move(work));
    }
    // Waits until every background block so far (and any it started) has ended.
    void joinWorkers() { joinAll(mutex_, threads_); }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const std::thread::id owner_ = std::this_thread::get_id();
    bool holding_ = false;
    int held_ = 0;
    std::vector<std::thread> threads_;
};

class ControllerLifetimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.start());
        make(servicesWith(exec_, store_));
    }
    void make(Services services) {
        controller_ = std::make_unique<BridgeController>(std::move(services));
        controller_->settings().setHueIP(sim_.address());
    }
    void TearDown() override {
        exec_->joinWorkers();
        exec_->runPending();
    }
    // The bridge holds every request until it stops; waits until `n` are in.
    bool requestsArrive(std::size_t n) {
        return testing::eventually([&] { return sim_.requestLog().size() >= n; }, 5000, 2ms);
    }
    // Lets the configuration read that finds out how the bridge is reached
    // come back, and hands its outcome to the controller, which goes on.
    void linkBridge() {
        exec_->joinWorkers();
        exec_->runPending();
    }
    // Destroys the controller while the workers wait for the bridge, then lets
    // them finish. Returns how many blocks they sent back to the UI thread.
    int destroyThenFinish() {
        controller_.reset();
        exec_->releaseWorkers();
        sim_.stop();  // cuts the held replies short
        exec_->joinWorkers();
        return exec_->runPending();
    }

    std::shared_ptr<ThreadsDispatcher> exec_ = std::make_shared<ThreadsDispatcher>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    sim::SimServer sim_;
    std::unique_ptr<BridgeController> controller_;
};

TEST_F(ControllerLifetimeTest, PairingThatOutlivesTheControllerReportsToNobody) {
    sim_.pressLinkButton();
    // The configuration read is answered; the pairing request after it is held.
    sim_.injectFault(sim::Fault::delay, 1, 0ms);
    sim_.injectFault(sim::Fault::delay, 10, 60s);
    controller_->fetchBridgeAccess();
    linkBridge();
    ASSERT_TRUE(requestsArrive(2));
    EXPECT_EQ(sim_.requestLog().back().method, "POST");
    EXPECT_GE(destroyThenFinish(), 1) << "the pairing's outcome came back";
    EXPECT_FALSE(store_->string("bridgeUser").has_value());
}

TEST_F(ControllerLifetimeTest, ConnectingWithoutAUserNamePairsAndOutlivesTheController) {
    sim_.injectFault(sim::Fault::delay, 1, 0ms);
    sim_.injectFault(sim::Fault::delay, 10, 60s);
    controller_->connectToBridge();
    linkBridge();
    ASSERT_TRUE(requestsArrive(2));
    EXPECT_EQ(sim_.requestLog().back().method, "POST");
    EXPECT_GE(destroyThenFinish(), 1) << "the pairing's outcome";
}

TEST_F(ControllerLifetimeTest, ReadsThatOutliveTheControllerReportToNobody) {
    controller_->settings().setHueKey(sim::kDemoUser);
    sim_.injectFault(sim::Fault::delay, 10, 60s);
    // The refresh reads lights, then groups.
    controller_->settings().setLastUserActionAt(exec_->now() - 1h);
    controller_->refreshTick();
    ASSERT_TRUE(requestsArrive(1));
    // The failed light read at least reports back.
    EXPECT_GE(destroyThenFinish(), 1);
    EXPECT_FALSE(store_->string("bridgeIP").has_value());
}

TEST_F(ControllerLifetimeTest, ConnectingGoesOnAfterTheControllerWentWithoutTouchingIt) {
    controller_->settings().setHueKey(sim::kDemoUser);
    // The connecting worker is held where it hands back how the bridge is
    // reached: after it looked at the controller's token.
    exec_->holdWorkers();
    controller_->connectToBridge();
    ASSERT_TRUE(exec_->workerHeld());
    controller_.reset();
    // Its outcome reaches nobody, and no read starts for a controller that went.
    EXPECT_GE(destroyThenFinish(), 1);
    EXPECT_EQ(sim_.requestLog().size(), 1u);
    EXPECT_FALSE(store_->string("bridgeIP").has_value());
}

TEST_F(ControllerLifetimeTest, ADetectionThatOutlivesTheControllerConnectsNothing) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> detecting;
    Services services = servicesWith(exec_, store_);
    services.detector = [&, released] {
        detecting.set_value();
        released.wait();
        return sim_.address();
    };
    make(services);
    controller_->settings().setHueIP("");
    controller_->start();
    ASSERT_EQ(detecting.get_future().wait_for(10s), std::future_status::ready);
    controller_.reset();
    release.set_value();
    exec_->joinWorkers();
    exec_->runPending();
    EXPECT_TRUE(sim_.requestLog().empty()) << "nobody connected to the address found";
}

}  // namespace
}  // namespace lumora
