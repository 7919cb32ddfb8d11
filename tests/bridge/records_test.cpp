#include <gtest/gtest.h>

#include <set>

#include "bridge/records.h"

using namespace lumora;
using nlohmann::json;

TEST(Records, EmptyRecordsCarryTheirDefaults) {
    HueLight l;
    EXPECT_EQ(l.ct_min, 0);
    EXPECT_EQ(l.ct_max, 10000);
    HueGroup g;
    EXPECT_EQ(g.ct_min, 153);
    EXPECT_EQ(g.ct_max, 500);
}

TEST(Records, GroupsFromTheSameBridgeGroupDifferOnlyByIdentity) {
    HueGroup a, b;
    a.group_id = b.group_id = "4";
    a.name = b.name = "Kitchen";
    EXPECT_NE(a, b);
    EXPECT_EQ(a.group_id, b.group_id);
    HueGroup copy = a;
    EXPECT_EQ(copy, a);
}

TEST(Records, IdentitiesAreVersion4UuidsAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string s = HueScene{}.id.toString();
        ASSERT_EQ(s.size(), 36u);
        EXPECT_EQ(s[14], '4');
        EXPECT_TRUE(std::string("89AB").find(s[19]) != std::string::npos) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Records, CommandBodiesEncodeExactlyTheirMembers) {
    EXPECT_EQ(json::parse(encodeBody(HueGroupBrightnessIncrease{-30, 1, true})),
              json({{"bri_inc", -30}, {"transitiontime", 1}, {"on", true}}));
    EXPECT_EQ(json::parse(encodeBody(HueLampHueSatUpdate{46920, 0, true, 2})),
              json({{"hue", 46920}, {"sat", 0}, {"on", true}, {"transitiontime", 2}}));
    EXPECT_EQ(json::parse(encodeBody(HueSceneRecall{"AB34EF5"})), json({{"scene", "AB34EF5"}}));

    HueScheduleOffMinutes off{{"/api/key/groups/0/action", "PUT", {false}}, true, "PT01:00:00", true};
    EXPECT_EQ(json::parse(encodeBody(off)), json::parse(R"({
        "command": {"address": "/api/key/groups/0/action", "method": "PUT", "body": {"on": false}},
        "autodelete": true, "localtime": "PT01:00:00", "recycle": true})"));
    // Compact: no white space in the text sent.
    EXPECT_EQ(encodeBody(HueLampOnOffUpdate{false}), R"({"on":false})");
}

TEST(Records, JsonFormRoundTripsAndMakesFreshIdentity) {
    HueGroup g;
    g.group_id = "7";
    g.name = "Office";
    g.lights = {"1", "2"};
    g.type = "Room";
    g.brightness = 200;
    json j = g;
    EXPECT_FALSE(j.contains("id"));
    HueGroup back = j.get<HueGroup>();
    EXPECT_NE(back.id, g.id);
    back.id = g.id;
    EXPECT_EQ(back, g);

    HueLight l;
    l.lamp_id = "3";
    l.xy_x = 0.25f;
    HueLight lb = json(l).get<HueLight>();
    EXPECT_EQ(lb, l);
    json missing = json(l);
    missing.erase("unique_id");
    EXPECT_THROW(missing.get<HueLight>(), json::exception);
}

TEST(Records, ClampedAppliesLowerThenUpper) {
    EXPECT_EQ(clamped(300, 0, 255), 255);
    EXPECT_EQ(clamped(-4, 0, 255), 0);
    EXPECT_EQ(clamped(17, 0, 255), 17);
    EXPECT_EQ(clamped(5, 10, 3), 3);
    EXPECT_EQ(clamped(50, 10, 3), 3);
    EXPECT_DOUBLE_EQ(clamped(1.5, 0.0, 1.0), 1.0);
}
