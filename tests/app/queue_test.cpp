#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/commands.h"
#include "support/delegate_fixture.h"

using namespace lumora;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

struct Sent {
    std::string method, url;
    json body;
    TimePoint at;
};

class QueueTest : public DelegateFixture {
  protected:
    void SetUp() override {
        DelegateFixture::SetUp();
        delegate_->setTransport([this](const HttpRequest& r) {
            sent_.push_back({r.method, r.url, json::parse(r.body), exec_->now()});
            return HttpResponse{};
        });
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

TEST_F(QueueTest, NewerItemForTheSameTargetAndPropertyReplacesTheWaitingOne) {
    setLampBrightness(*delegate_, light_, 100);
    setLampBrightness(*delegate_, light_, 180);
    exec_->advance(2s);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].body, json({{"bri", 180}, {"on", true}, {"transitiontime", 2}}));
    EXPECT_EQ(sent_[0].method, "PUT");
    EXPECT_EQ(sent_[0].url, "http://10.0.0.2/api/key/lights/3/state");
}

TEST_F(QueueTest, DifferentPropertiesAreAllSentInOrderOnePerTick) {
    const auto start = exec_->now();
    setLampOn(*delegate_, light_, true);
    setLampBrightness(*delegate_, light_, 90);
    setLampTemperature(*delegate_, light_, 300);
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
    setLampOn(*delegate_, light_, false);
    setGroupOn(*delegate_, room_, false);
    exec_->advance(2s);
    EXPECT_EQ(sent_.size(), 2u) << "an older light item survives a newer group item";

    sent_.clear();
    setGroupOn(*delegate_, room_, true);
    setLampOn(*delegate_, light_, true);
    exec_->advance(2s);
    ASSERT_EQ(sent_.size(), 1u) << "an older group item is dropped by a newer light item";
    EXPECT_NE(sent_[0].url.find("/lights/3/state"), std::string::npos);
}

TEST_F(QueueTest, TimerStopsOnTheEmptyingTickAndRestartsOnTheNextAction) {
    EXPECT_TRUE(delegate_->actionQueueProcessor().expired());
    setGroupOn(*delegate_, room_, true);
    EXPECT_FALSE(delegate_->actionQueueProcessor().expired())
        << "the timer exists before the item is queued";
    EXPECT_TRUE(delegate_->settings().actionQueue().empty()) << "the item is queued with UI";
    exec_->runPending();
    EXPECT_EQ(delegate_->settings().actionQueue().size(), 1u);

    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_TRUE(delegate_->actionQueueProcessor().expired()) << "stopped on the same tick";
    EXPECT_EQ(exec_->liveTimers(), 0u);

    setGroupOn(*delegate_, room_, false);
    EXPECT_FALSE(delegate_->actionQueueProcessor().expired());
    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 2u);
    EXPECT_TRUE(delegate_->queueDrained());
}

TEST_F(QueueTest, SleepKeepsWaitingItemsAndWakeSendsThem) {
    setLampOn(*delegate_, light_, true);
    exec_->runPending();
    delegate_->onSleepNote();
    exec_->advance(5s);
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(delegate_->settings().actionQueue().size(), 1u);
    delegate_->onWakeNote();
    exec_->advance(300ms);
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_FALSE(delegate_->bridgeStateRefresher().expired()) << "wake also restarts the refresher";
    delegate_->applicationWillTerminate();
    EXPECT_TRUE(delegate_->bridgeStateRefresher().expired());
}

TEST_F(QueueTest, DelayedOffIsAPostedScheduleOnTheStoredBridge) {
    delegate_->allOffInMinutes(AppDelegate::minutesFromMenuTitle("Off in 60 minutes"));
    exec_->advance(1s);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].method, "POST");
    EXPECT_EQ(sent_[0].url, "http://10.0.0.2/api/key/schedules");
    EXPECT_EQ(sent_[0].body, json::parse(R"({"command":{"address":"/api/key/groups/0/action",
        "method":"PUT","body":{"on":false}},"autodelete":true,"localtime":"PT01:00:00","recycle":true})"));
    EXPECT_EQ(AppDelegate::minutesFromMenuTitle("Off in 30 minutes"), 30);
    EXPECT_EQ(AppDelegate::minutesFromMenuTitle("Off in 5 minutes"), 5);
    EXPECT_EQ(AppDelegate::minutesFromMenuTitle("Off in 300"), 5) << "needs the trailing space";
    EXPECT_EQ(scheduleLocaltime(5), "PT00:05:00");
    EXPECT_EQ(scheduleLocaltime(30), "PT00:30:00");
    EXPECT_EQ(scheduleLocaltime(125), "PT02:05:00");
}

TEST_F(QueueTest, DarknessSwitchesEveryKnownLightOff) {
    HueLight other = light_;
    other.lamp_id = "7";
    delegate_->settings().setLights({light_, other});
    delegate_->allOff();
    exec_->advance(2s);
    EXPECT_EQ(sentProperties(), (std::vector<std::string>{"/lights/3/state {\"on\":false}",
                                                          "/lights/7/state {\"on\":false}"}));
    sent_.clear();
    delegate_->settings().setLights({});
    delegate_->allOff();
    exec_->advance(2s);
    EXPECT_TRUE(sent_.empty());
}
