#include "bridge/commands.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/controller_fixture.h"

using namespace lumora;
using nlohmann::json;

namespace {

class CommandsTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
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
        {[&] { setLampOn(*controller_, lamp_, false); }, "/lights/3/state", R"({"on":false})", 'l',
         "3", "on"},
        {[&] { setLampHue(*controller_, lamp_, 46920); }, "/lights/3/state",
         R"({"hue":46920,"sat":0,"on":true,"transitiontime":2})", 'l', "3", "hue"},
        {[&] { setLampTemperature(*controller_, lamp_, 366); }, "/lights/3/state",
         R"({"ct":366,"on":true,"transitiontime":2})", 'l', "3", "ct"},
        {[&] { setGroupOn(*controller_, room_, true); }, "/groups/5/action", R"({"on":true})", 'g',
         "5", "on"},
        {[&] { setGroupHue(*controller_, room_, 1913); }, "/groups/5/action",
         R"({"hue":1913,"sat":0,"on":true,"transitiontime":2})", 'g', "5", "hue"},
        {[&] { setGroupTemperature(*controller_, room_, 250); }, "/groups/5/action",
         R"({"ct":250,"on":true,"transitiontime":2})", 'g', "5", "ct"},
        {[&] { recallScene(*controller_, "ReanQJmt8t8kpQf"); }, "/groups/0/action",
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
    setLampBrightness(*controller_, lamp_, 4);
    EXPECT_FALSE(controller_->settings().lights()[0].is_on) << "local update is immediate";
    EXPECT_EQ(json::parse(last().body), json({{"bri", 4}, {"on", false}, {"transitiontime", 2}}));
    setLampBrightness(*controller_, lamp_, 5);
    EXPECT_TRUE(controller_->settings().lights()[0].is_on);
    EXPECT_EQ(json::parse(last().body)["on"], true);

    setGroupBrightness(*controller_, room_, 200);
    EXPECT_TRUE(controller_->settings().groups()[0].is_on);

    HueLight stranger = lamp_;
    stranger.lamp_id = "99";
    setLampBrightness(*controller_, stranger, 0);
    EXPECT_EQ(last().item_id, "99") << "sent even without a local record";
}

TEST_F(CommandsTest, BrightnessIncreaseMirrorsTheBridgeSumLocally) {
    controller_->settings().mutateGroups([](auto& g) { g[0].brightness = 230; });
    groupBrightnessIncrease(*controller_, room_, 50);
    EXPECT_EQ(controller_->settings().groups()[0].brightness, 255);
    EXPECT_EQ(json::parse(last().body),
              json({{"bri_inc", 50}, {"transitiontime", 1}, {"on", true}}));

    controller_->settings().mutateGroups([](auto& g) { g[0].brightness = 30; });
    groupBrightnessIncrease(*controller_, room_, -50);
    EXPECT_EQ(controller_->settings().groups()[0].brightness, 0);
    EXPECT_FALSE(controller_->settings().groups()[0].is_on);
    EXPECT_EQ(json::parse(last().body),
              json({{"bri_inc", -50}, {"transitiontime", 1}, {"on", false}}));

    HueGroup gone = room_;
    gone.group_id = "42";
    groupBrightnessIncrease(*controller_, gone, -50);
    EXPECT_EQ(json::parse(last().body)["on"], true) << "an unknown room is switched on";
}

TEST_F(CommandsTest, AnAddressThatIsNoURLDropsTheCommandWithALogLine) {
    HueLight broken = lamp_;
    broken.hue_ip = "my bridge";
    testing::internal::CaptureStdout();
    setLampBrightness(*controller_, broken, 0);
    controller_->settings().setHueIP("bad ip");
    recallScene(*controller_, "x");
    autoOffInMinutes(*controller_, 5);
    testing::internal::GetCapturedStdout();
    exec_->runPending();
    EXPECT_TRUE(controller_->settings().actionQueue().empty());
    EXPECT_TRUE(controller_->settings().lights()[0].is_on) << "no local update either";
    ASSERT_EQ(controller_->settings().log().size(), 3u);
    EXPECT_NE(controller_->settings().log()[0].find("my bridge"), std::string::npos);
}
