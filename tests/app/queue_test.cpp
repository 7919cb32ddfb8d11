#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/commands.h"
#include "support/controller_fixture.h"

using namespace lumora;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

struct Sent {
    std::string method, url;
    json body;
    TimePoint at;
};

class QueueTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        transport_ = [this](const HttpRequest& r) {
            sent_.push_back({r.method, r.url, json::parse(r.body), exec_->now()});
            return HttpResponse{};
        };
        // The same id for a light and a room, for the superseding rules.
        room_ = group("3");
        settings().setGroups({room_});
    }
    std::vector<std::string> sentProperties() {
        std::vector<std::string> out;
        for (auto& s : sent_)
            out.push_back(s.url.substr(s.url.find("/api/key") + 8) + " " + s.body.dump());
        return out;
    }

    std::vector<Sent> sent_;
    HueLight& light_ = lamp_;
};
}  // namespace

TEST_F(QueueTest, AFailedCommandIsLoggedOncePerChangeAndTheQueueGoesOn) {
    std::vector<HttpResponse> replies;
    transport_ = [&](const HttpRequest& r) {
        sent_.push_back({r.method, r.url, json::parse(r.body), exec_->now()});
        HttpResponse next = replies.front();
        replies.erase(replies.begin());
        return next;
    };
    auto status = [](int code, std::string body = "") {
        HttpResponse r;
        r.status = code;
        r.body = std::move(body);
        return r;
    };
    HttpResponse timedOut;
    timedOut.error = HttpError::timedOut;
    replies = {status(503), status(503),
               timedOut,    status(200, R"([{"success":{}}])"),
               status(429), status(200, R"([{"error":{"type":201,"description":"off"}}])")};
    setLampOn(*controller_, light_, true);
    setLampBrightness(*controller_, light_, 50);
    setLampHue(*controller_, light_, 1000);
    setLampTemperature(*controller_, light_, 300);
    setGroupOn(*controller_, room_, false);
    setGroupBrightness(*controller_, room_, 60);
    exec_->advance(3s);
    ASSERT_EQ(sent_.size(), 6u) << "every command is sent, whatever became of the one before";

    std::vector<std::string> notes;
    for (const auto& line : settings().log())
        if (line.rfind("Command not taken", 0) == 0) notes.push_back(line);
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "Command not taken: PUT http://10.0.0.2/api/k.../lights/3/state: the "
                         "bridge answered 503 Service Unavailable",
                         "Command not taken: PUT http://10.0.0.2/api/k.../lights/3/state: the "
                         "bridge did not answer in time",
                         "Command not taken: PUT http://10.0.0.2/api/k.../groups/3/action: the "
                         "bridge is busy (429 Too Many Requests)",
                     }));
}

TEST_F(QueueTest, NewerItemForTheSameTargetAndPropertyReplacesTheWaitingOne) {
    setLampBrightness(*controller_, light_, 100);
    setLampBrightness(*controller_, light_, 180);
    exec_->advance(2s);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].body, json({{"bri", 180}, {"on", true}, {"transitiontime", 2}}));
    EXPECT_EQ(sent_[0].method, "PUT");
    EXPECT_EQ(sent_[0].url, "http://10.0.0.2/api/key/lights/3/state");
}

TEST_F(QueueTest, DifferentPropertiesAreAllSentInOrderOnePerTick) {
    const auto start = exec_->now();
    setLampOn(*controller_, light_, true);
    setLampBrightness(*controller_, light_, 90);
    setLampTemperature(*controller_, light_, 300);
    exec_->advance(5s);
    EXPECT_EQ(sentProperties(),
              (std::vector<std::string>{
                  "/lights/3/state {\"on\":true}",
                  "/lights/3/state {\"bri\":90,\"on\":true,\"transitiontime\":2}",
                  "/lights/3/state {\"ct\":300,\"on\":true,\"transitiontime\":2}"}));
    ASSERT_EQ(sent_.size(), 3u);
    EXPECT_EQ(sent_[0].at - start, 300ms);
    EXPECT_EQ(sent_[1].at - start, 600ms);
    EXPECT_EQ(sent_[2].at - start, 900ms);
}

TEST_F(QueueTest, LightAndGroupItemsForTheSameIdSupersedeOneWayOnly) {
    setLampOn(*controller_, light_, false);
    setGroupOn(*controller_, room_, false);
    exec_->advance(2s);
    EXPECT_EQ(sent_.size(), 2u) << "an older light item survives a newer group item";

    sent_.clear();
    setGroupOn(*controller_, room_, true);
    setLampOn(*controller_, light_, true);
    exec_->advance(2s);
    ASSERT_EQ(sent_.size(), 1u) << "an older group item is dropped by a newer light item";
    EXPECT_NE(sent_[0].url.find("/lights/3/state"), std::string::npos);
}

TEST_F(QueueTest, TimerStopsOnTheEmptyingTickAndRestartsOnTheNextAction) {
    EXPECT_TRUE(controller_->actionQueueProcessor().expired());
    setGroupOn(*controller_, room_, true);
    EXPECT_FALSE(controller_->actionQueueProcessor().expired())
        << "the timer exists before the item is queued";
    EXPECT_TRUE(controller_->settings().actionQueue().empty()) << "the item is queued with UI";
    exec_->runPending();
    EXPECT_EQ(controller_->settings().actionQueue().size(), 1u);

    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_TRUE(controller_->actionQueueProcessor().expired()) << "stopped on the same tick";
    EXPECT_EQ(exec_->liveTimers(), 0u);

    setGroupOn(*controller_, room_, false);
    EXPECT_FALSE(controller_->actionQueueProcessor().expired());
    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 2u);
    EXPECT_TRUE(controller_->queueDrained());
}

TEST_F(QueueTest, SleepKeepsWaitingItemsAndWakeSendsThem) {
    setLampOn(*controller_, light_, true);
    exec_->runPending();
    controller_->onSleepNote();
    exec_->advance(5s);
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(controller_->settings().actionQueue().size(), 1u);
    controller_->onWakeNote();
    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_FALSE(controller_->bridgeStateRefresher().expired())
        << "wake also restarts the refresher";
    controller_->applicationWillTerminate();
    EXPECT_TRUE(controller_->bridgeStateRefresher().expired());
}

TEST_F(QueueTest, DelayedOffIsAPostedScheduleOnTheStoredBridge) {
    controller_->allOffInMinutes(60);
    exec_->advance(1s);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].method, "POST");
    EXPECT_EQ(sent_[0].url, "http://10.0.0.2/api/key/schedules");
    EXPECT_EQ(sent_[0].body, json::parse(R"({"command":{"address":"/api/key/groups/0/action",
        "method":"PUT","body":{"on":false}},"autodelete":true,"localtime":"PT01:00:00","recycle":true})"));
    // 5 and 30 minutes: ShellTest.TheDelayedOffItemsSchedule5_30And60Minutes.
    EXPECT_EQ(scheduleLocaltime(125), "PT02:05:00");
}

TEST_F(QueueTest, CommandsFindTheirRecordByBridgeIdOnly) {
    HueGroup a = group("1"), b = group("2");
    settings().setLights({light("5"), light("6")});
    settings().setGroups({a, b});
    HueLight old = light("6");
    old.name = "an older copy";
    EXPECT_EQ(controller_->getLampIndex(old), 1);
    old.lamp_id = "7";
    EXPECT_EQ(controller_->getLampIndex(old), -1);
    EXPECT_EQ(controller_->getGroupIndex(group("2")), 1);
}
