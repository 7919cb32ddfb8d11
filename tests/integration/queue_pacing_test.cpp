// The command queue on real time against the simulator, asserted from the
// simulator's request log.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/bridge_controller.h"
#include "app/linux/loop_dispatcher.h"
#include "bridge/commands.h"
#include "bridge/fetchers.h"
#include "simulator/sim_server.h"

using namespace lumora;
using namespace std::chrono_literals;
using nlohmann::json;
using sim::Fault;

namespace {

// Commands start one queue tick (0.3 s) apart. Between a tick and the
// bridge's log a loaded machine (a sanitizer build, a parallel test run)
// adds some milliseconds, up to about 25 more to one request than to the
// next; commands that leave in a burst arrive well within 1 ms of each other.
constexpr auto kPacedGap = 250ms;

class QueuePacingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start());
        controller_ = std::make_unique<BridgeController>(
            servicesWith(loop_, std::make_shared<InMemoryDefaultsStore>()));
        auto& s = controller_->settings();
        s.setHueIP(server_.address());
        s.setHueKey(sim::kDemoUser);
        auto lights = fetchLightsNow(httpSend, {server_.address(), sim::kDemoUser});
        ASSERT_TRUE(std::holds_alternative<std::vector<HueLight>>(lights));
        s.setLights(std::get<std::vector<HueLight>>(lights));
        server_.clearLog();
    }
    void TearDown() override { controller_.reset(); }
    bool drain(std::chrono::milliseconds limit = 10s) {
        return loop_->runUntil([&] { return controller_->queueDrained(); }, limit);
    }
    std::vector<sim::LoggedRequest> puts() {
        std::vector<sim::LoggedRequest> out;
        for (auto& r : server_.requestLog())
            if (r.method == "PUT") out.push_back(r);
        return out;
    }
    const HueLight& light(size_t i = 0) { return controller_->settings().lights().at(i); }

    std::shared_ptr<LoopDispatcher> loop_ = std::make_shared<LoopDispatcher>(4);
    sim::SimServer server_;
    std::unique_ptr<BridgeController> controller_;
};

}  // namespace

TEST_F(QueuePacingTest, ABurstOfSliderMovesBecomesAFewPacedRequestsEndingWithTheLastValue) {
    // 100 brightness changes for one light within 2 seconds, as a dragged slider makes them.
    int issued = 0;
    std::weak_ptr<RepeatingTimer> slider = loop_->scheduleRepeating(20ms, [&] {
        ++issued;
        setLampBrightness(*controller_, light(), 100 + issued);
        if (issued == 100) invalidate(slider);
    });
    ASSERT_TRUE(loop_->runUntil([&] { return issued == 100; }, 5s));
    ASSERT_TRUE(drain());

    const auto sent = puts();
    ASSERT_FALSE(sent.empty());
    RecordProperty("requests", static_cast<int>(sent.size()));
    EXPECT_LE(sent.size(), 8u);
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE(sent[i].wallTime - sent[i - 1].wallTime, kPacedGap) << "request " << i;
    EXPECT_EQ(json::parse(sent.back().body)["bri"], 200);
    EXPECT_EQ(server_.state()["lights"][light().lamp_id]["state"]["bri"], 200);
}

TEST_F(QueuePacingTest, WithTheBridgeGoneItemsAreDroppedAtTheNormalPace) {
    server_.stop();
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < 4 && i < controller_->settings().lights().size(); ++i)
        setLampOn(*controller_, light(i), false);
    ASSERT_TRUE(drain());
    // Four ticks of 0.3 s; a refused connection costs nothing more.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(controller_->settings().actionQueue().empty());
    EXPECT_TRUE(controller_->actionQueueProcessor().expired());
}

TEST_F(QueuePacingTest, SlowFetchesAndPairingDoNotHoldBackTheQueue) {
    // A bridge that answers everything after 5 s: the reads give up after
    // 4 s, pairing and the commands wait. More blocking reads and a pairing
    // than the pool has workers are in flight before the first command.
    auto& s = controller_->settings();
    s.setBridgeConnected(true);  // the failed light read clears it: its completion has run
    server_.injectFault(Fault::delay, 100, 5s);
    controller_->fetchBridgeAccess();
    s.setLastUserActionAt(loop_->now() - 1h);  // past the quiet time: the refresh reads
    controller_->refreshTick();
    std::atomic<int> scenesRead{0};
    for (int i = 0; i < 2; ++i)
        loop_->postBG([&] {
            fetchScenesNow(httpSend, {server_.address(), sim::kDemoUser});
            ++scenesRead;
        });
    {
        // The loop checks its condition after each tick or block.
        auto poll = loop_->scheduleRepeating(10ms, [] {});
        ASSERT_TRUE(loop_->runUntil([&] { return server_.requestLog().size() >= 4; }, 5s));
        invalidate(poll);
    }
    const auto firstRead = server_.requestLog().front().wallTime;

    // Five slider values for five lights, queued at once.
    const auto queued = std::chrono::steady_clock::now();
    for (size_t i = 0; i < 5; ++i)
        setLampBrightness(*controller_, light(i), 50 + static_cast<int>(i));
    ASSERT_TRUE(drain(40s));
    // Everything that reports back on the UI thread has done so before the
    // dispatcher goes.
    ASSERT_TRUE(loop_->runUntil(
        [&] { return s.needsLinkButton() && !s.bridgeConnected() && scenesRead == 2; }, 20s));

    const auto sent = puts();
    ASSERT_EQ(sent.size(), 5u);
    std::string times;
    for (size_t i = 0; i < sent.size(); ++i) {
        const auto at =
            std::chrono::duration_cast<std::chrono::milliseconds>(sent[i].wallTime - queued);
        times += (i ? " " : "") + std::to_string(at.count());
        EXPECT_EQ(json::parse(sent[i].body)["bri"], 50 + static_cast<int>(i));
    }
    RecordProperty("sent_ms_after_queueing", times);
    std::cout << "commands reached the bridge at (ms after queueing): " << times << "\n";
    // One command per tick, however many workers sit in a blocking read ...
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE(duration_cast<milliseconds>(sent[i].wallTime - sent[i - 1].wallTime), kPacedGap)
            << "request " << i;
    // ... and all of them while those reads were still waiting: none of them
    // can free its worker before its 4-second time-out.
    EXPECT_LT(duration_cast<milliseconds>(sent.back().wallTime - firstRead), 4s);
    server_.clearFaults();
}
