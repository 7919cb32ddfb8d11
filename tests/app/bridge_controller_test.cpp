// The controller's start-up connection and detection against the simulator,
// what a failed read leaves behind, and two controllers apart.

#include "app/bridge_controller.h"

#include <gtest/gtest.h>

#include "simulator/sim_server.h"
#include "support/manual_executor.h"

namespace lumora {
namespace {

class BridgeControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::ServerOptions options;
        options.linkButtonPressed = true;
        sim_ = std::make_unique<sim::SimServer>(options);
        ASSERT_TRUE(sim_->start());
    }
    void TearDown() override {
        exec_->runPending();
        controller_.reset();
    }
    BridgeController& controller() {
        if (!controller_) {
            Services services = servicesWith(exec_, store_);
            services.detector = [this] {
                ++detections_;
                return detected_;
            };
            controller_ = std::make_unique<BridgeController>(services);
            controller_->settings().loadFromStore();
        }
        return *controller_;
    }
    AppSettings& settings() { return controller().settings(); }
    // The paths the bridge saw, in order.
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        // Not the configuration read that finds out how the bridge is reached.
        for (const auto& r : sim_->requestLog())
            if (r.path != "/api/config") out.push_back(r.method + " " + r.path);
        return out;
    }
    bool logHas(const std::string& text) {
        for (const auto& line : settings().log())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<BridgeController> controller_;
    int detections_ = 0;
    std::string detected_;
    std::unique_ptr<sim::SimServer> sim_;
};

TEST_F(BridgeControllerTest, AStoredAddressConnectsWithoutDetectingAndLogsNoUserName) {
    store_->setString("bridgeIP", sim_->address());
    store_->setString("bridgeUser", sim::kDemoUser);
    controller().start();
    exec_->runPending();
    EXPECT_EQ(detections_, 0);
    EXPECT_FALSE(settings().lights().empty());
    EXPECT_TRUE(settings().bridgeConnected());
    ASSERT_FALSE(paths().empty());
    EXPECT_EQ(paths().front(), std::string("GET /api/") + sim::kDemoUser + "/lights");
    // The log reaches standard output and the journal: the connection line
    // tells which name without giving it away.
    EXPECT_TRUE(logHas("Connecting to Bridge... [" + userNameHint(sim::kDemoUser) + "]"));
    for (const auto& line : settings().log())
        EXPECT_EQ(line.find(sim::kDemoUser), std::string::npos) << line;
}

TEST_F(BridgeControllerTest, WithoutAnAddressItDetectsAndConnectsToTheTrimmedResult) {
    detected_ = "  " + sim_->address() + "\n";
    controller().start();
    exec_->runPending();
    EXPECT_EQ(detections_, 1);
    EXPECT_EQ(settings().hueIP(), sim_->address());
    // No user name yet: connecting starts with pairing, then reads the lights.
    ASSERT_FALSE(paths().empty());
    EXPECT_EQ(paths().front(), "POST /api");
    EXPECT_FALSE(settings().hueKey().empty());
    EXPECT_FALSE(settings().lights().empty());

    // Nothing found: nothing happens, the panel shows its empty state.
    controller_.reset();
    sim_->clearLog();
    detected_.clear();
    store_ = std::make_shared<InMemoryDefaultsStore>();
    controller().start();
    exec_->runPending();
    EXPECT_TRUE(settings().hueIP().empty());
    EXPECT_TRUE(paths().empty());
}

TEST_F(BridgeControllerTest, EveryFailedReadIsLoggedAndTheLightsOneDisconnects) {
    settings().setHueIP(sim_->address());
    settings().setHueKey(sim::kDemoUser);
    controller().connectToBridge();
    exec_->runPending();
    ASSERT_TRUE(settings().bridgeConnected());
    const auto rooms = settings().groups();
    const auto scenes = settings().scenes();

    // An unknown user: each collection answers with an error list.
    settings().setHueKey("stranger");
    controller().fetchLights();
    controller().fetchGroups();
    controller().fetchScenes();
    exec_->runPending();
    EXPECT_FALSE(settings().bridgeConnected());
    EXPECT_TRUE(logHas("Couldn't decode Hue data"));
    EXPECT_TRUE(logHas("Couldn't decode Hue GROUPS data"));
    EXPECT_TRUE(logHas("Couldn't decode Hue SCENE data"));
    EXPECT_EQ(settings().groups(), rooms) << "lists stay as they were";
    EXPECT_EQ(settings().scenes(), scenes);

    // Nobody answering is logged as such, for every collection.
    sim_->stop();
    controller().fetchGroups();
    controller().fetchScenes();
    exec_->runPending();
    EXPECT_TRUE(logHas("Could not reach the bridge to read its groups"));
    EXPECT_TRUE(logHas("Could not reach the bridge to read its scenes"));
}

TEST_F(BridgeControllerTest, TwoControllersWithTheirOwnServicesDoNotSeeEachOther) {
    auto otherExec = std::make_shared<ManualExecutor>();
    Services otherServices = servicesWith(otherExec, std::make_shared<InMemoryDefaultsStore>());
    BridgeController other(otherServices);
    store_->setString("bridgeIP", sim_->address());
    store_->setString("bridgeUser", sim::kDemoUser);
    controller().start();
    exec_->runPending();
    otherExec->runPending();
    EXPECT_FALSE(settings().lights().empty());
    EXPECT_TRUE(other.settings().lights().empty());
    EXPECT_FALSE(otherServices.store->contains("bridgeIP"));

    // A setting changed in one leaves the other's copy and store alone.
    other.settings().setShowZones(true);
    EXPECT_TRUE(otherServices.store->boolean("showZones"));
    EXPECT_FALSE(store_->boolean("showZones"));
    EXPECT_FALSE(settings().showZones());
}

}  // namespace
}  // namespace lumora
