// The controller's start-up connection and detection against the simulator,
// what a failed read leaves behind, and two controllers apart.

#include "app/bridge_controller.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "simulator/sim_server.h"
#include "support/controller_fixture.h"
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

TEST_F(BridgeControllerTest, AFailedReadIsLoggedOncePerChangeAndSaysWhatHappened) {
    settings().setHueIP(sim_->address());
    settings().setHueKey(sim::kDemoUser);
    auto readLightsWith = [&](std::optional<sim::Fault> fault) {
        if (fault) sim_->injectFault(*fault, 1);
        controller().fetchLights();
        exec_->runPending();
    };
    auto count = [&](const std::string& text) {
        return std::count_if(settings().log().begin(), settings().log().end(),
                             [&](const std::string& l) { return l.find(text) != l.npos; });
    };
    const std::string busy = "answered the read of its lights with 503 Service Unavailable";
    const std::string cap = "Couldn't read Hue data: the reply is larger than 16 MiB";
    for (int i = 0; i < 3; ++i) readLightsWith(sim::Fault::http503);
    EXPECT_EQ(count(busy), 1) << "not at every refresh";
    EXPECT_FALSE(settings().bridgeConnected());
    readLightsWith(sim::Fault::hugeBody);
    readLightsWith(sim::Fault::hugeBody);
    EXPECT_EQ(count(cap), 1);
    readLightsWith(sim::Fault::moved);
    EXPECT_EQ(count("with 301 Moved Permanently, pointing to https://127.0.0.1/api/" +
                    userNameHint(sim::kDemoUser) + "/lights."),
              1);
    // A read that works ends the state; the same failure after it is news.
    readLightsWith(std::nullopt);
    EXPECT_TRUE(settings().bridgeConnected());
    readLightsWith(sim::Fault::http503);
    EXPECT_EQ(count(busy), 2);
    for (const auto& line : settings().log())
        EXPECT_EQ(line.find(sim::kDemoUser), std::string::npos) << line;
}

// Keeps nothing on its "disk" while told so, as a full disk would.
class RefusingStore : public InMemoryDefaultsStore {
  public:
    bool refuse = true;
    StoreResult trySet(const std::string& key, DefaultsValue value) override {
        if (refuse) return {problem()};
        set(key, std::move(value));
        return {};
    }
    std::optional<StoreProblem> problem() const override {
        if (!refuse) return std::nullopt;
        return StoreProblem{StoreProblem::Kind::WriteFailed, "/home/u/.config/lumora/defaults.json",
                            "no space left on device"};
    }
};

TEST_F(BridgeControllerTest, AUserNameThatCannotBeStoredIsKeptForThePaneUntilItCanBe) {
    auto refusing = std::make_shared<RefusingStore>();
    store_ = refusing;
    settings().setHueIP(sim_->address());
    controller().connectToBridge();
    exec_->runPending();
    ASSERT_TRUE(settings().bridgeConnected());
    const std::string issued = settings().hueKey();
    ASSERT_EQ(issued.size(), 40u);
    EXPECT_EQ(settings().unsavedUserName(), issued);
    ASSERT_TRUE(settings().storeProblem());
    EXPECT_EQ(settings().storeProblem()->kind, StoreProblem::Kind::WriteFailed);
    EXPECT_FALSE(store_->contains("bridgeUser"));
    EXPECT_TRUE(
        logHas("Settings could not be saved to /home/u/.config/lumora/defaults.json: no "
               "space left on device."));

    // The refresh stores the pair again; once the disk takes it, all is well.
    refusing->refuse = false;
    controller().fetchLights();
    exec_->runPending();
    EXPECT_EQ(settings().unsavedUserName(), "");
    EXPECT_FALSE(settings().storeProblem());
    EXPECT_EQ(store_->string("bridgeUser"), issued);
    EXPECT_EQ(store_->string("bridgeIP"), sim_->address());
}

// The controller on virtual time with replies made up by the test.
class MadeUpReplyTest : public ControllerFixture {};

TEST_F(MadeUpReplyTest, ABusyBridgeHandsOutNoUserNameWhateverItsBodySays) {
    settings().setHueKey("");
    transport_ = [](const HttpRequest& req) {
        HttpResponse r;
        // A first-generation bridge, so the pairing goes to it over plain HTTP.
        if (req.url.ends_with("/api/config")) {
            r.status = 200;
            r.body = R"({"bridgeid":"001788fffe000001","modelid":"BSB001"})";
            return r;
        }
        r.status = 503;
        r.body = R"([{"success":{"username":"issued-while-busy"}}])";
        return r;
    };
    controller_->fetchBridgeAccess();
    exec_->runPending();
    EXPECT_EQ(settings().hueKey(), "");
    EXPECT_FALSE(store_->contains("bridgeUser"));
    EXPECT_EQ(settings().connectionError().problem, ConnectionProblem::unreachable);
    const auto& log = settings().log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "Pairing failed: the bridge answered 503 Service Unavailable"),
              log.end());
}

TEST_F(MadeUpReplyTest, AReadThatTimesOutSaysSo) {
    transport_ = [](const HttpRequest&) {
        HttpResponse r;
        r.error = HttpError::timedOut;
        return r;
    };
    controller_->fetchLights();
    controller_->fetchGroups();
    exec_->runPending();
    const auto& log = settings().log();
    for (const char* line : {"ERROR: The bridge did not answer the read of its lights within 4 s.",
                             "ERROR: The bridge did not answer the read of its groups within 4 s."})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
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
