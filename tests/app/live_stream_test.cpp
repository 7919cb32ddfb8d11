// The controller on the simulator's event stream: a change another client
// makes reaches the settings without a read, a dropped stream comes back and
// catches up from where it was, and the stream is read only where the
// bridge and the setting allow. The stream's thread is real; the refresh
// timer never fires, so nothing here is read but on purpose.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/bridge_controller.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;

namespace {

class LiveStreamTest : public ::testing::Test {
  protected:
    void start(sim::Generation model) {
        sim::ServerOptions o;
        o.model = model;
        server_ = std::make_unique<sim::SimServer>(o);
        ASSERT_TRUE(server_->start());
        Services services = servicesWith(exec_, store_);
        services.bridgeAnchors = TrustAnchors::fromPem(server_->trustAnchorPem());
        controller_ = std::make_unique<BridgeController>(std::move(services));
        s().setHueIP(model == sim::Generation::BSB001 ? server_->address()
                                                      : server_->httpsAddress());
        s().setHueKey(sim::kDemoUser);
        controller_->connectToBridge();
        // The first reads (lights, groups, scenes) are in, so later ones count.
        ASSERT_TRUE(exec_->runUntil([&] {
            return !s().lights().empty() && !s().groups().empty() && !s().scenes().empty();
        }));
        // Past the quiet time that starts with the program; short of a refresh.
        exec_->advance(kQuietAfterUserAction + 1ms);
    }
    void TearDown() override {
        exec_->runPending();
        controller_.reset();
    }
    AppSettings& s() { return controller_->settings(); }
    // Another client changes light 1.
    void putBrightness(int bri) {
        const auto reply =
            server_->call("PUT", std::string("/api/") + sim::kDemoUser + "/lights/1/state",
                          R"({"bri":)" + std::to_string(bri) + "}");
        ASSERT_TRUE(reply[0].contains("success")) << reply.dump();
    }
    bool lightOneAt(int bri) {
        for (const auto& l : s().lights())
            if (l.lamp_id == "1") return l.brightness == bri;
        return false;
    }
    std::size_t reads() const {
        std::size_t n = 0;
        for (const auto& r : server_->requestLog())
            if (r.method == "GET" && r.path.find("/api/") == 0 && r.path != "/api/config") ++n;
        return n;
    }

    std::shared_ptr<ManualExecutor> exec_ =
        std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<sim::SimServer> server_;
    std::unique_ptr<BridgeController> controller_;
};

}  // namespace

TEST_F(LiveStreamTest, ChangesArriveWithoutReadsAndADroppedStreamCatchesUpWithTheLastEventId) {
    start(sim::Generation::BSB002);
    ASSERT_TRUE(exec_->runUntil([&] { return s().liveStatus() == LiveStatus::active; }));
    const std::size_t before = reads();
    putBrightness(201);
    ASSERT_TRUE(exec_->runUntil([&] { return lightOneAt(201); }));

    ASSERT_EQ(server_->dropStreams(), 1u);
    ASSERT_TRUE(exec_->runUntil([&] { return s().liveStatus() == LiveStatus::connecting; }));
    // Made while no stream is open: only the history the reconnect asks for
    // from its last event id brings it.
    putBrightness(77);
    ASSERT_TRUE(exec_->runUntil([&] { return lightOneAt(77); }));
    EXPECT_EQ(s().liveStatus(), LiveStatus::active);
    EXPECT_EQ(reads(), before);

    s().setLiveUpdates(false);
    EXPECT_FALSE(controller_->streamRunning());
    EXPECT_EQ(s().liveStatus(), LiveStatus::off);
    EXPECT_TRUE(exec_->runUntil([&] { return server_->streamStats().clients == 0; }));
    s().setLiveUpdates(true);
    EXPECT_TRUE(exec_->runUntil([&] { return s().liveStatus() == LiveStatus::active; }));
}

TEST_F(LiveStreamTest, AFirstGenerationBridgeIsPolledAsBefore) {
    start(sim::Generation::BSB001);
    EXPECT_FALSE(controller_->streamRunning());
    EXPECT_EQ(s().liveStatus(), LiveStatus::unavailable);
}
