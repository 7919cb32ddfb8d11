#include "bridge/records.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <unordered_set>

using namespace lumora;
using nlohmann::json;

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

// The members themselves are checked where the commands are queued.
TEST(Records, CommandBodiesAreCompact) {
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
    // The same bridge group read again differs by identity alone.
    HueGroup back = j.get<HueGroup>();
    EXPECT_NE(back, g);
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

TEST(Records, HashesFollowEqualityMemberByMember) {
    auto hashOf = [](const auto& r) { return std::hash<std::decay_t<decltype(r)>>{}(r); };
    HueLight a;
    a.lamp_id = "3";
    a.name = "Desk";
    HueLight b = a;
    EXPECT_EQ(hashOf(a), hashOf(b));
    // Any one member changes the hash, the last one as much as the first.
    b.unique_id = "00:17:88:01:00:bd:c7:b9-0b";
    EXPECT_NE(hashOf(a), hashOf(b));
    b = a;
    b.xy_x = 0.5f;
    EXPECT_NE(hashOf(a), hashOf(b));

    HueGroup g;
    g.group_id = "1";
    g.lights = {"1", "2"};
    HueGroup again = g;
    EXPECT_EQ(hashOf(g), hashOf(again));
    again.id = Uuid::random();  // the same bridge group read another time
    EXPECT_NE(hashOf(g), hashOf(again));
    // A light moving between two lists is not the same group.
    HueGroup moved = g;
    moved.lights = {"1"};
    moved.group_class = "2";
    EXPECT_NE(hashOf(g), hashOf(moved));

    HueScene s;
    s.scene_id = "abc";
    HueScene t = s;
    t.hue_key = "other";
    EXPECT_EQ((std::unordered_set<HueScene>{s, s, t}).size(), 2u);
}
