// Schedules: creation checks, timers on the simulator clock, expiry.

#include "sim_test_support.h"
#include "support/demo_desktop.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

class SchedulesTest : public SimServerTest {
  protected:
    // A schedule whose command runs `body` on group 0.
    std::string createTimer(const std::string& localtime, const std::string& body,
                            const std::string& extra = {}) {
        std::string request = R"({"command":{"address":")" + api("/groups/0/action") +
                              R"(","method":"PUT","body":)" + body + R"(},"localtime":")" +
                              localtime + "\"" + extra + "}";
        Json reply = post(api("/schedules"), request);
        if (!reply.is_array() || reply.empty() || !reply[0].contains("success")) {
            ADD_FAILURE() << reply.dump();
            return {};
        }
        return reply[0]["success"]["id"].get<std::string>();
    }
    bool exists(const std::string& id) { return get(api("/schedules/" + id)).is_object(); }
};

TEST_F(SchedulesTest, OneShotTimerFiresOnTheAdvancedClockAndDeletesItself) {
    std::string id =
        createTimer("PT01:00:00", R"({"on":false})", R"(,"autodelete":true,"recycle":true)");
    ASSERT_EQ(id, "1");
    Json schedule = get(api("/schedules/1"));
    EXPECT_EQ(schedule["localtime"], "PT01:00:00");
    EXPECT_EQ(schedule["time"], "PT01:00:00");
    EXPECT_EQ(schedule["status"], "enabled");
    EXPECT_EQ(schedule["autodelete"], true);
    EXPECT_EQ(schedule["command"]["body"], Json::parse(R"({"on":false})"));
    EXPECT_TRUE(schedule.contains("starttime"));

    server_->advanceClock(3599s);
    EXPECT_EQ(lightState("1")["on"], true);
    EXPECT_TRUE(exists(id));
    server_->advanceClock(1s);
    for (const char* light : {"1", "2", "6"}) EXPECT_EQ(lightState(light)["on"], false);
    Json gone = get(api("/schedules/1"));
    EXPECT_EQ(gone[0]["error"]["type"], 3);
    EXPECT_EQ(get(api("/schedules")), Json::object());
}

// The lists a client polls are served from a kept reply between changes; a
// write, a fired timer, a control request and a new fixture each show in the
// very next read.
TEST_F(SchedulesTest, TheListReadsShowEveryChangeInTheNextRead) {
    const Json first = get(api("/lights"));
    EXPECT_EQ(get(api("/lights")), first);
    EXPECT_EQ(get(api("/groups"))["2"]["state"]["any_on"], false);
    EXPECT_TRUE(get(api("/scenes")).contains("sceneLounge"));

    put(api("/lights/1/state"), R"({"bri":42})");
    EXPECT_EQ(get(api("/lights"))["1"]["state"]["bri"], 42);
    put(api("/groups/2/action"), R"({"on":true})");
    EXPECT_EQ(get(api("/groups"))["2"]["state"]["all_on"], true);
    EXPECT_EQ(get(api("/lights"))["4"]["state"]["on"], true);
    ASSERT_TRUE(server_->setReachable("1", false));
    EXPECT_EQ(get(api("/lights"))["1"]["state"]["reachable"], false);

    createTimer("PT00:01:00", R"({"bri":7})");
    EXPECT_EQ(get(api("/lights"))["1"]["state"]["bri"], 42);
    server_->advanceClock(2min);
    EXPECT_EQ(get(api("/lights"))["1"]["state"]["bri"], 7);

    Json fixture = smallFixture();
    fixture["lights"]["1"]["name"] = "Renamed";
    fixture["scenes"].erase("sceneLounge");
    ASSERT_TRUE(server_->loadFixtureJson(fixture));
    EXPECT_EQ(get(api("/lights"))["1"]["name"], "Renamed");
    EXPECT_FALSE(get(api("/scenes")).contains("sceneLounge"));

    // Another user's read is refused until that user is made, then served.
    EXPECT_EQ(get("/api/nobody-here/lights")[0]["error"]["type"], 1);
    const std::string user = server_->addUser("app#test");
    EXPECT_EQ(get("/api/" + user + "/lights")["1"]["name"], "Renamed");
}

TEST_F(SchedulesTest, TimerWithoutAutodeleteIsDisabledAfterFiring) {
    std::string id = createTimer("PT00:05:00", R"({"bri":20})", R"(,"autodelete":false)");
    server_->advanceClock(10min);
    EXPECT_EQ(lightState("1")["bri"], 20);
    Json schedule = get(api("/schedules/" + id));
    EXPECT_EQ(schedule["status"], "disabled");
    // Disabled, it does not fire again.
    put(api("/lights/1/state"), R"({"bri":99})");
    server_->advanceClock(10min);
    EXPECT_EQ(lightState("1")["bri"], 99);

    // Enabling restarts it from now.
    Json reply = put(api("/schedules/" + id), R"({"status":"enabled"})");
    EXPECT_EQ(successValue(reply[0], "/schedules/" + id + "/status"), "enabled");
    server_->advanceClock(4min);
    EXPECT_EQ(lightState("1")["bri"], 99);
    server_->advanceClock(1min);
    EXPECT_EQ(lightState("1")["bri"], 20);
}

TEST_F(SchedulesTest, RecurringTimersFireOncePerPeriodEvenInOneBigStep) {
    std::string counted = createTimer("R03/PT00:10:00", R"({"bri_inc":10})");
    std::string forever = createTimer("R/PT00:20:00", R"({"alert":"select"})");
    Json schedule = get(api("/schedules/" + counted));
    EXPECT_FALSE(schedule.contains("autodelete"));  // not for recurring ones
    server_->advanceClock(1h);
    EXPECT_EQ(lightState("1")["bri"], 130);  // 100 + 3 x 10, then it stops
    EXPECT_EQ(get(api("/schedules/" + counted))["status"], "disabled");
    EXPECT_EQ(get(api("/schedules/" + forever))["status"], "enabled");
    // Disabling stops a recurring timer.
    put(api("/schedules/" + counted), R"({"status":"disabled"})");
    put(api("/schedules/" + forever), R"({"command":{"address":")" + api("/groups/0/action") +
                                          R"(","method":"PUT","body":{"bri_inc":1}}})");
    server_->advanceClock(1h);
    EXPECT_EQ(lightState("1")["bri"], 133);
}

TEST_F(SchedulesTest, CreationIsCheckedLikeTheBridge) {
    const std::string command = R"("command":{"address":")" + api("/groups/0/action") +
                                R"(","method":"PUT","body":{"on":false}})";
    struct Case {
        std::string body;
        int type;
        const char* address;
    };
    const Case cases[] = {
        {"{" + command + "}", 5, "/schedules"},
        {R"({"localtime":"PT00:01:00"})", 5, "/schedules"},
        {"{" + command + R"(,"localtime":"PT00:01:00","time":"PT00:01:00"})", 703,
         "/schedules/localtime"},
        {"{" + command + R"(,"localtime":"PT1:00"})", 7, "/schedules/localtime"},
        {"{" + command + R"(,"localtime":"R00/PT00:01:00"})", 7, "/schedules/localtime"},
        {"{" + command + R"(,"localtime":"2001-01-01T00:00:00"})", 7, "/schedules/localtime"},
        // Past what the clock holds.
        {"{" + command + R"(,"time":"2250-01-01T00:00:00"})", 7, "/schedules/time"},
        {"{" + command + R"(,"localtime":"PT00:01:00","status":"paused"})", 7, "/schedules/status"},
        {"{" + command + R"(,"localtime":"PT00:01:00","name":"123456789012345678901234567890123"})",
         7, "/schedules/name"},
        {R"({"command":{"address":"/lights","method":"PUT","body":{}},"localtime":"PT00:01:00"})",
         7, "/schedules/command"},
        {"{not json", 2, "/schedules"},
    };
    for (const auto& c : cases) {
        Json reply = post(api("/schedules"), c.body);
        ASSERT_TRUE(reply.is_array() && !reply.empty()) << c.body;
        EXPECT_EQ(reply[0]["error"]["type"], c.type) << c.body;
        EXPECT_EQ(reply[0]["error"]["address"], c.address) << c.body;
    }
    EXPECT_EQ(get(api("/schedules")), Json::object());
}

TEST_F(SchedulesTest, NamesDefaultAndStayUniqueAndDeleteAnswersWithText) {
    std::string a = createTimer("PT00:01:00", "{}");
    std::string b = createTimer("PT00:01:00", "{}");
    EXPECT_EQ(get(api("/schedules/" + a))["name"], "schedule");
    EXPECT_EQ(get(api("/schedules/" + b))["name"], "schedule 1");
    Json reply = del(api("/schedules/" + a));
    EXPECT_EQ(reply, Json::array({Json{{"success", "/schedules/" + a + " deleted."}}}));
    EXPECT_EQ(del(api("/schedules/" + a))[0]["error"]["type"], 3);
    EXPECT_EQ(get(api("/schedules")).size(), 1u);
}

TEST_F(SchedulesTest, AbsoluteTimeFiresWhenTheClockPassesIt) {
    // A local time two hours ahead of the simulator clock.
    auto at = std::chrono::system_clock::to_time_t(server_->now() + 2h);
    std::tm tm{};
    localtime_r(&at, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::string id = createTimer(text, R"({"on":false})");
    EXPECT_FALSE(get(api("/schedules/" + id)).contains("starttime"));
    server_->advanceClock(1h);
    EXPECT_EQ(lightState("1")["on"], true);
    server_->advanceClock(1h);
    EXPECT_EQ(lightState("1")["on"], false);
    EXPECT_FALSE(exists(id));
}

TEST_F(SchedulesTest, TheServerFiresDueTimersOnItsOwn) {
    createTimer("PT00:00:00", R"({"on":false})");
    // Bounded wait for the server's own tick (every 100 ms), not for a timer of ours.
    EXPECT_TRUE(
        lumora::testing::eventually([&] { return lightState("1")["on"] == false; }, 150, 20ms));
}

}  // namespace
}  // namespace lumora::sim::test
