// Connecting, pairing and refreshing against the simulator on virtual time:
// background work runs on the test thread when pumped, so every HTTP
// exchange is real but the timers never wait.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/bridge_controller.h"
#include "app/linux/file_store.h"
#include "bridge/commands.h"
#include "simulator/sim_server.h"
#include "support/canned_bridge.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;

namespace {

// A time whose local minute is `minute` and second 10.
WallTime atLocalMinute(int minute) {
    std::time_t t = WallClock::to_time_t(WallClock::now());
    std::tm tm{};
    localtime_r(&t, &tm);
    tm.tm_min = minute;
    tm.tm_sec = 10;
    tm.tm_isdst = -1;
    return WallClock::from_time_t(std::mktime(&tm));
}

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.start());
        controller_ = std::make_unique<BridgeController>(servicesWith(exec_, store_));
        s().setHueIP(server_.address());
    }
    void TearDown() override {
        exec_->runPending();
        controller_.reset();
    }
    AppSettings& s() { return controller_->settings(); }
    // Connects with the demo user, as a paired program starts.
    void connectAsDemoUser() {
        s().setHueKey(sim::kDemoUser);
        controller_->connectToBridge();
        exec_->runPending();
        ASSERT_TRUE(s().bridgeConnected());
    }
    int requests(const std::string& suffix) {
        int n = 0;
        for (const auto& r : server_.requestLog())
            if (r.method == "GET" && r.path.ends_with(suffix)) ++n;
        return n;
    }

    std::shared_ptr<ManualExecutor> exec_ = [] {
        auto e = std::make_shared<ManualExecutor>();
        e->setWallNow(atLocalMinute(7));
        return e;
    }();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    sim::SimServer server_;
    std::unique_ptr<BridgeController> controller_;
};

}  // namespace

TEST_F(ConnectionTest, PairsOnceTheLinkButtonIsPressedThenConnectsAndStores) {
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_TRUE(s().needsLinkButton());
    EXPECT_EQ(s().connectionError().problem, ConnectionProblem::pressLinkButton);
    EXPECT_EQ(s().log().back(), "We have a Bridge IP, but no API key yet...");
    EXPECT_TRUE(controller_->bridgeStateRefresher().expired()) << "no retry by itself";

    server_.pressLinkButton();
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_FALSE(s().needsLinkButton());
    EXPECT_EQ(s().hueKey().size(), 40u);
    EXPECT_TRUE(s().bridgeConnected());
    EXPECT_TRUE(s().connectionError().empty());
    EXPECT_FALSE(s().lights().empty());
    EXPECT_FALSE(s().groups().empty());
    EXPECT_FALSE(s().scenes().empty());
    EXPECT_EQ(store_->string("bridgeIP"), server_.address());
    EXPECT_EQ(store_->string("bridgeUser"), s().hueKey());
    EXPECT_FALSE(controller_->bridgeStateRefresher().expired());
}

TEST_F(ConnectionTest, UnreachableBridgeDuringPairingSaysSo) {
    server_.stop();
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_FALSE(s().needsLinkButton());
    EXPECT_EQ(s().connectionError().problem, ConnectionProblem::unreachable);
}

TEST_F(ConnectionTest, APastedUrlConnectsBareAndAMangledAddressSendsNothing) {
    s().setHueKey(sim::kDemoUser);
    controller_->updateHueIP("\xC2\xA0http://" + server_.address() + "/\n");
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_EQ(s().hueIP(), server_.address());
    ASSERT_TRUE(s().bridgeConnected());
    EXPECT_EQ(store_->string("bridgeIP"), server_.address());

    controller_->disconnectBridge();
    exec_->runPending();
    server_.clearLog();
    const std::string port = server_.address().substr(server_.address().rfind(':'));
    for (const std::string& typed : {"127.0.0.1 " + port, "http://127.0.0.1" + port + "/api",
                                     std::string("https://127.0.0.1/api")}) {
        controller_->updateHueIP(typed);
        s().setHueKey("");
        controller_->connectToBridge();
        controller_->fetchBridgeAccess();
        exec_->runPending();
        EXPECT_EQ(s().connectionError(),
                  (ConnectionError{ConnectionProblem::invalidAddress, typed}));
        EXPECT_EQ(s().hueIP(), typed) << "what was typed stays for the user to mend";
    }
    EXPECT_TRUE(server_.requestLog().empty());
    EXPECT_EQ(store_->string("bridgeIP"), server_.address());
}

TEST_F(ConnectionTest, RefreshTracksTheConnectionAndRespectsTheQuietTimeWhateverTheClockSays) {
    ASSERT_NO_FATAL_FAILURE(connectAsDemoUser());
    const auto lightsBefore = s().lights();
    server_.clearLog();

    // A user action 2 seconds before the tick holds the fetches back. Right
    // after it the clock is set back, as the time service does after a
    // resume: the quiet time still ends three seconds on.
    exec_->advance(1500ms);
    setLampOn(*controller_, s().lights().front(), true);
    exec_->setWallNow(exec_->wallNow() - 1h);
    exec_->advance(2000ms);  // tick at 3.5 s
    EXPECT_EQ(requests("/lights"), 0);
    exec_->advance(3500ms);  // tick at 7 s: 5.5 s after the action
    EXPECT_EQ(requests("/lights"), 1);
    EXPECT_EQ(requests("/groups"), 1);
    EXPECT_EQ(requests("/scenes"), 0) << "minute 7 does not refresh scenes";
    exec_->setWallNow(exec_->wallNow() - 1h);
    exec_->advance(7000ms);
    EXPECT_EQ(requests("/lights"), 3) << "every tick goes on fetching";

    // The bridge goes away: not connected, the lists stay.
    server_.stop();
    exec_->advance(3500ms);
    EXPECT_FALSE(s().bridgeConnected());
    EXPECT_EQ(s().lights().size(), lightsBefore.size());
    ASSERT_TRUE(server_.start());
    // The simulator came back on another port; follow it as the user would.
    s().setHueIP(server_.address());
    exec_->advance(3500ms);
    EXPECT_TRUE(s().bridgeConnected());
}

TEST_F(ConnectionTest, ScenesRefreshOnlyInTheQuarterHourMinutes) {
    exec_->setWallNow(atLocalMinute(14));
    s().setHueKey(sim::kDemoUser);
    s().setLastUserActionAt(exec_->now() - 1h);
    controller_->ensureBridgeStateRefresherIsRunning();
    exec_->advance(10500ms);  // three ticks, all in minute 14
    EXPECT_EQ(requests("/lights"), 3);
    EXPECT_EQ(requests("/scenes"), 0);
    exec_->advance(49500ms);  // into minute 15
    EXPECT_GE(requests("/scenes"), 1);
    const int inFifteen = requests("/scenes");
    exec_->advance(60s);  // through minute 15 into 16
    EXPECT_GT(requests("/scenes"), inFifteen) << "every tick in the minute fetches scenes";
    const int afterFifteen = requests("/scenes");
    exec_->advance(30s);
    EXPECT_EQ(requests("/scenes"), afterFifteen);
}

TEST_F(ConnectionTest, DisconnectForgetsTheUserButKeepsScenesAndAddress) {
    ASSERT_NO_FATAL_FAILURE(connectAsDemoUser());
    ASSERT_FALSE(s().scenes().empty());
    controller_->disconnectBridge();
    exec_->runPending();
    EXPECT_TRUE(s().lights().empty());
    EXPECT_TRUE(s().groups().empty());
    EXPECT_FALSE(s().scenes().empty());
    EXPECT_EQ(s().hueKey(), "");
    EXPECT_EQ(store_->string("bridgeUser"), "");
    EXPECT_EQ(store_->string("bridgeIP"), server_.address());
    EXPECT_FALSE(s().bridgeConnected());
    EXPECT_FALSE(controller_->bridgeStateRefresher().expired()) << "the timers keep running";
}

TEST_F(ConnectionTest, AMinuteOfRefreshOnTheSettingsFileWritesThePairOnce) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("lumora-refresh-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    auto file = std::make_shared<JsonFileDefaultsStore>(dir);
    controller_ = std::make_unique<BridgeController>(servicesWith(exec_, file));
    s().setHueIP(server_.address());
    s().setLastUserActionAt(exec_->now() - 1h);
    ASSERT_NO_FATAL_FAILURE(connectAsDemoUser());
    exec_->advance(60s);
    EXPECT_GE(requests("/lights"), 18);
    EXPECT_EQ(file->writes(), 3u) << "bridgeIP, bridgeUser and bridgeID, each once";
    JsonFileDefaultsStore reread(dir);
    EXPECT_EQ(reread.string("bridgeIP"), server_.address());
    EXPECT_EQ(reread.string("bridgeUser"), sim::kDemoUser);
    std::filesystem::remove_all(dir);
}

TEST(RefreshReads, TheRefreshReadsInTurnAndOneFailedReadDoesNotStopTheNext) {
    // One read at a time keeps one kept-alive connection in use every tick
    // (a bridge closes the idle ones); a lights read that times out still
    // lets the groups and scenes be read.
    std::mutex mutex;
    int inFlight = 0, most = 0;
    std::vector<std::string> asked;
    auto exec = std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    exec->setWallNow(atLocalMinute(15));  // a quarter-hour minute: the scenes are read too
    Services services = servicesWith(exec, std::make_shared<InMemoryDefaultsStore>());
    services.transport = [&](const HttpRequest& request) {
        {
            std::lock_guard lock(mutex);
            most = std::max(most, ++inFlight);
            asked.push_back(request.url.substr(request.url.rfind('/')));
        }
        std::this_thread::sleep_for(20ms);  // long enough for an overlap to show
        HttpResponse r;
        if (request.url.ends_with("/lights")) {
            r.error = HttpError::timedOut;
        } else {
            r.status = 200;
            r.body = "{}";
        }
        std::lock_guard lock(mutex);
        --inFlight;
        return r;
    };
    BridgeController controller(services);
    controller.settings().setHueIP("127.0.0.1:9");
    controller.settings().setHueKey("u");
    controller.settings().setLastUserActionAt(exec->now() - 1h);
    controller.refreshTick();
    ASSERT_TRUE(exec->runUntil(
        [&] {
            std::lock_guard lock(mutex);
            return asked.size() == 3 && inFlight == 0;
        },
        15s));
    exec->runUntil([] { return false; }, 50ms);
    EXPECT_EQ(asked, (std::vector<std::string>{"/lights", "/groups", "/scenes"}));
    EXPECT_EQ(most, 1);
}

TEST(Pairing, ASuccessWithoutAUserNameStopsWithAnError) {
    // Real threads and a bounded wait: were pairing to start over, it would do
    // so without end.
    auto exec = std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    support::CannedBridge bridge;
    bridge.answer("POST", "/api", R"([{"success":{"username":""}}])");
    auto store = std::make_shared<InMemoryDefaultsStore>();
    {
        BridgeController controller(servicesWith(exec, store));
        controller.settings().setHueIP(bridge.address());
        controller.connectToBridge();
        exec->runUntil([&] {
            return !controller.settings().connectionError().empty() ||
                   bridge.requests("POST", "/api") > 2;
        });
        exec->runUntil([] { return false; }, 300ms);  // room for a second attempt
        EXPECT_EQ(bridge.requests("POST", "/api"), 1);
        EXPECT_EQ(controller.settings().connectionError().problem, ConnectionProblem::noUserName);
        EXPECT_FALSE(controller.settings().needsLinkButton());
        EXPECT_EQ(controller.settings().hueKey(), "");
        EXPECT_FALSE(store->contains("bridgeUser"));
    }
    exec->runUntil([] { return false; }, 100ms);
}
