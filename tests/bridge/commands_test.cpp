#include "bridge/commands.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/delegate_fixture.h"

using namespace lumora;
using nlohmann::json;

namespace {

class CommandsTest : public DelegateFixture {
  protected:
    void SetUp() override {
        DelegateFixture::SetUp();
        // With a port, as a bridge address may carry one.
        settings().setHueIP("10.0.0.2:8080");
        lamp_.hue_ip = room_.hue_ip = "10.0.0.2:8080";
        lamp_.is_on = true;
        settings().setLights({lamp_});
        settings().setGroups({room_});
    }
    // The item that waits after the command ran.
    ActionQueueItem last() {
        auto& q = queued();
        EXPECT_FALSE(q.empty());
        return q.empty() ? ActionQueueItem{} : q.back();
    }
};
}  // namespace

TEST_F(CommandsTest, ItemsCarryAddressBodyFlagsAndProperty) {
    struct Case {
        std::function<void()> call;
        std::string path, body;
        char kind;  // 'l' a light update, 'g' a group update, 's' neither
        std::string id, property;
    } cases[] = {
        {[&] { setLampOn(*delegate_, lamp_, false); }, "/lights/3/state", R"({"on":false})", 'l',
         "3", "on"},
        {[&] { setLampHue(*delegate_, lamp_, 46920); }, "/lights/3/state",
         R"({"hue":46920,"sat":0,"on":true,"transitiontime":2})", 'l', "3", "hue"},
        {[&] { setLampTemperature(*delegate_, lamp_, 366); }, "/lights/3/state",
         R"({"ct":366,"on":true,"transitiontime":2})", 'l', "3", "ct"},
        {[&] { setGroupOn(*delegate_, room_, true); }, "/groups/5/action", R"({"on":true})", 'g',
         "5", "on"},
        {[&] { setGroupHue(*delegate_, room_, 1913); }, "/groups/5/action",
         R"({"hue":1913,"sat":0,"on":true,"transitiontime":2})", 'g', "5", "hue"},
        {[&] { setGroupTemperature(*delegate_, room_, 250); }, "/groups/5/action",
         R"({"ct":250,"on":true,"transitiontime":2})", 'g', "5", "ct"},
        {[&] { recallScene(*delegate_, "ReanQJmt8t8kpQf"); }, "/groups/0/action",
         R"({"scene":"ReanQJmt8t8kpQf"})", 's', "ReanQJmt8t8kpQf", "scene"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.property);
        c.call();
        ActionQueueItem item = last();
        EXPECT_EQ(item.url, "http://10.0.0.2:8080/api/key" + c.path);
        EXPECT_EQ(json::parse(item.body), json::parse(c.body));
        EXPECT_EQ(item.is_light_update, c.kind == 'l');
        EXPECT_EQ(item.is_group_update, c.kind == 'g');
        EXPECT_EQ(item.item_id, c.id);
        EXPECT_EQ(item.property, c.property);
        EXPECT_EQ(item.issued_at, exec_->wallNow());
    }
}

TEST_F(CommandsTest, BrightnessBelowFiveSwitchesOffHereAndOnTheBridge) {
    setLampBrightness(*delegate_, lamp_, 4);
    EXPECT_FALSE(delegate_->settings().lights()[0].is_on) << "local update is immediate";
    EXPECT_EQ(json::parse(last().body), json({{"bri", 4}, {"on", false}, {"transitiontime", 2}}));
    setLampBrightness(*delegate_, lamp_, 5);
    EXPECT_TRUE(delegate_->settings().lights()[0].is_on);
    EXPECT_EQ(json::parse(last().body)["on"], true);

    setGroupBrightness(*delegate_, room_, 200);
    EXPECT_TRUE(delegate_->settings().groups()[0].is_on);

    HueLight stranger = lamp_;
    stranger.lamp_id = "99";
    setLampBrightness(*delegate_, stranger, 0);
    EXPECT_EQ(last().item_id, "99") << "sent even without a local record";
}

TEST_F(CommandsTest, BrightnessIncreaseMirrorsTheBridgeSumLocally) {
    delegate_->settings().mutateGroups([](auto& g) { g[0].brightness = 230; });
    groupBrightnessIncrease(*delegate_, room_, 50);
    EXPECT_EQ(delegate_->settings().groups()[0].brightness, 255);
    EXPECT_EQ(json::parse(last().body),
              json({{"bri_inc", 50}, {"transitiontime", 1}, {"on", true}}));

    delegate_->settings().mutateGroups([](auto& g) { g[0].brightness = 30; });
    groupBrightnessIncrease(*delegate_, room_, -50);
    EXPECT_EQ(delegate_->settings().groups()[0].brightness, 0);
    EXPECT_FALSE(delegate_->settings().groups()[0].is_on);
    EXPECT_EQ(json::parse(last().body),
              json({{"bri_inc", -50}, {"transitiontime", 1}, {"on", false}}));

    HueGroup gone = room_;
    gone.group_id = "42";
    groupBrightnessIncrease(*delegate_, gone, -50);
    EXPECT_EQ(json::parse(last().body)["on"], true) << "an unknown room is switched on";
}

TEST_F(CommandsTest, SceneRecallUsesTheStoredBridgeNotTheScenesRecord) {
    delegate_->settings().setHueIP("192.168.7.7");
    recallScene(*delegate_, "abc");
    EXPECT_EQ(last().url, "http://192.168.7.7/api/key/groups/0/action");
}

TEST_F(CommandsTest, AnAddressThatIsNoURLDropsTheCommandWithALogLine) {
    HueLight broken = lamp_;
    broken.hue_ip = "my bridge";
    testing::internal::CaptureStdout();
    setLampBrightness(*delegate_, broken, 0);
    delegate_->settings().setHueIP("bad ip");
    recallScene(*delegate_, "x");
    autoOffInMinutes(*delegate_, 5);
    testing::internal::GetCapturedStdout();
    exec_->runPending();
    EXPECT_TRUE(delegate_->settings().actionQueue().empty());
    EXPECT_TRUE(delegate_->settings().lights()[0].is_on) << "no local update either";
    ASSERT_EQ(delegate_->settings().log().size(), 3u);
    EXPECT_NE(delegate_->settings().log()[0].find("my bridge"), std::string::npos);
}
