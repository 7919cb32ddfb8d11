#include "bridge/decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

using namespace lumora;

namespace {

// Real-shaped light objects (trimmed), keyed by the bridge's ids.
constexpr const char* kExtendedXY = R"({"state":{"on":true,"bri":168,"hue":16755,"sat":51,
  "effect":"none","xy":[0.4046,0.3915],"ct":284,"alert":"select","colormode":"xy",
  "mode":"homeautomation","reachable":true},"type":"Extended color light","name":"Living Ceiling",
  "modelid":"LCT001","manufacturername":"Philips","productname":"Hue color lamp",
  "capabilities":{"certified":true,"control":{"mindimlevel":5000,"maxlumen":600,
  "colorgamuttype":"B","colorgamut":[[0.675,0.322],[0.409,0.518],[0.167,0.04]],
  "ct":{"min":153,"max":500}},"streaming":{"renderer":true,"proxy":false}},
  "uniqueid":"00:17:88:01:00:aa:bb:cc-0b","swversion":"5.127.1.26581"})";

std::string lightsReply(std::initializer_list<std::pair<const char*, std::string>> lights) {
    std::string s = "{";
    for (const auto& [id, body] : lights) {
        if (s.size() > 1) s += ",";
        s += "\"" + std::string(id) + "\":" + body;
    }
    return s + "}";
}

std::string light(const std::string& type, const std::string& colormode, bool reachable = true,
                  const std::string& extra = "") {
    std::string state = R"({"on":true,"bri":100)";
    if (!colormode.empty()) state += R"(,"colormode":")" + colormode + "\"";
    state += std::string(",\"reachable\":") + (reachable ? "true" : "false") + "}";
    std::string s = R"({"state":)" + state + R"(,"name":"L")";
    if (!type.empty()) s += R"(,"type":")" + type + "\"";
    return s + extra + "}";
}

HueLight only(const std::string& reply) {
    auto lights = decodeLights(reply, "10.0.0.2", "key");
    EXPECT_TRUE(lights);
    EXPECT_EQ(lights->size(), 1u);
    return lights->empty() ? HueLight{} : lights->front();
}

struct Caps {
    bool color, ambient, brightness;
};

void expectCaps(const HueLight& l, Caps c, const std::string& what) {
    EXPECT_EQ(l.allows_color, c.color) << what;
    EXPECT_EQ(l.allows_ambient, c.ambient) << what;
    EXPECT_EQ(l.allows_brightness, c.brightness) << what;
}

}  // namespace

TEST(DecodeLights, ReadsARealExtendedColourLight) {
    HueLight l = only(lightsReply({{"3", kExtendedXY}}));
    const HueLight expected{.lamp_id = "3",
                            .name = "Living Ceiling",
                            .product_name = "Hue color lamp",
                            .model_id = "LCT001",
                            .allows_color = true,
                            .allows_brightness = true,
                            .is_on = true,
                            .brightness = 168,
                            .hue = 16755,
                            .saturation = 51,
                            .color_temperature = 284,
                            .xy_x = 0.4046f,
                            .xy_y = 0.3915f,
                            .ct_min = 153,
                            .ct_max = 500,
                            .hue_ip = "10.0.0.2",
                            .hue_key = "key",
                            .unique_id = "00:17:88:01:00:aa:bb:cc-0b"};
    EXPECT_EQ(nlohmann::json(l), nlohmann::json(expected));
}

TEST(DecodeLights, CapabilitiesFollowColourModeAndType) {
    struct Case {
        std::string type, colormode;
        Caps caps;
    } cases[] = {
        {"Extended color light", "xy", {true, false, true}},
        {"Extended color light", "hs", {true, false, true}},
        {"Extended color light", "ct", {true, false, true}},
        {"Extended color light", "CT", {true, false, true}},
        {"Color light", "xy", {true, false, true}},
        {"Color temperature light", "ct", {false, true, true}},
        {"Color temperature light", "", {false, true, true}},
        {"Dimmable light", "", {false, false, true}},
        {"On/Off plug-in unit", "", {false, false, false}},
        {"On/off light", "xy", {false, false, false}},
        {"", "", {false, false, true}},
        {"", "ct", {false, true, true}},
        {"", "xy", {true, false, true}},
        {"Extended color ambiance light", "ct", {false, true, true}},
        {"Something else", "ct", {false, true, true}},
    };
    for (const auto& c : cases) {
        HueLight l = only(lightsReply({{"1", light(c.type, c.colormode)}}));
        expectCaps(l, c.caps, "type '" + c.type + "' colormode '" + c.colormode + "'");
    }
}

TEST(DecodeLights, OnlyReachableLightsInReplyOrderADuplicateInItsFirstPlace) {
    std::string noReachable = R"({"state":{"on":true,"bri":5},"name":"Ghost"})";
    auto lights = decodeLights(lightsReply({{"9", light("Dimmable light", "")},
                                            {"2", light("Dimmable light", "", false)},
                                            {"10", noReachable},
                                            {"1", light("Dimmable light", "")},
                                            {"4", R"({"name":"No state"})"},
                                            {"9", light("Dimmable light", "", true, ",\"x\":1")}}),
                               "ip", "k");
    ASSERT_TRUE(lights);
    std::vector<std::string> ids;
    for (const auto& l : *lights) ids.push_back(l.lamp_id);
    EXPECT_EQ(ids, (std::vector<std::string>{"9", "1"}));
}

TEST(DecodeLights, SpecialModelOverridesRangeAndColour) {
    HueLight l = only(lightsReply({{"5", light("Color temperature light", "xy", true,
                                               R"(,"modelid":"TRADFRI bulb E27 WS opal 980lm",
                                                  "capabilities":{"control":{"ct":{"min":153,"max":454}}})")}}));
    expectCaps(l, {false, true, true}, "special model");
    EXPECT_EQ(l.ct_min, 250);
    EXPECT_EQ(l.ct_max, 454);

    // Letter case matters for the model name.
    HueLight other =
        only(lightsReply({{"5", light("Extended color light", "xy", true,
                                      R"(,"modelid":"tradfri bulb e27 ws opal 980lm")")}}));
    EXPECT_TRUE(other.allows_color);
    EXPECT_EQ(other.ct_max, 10000);
}

TEST(DecodeLights, OddMembersFallBackToDefaults) {
    // A wrong kind at the top level drops just that member.
    HueLight l = only(lightsReply(
        {{"1", R"({"state":{"on":true,"reachable":true,"xy":[0.1,0.2,0.3]},"name":5,"type":["x"],
                 "modelid":null,"productname":"P"})"}}));
    EXPECT_EQ(l.name, "No name");
    EXPECT_EQ(l.product_name, "P");
    EXPECT_EQ(l.model_id, "");
    EXPECT_EQ(l.xy_x, 0.0f);
    EXPECT_EQ(l.xy_y, 0.0f);
    expectCaps(l, {false, false, true}, "no type");

    // A wrong kind inside state makes the whole state absent: the light is skipped.
    auto lights = decodeLights(
        lightsReply({{"1", R"({"state":{"on":true,"reachable":true,"bri":"x"}})"}}), "ip", "k");
    ASSERT_TRUE(lights);
    EXPECT_TRUE(lights->empty());

    // A wrong kind inside capabilities drops the capabilities, not the light.
    HueLight c = only(lightsReply({{"1", light("Color temperature light", "ct", true,
                                               R"(,"capabilities":{"control":{"maxlumen":"bright",
                                                  "ct":{"min":200,"max":400}}})")}}));
    EXPECT_EQ(c.ct_min, 0);
    EXPECT_EQ(c.ct_max, 10000);

    // Only the bound that is there replaces the default.
    HueLight half =
        only(lightsReply({{"1", light("Color temperature light", "ct", true,
                                      R"(,"capabilities":{"control":{"ct":{"max":454}}})")}}));
    EXPECT_EQ(half.ct_min, 0);
    EXPECT_EQ(half.ct_max, 454);
}

TEST(DecodeReplies, UnreadableRepliesAndEmptyObjects) {
    const std::string errorList =
        R"([{"error":{"type":1,"address":"/lights","description":"unauthorized user"}}])";
    for (const std::string& bad :
         {errorList, std::string("null"), std::string("{\"1\":5}"), std::string("{\"1\":null}"),
          std::string("{\"1\":{}"), std::string("<html>busy</html>"), std::string("")}) {
        EXPECT_FALSE(decodeLights(bad, "ip", "k")) << bad;
        EXPECT_FALSE(decodeGroups(bad, "ip", "k")) << bad;
        EXPECT_FALSE(decodeScenes(bad, "ip", "k")) << bad;
    }
    auto empty = decodeLights("{}", "ip", "k");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_TRUE(decodeGroups("{}", "ip", "k")->empty());
    EXPECT_TRUE(decodeScenes("{}", "ip", "k")->empty());
}

TEST(DecodeGroups, KeepsRoomsAndZonesSortedByName) {
    const char* reply = R"({
      "1":{"name":"Kitchen","lights":["1","2"],"sensors":[],"type":"Room",
           "state":{"all_on":true,"any_on":true},"recycle":false,"class":"Kitchen",
           "action":{"on":true,"bri":200,"hue":100,"sat":20,"effect":"none","xy":[0.4,0.4],
                     "ct":300,"alert":"none","colormode":"ct"}},
      "2":{"name":"bedroom","lights":["3"],"type":"Room","state":{"all_on":false,"any_on":false},
           "recycle":false,"class":"Bedroom","action":{"on":false,"bri":61,"alert":"none"}},
      "3":{"name":"TV area","lights":["1"],"type":"Entertainment","state":{"all_on":false,"any_on":false},
           "class":"TV","action":{"on":false}},
      "4":{"name":"Lamps","lights":["1"],"type":"LightGroup","state":{"all_on":false,"any_on":false},
           "action":{"on":false}},
      "5":{"name":"Attic","lights":[],"type":"zone","state":{"all_on":false,"any_on":false},
           "class":"Attic","action":{"on":false}},
      "6":{"name":"Old","lights":[],"type":"Room","state":{"all_on":false,"any_on":false},"recycle":true},
      "7":{"name":"Stateless","lights":[],"type":"Room"},
      "8":{"name":"Typeless","lights":["4"],"state":{"all_on":false,"any_on":true}},
      "9":{"name":"attic","type":"Room","state":{"all_on":false,"any_on":false},
           "action":{"on":true,"bri":"high"}}
    })";
    auto groups = decodeGroups(reply, "10.0.0.2", "key");
    ASSERT_TRUE(groups);
    std::vector<std::string> names, types;
    for (const auto& g : *groups) {
        names.push_back(g.name);
        types.push_back(g.type);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Attic", "attic", "bedroom", "Kitchen", "Typeless"}));
    EXPECT_EQ(types, (std::vector<std::string>{"zone", "Room", "Room", "Room", "unknown"}));

    const HueGroup& kitchen = (*groups)[3];
    const HueGroup expected{.id = kitchen.id,
                            .group_id = "1",
                            .name = "Kitchen",
                            .lights = {"1", "2"},
                            .type = "Room",
                            .group_class = "Kitchen",
                            .all_on = true,
                            .any_on = true,
                            .is_on = true,
                            .brightness = 200,
                            .saturation = 20,
                            .hue = 100,
                            .color_temperature = 300,
                            .hue_ip = "10.0.0.2",
                            .hue_key = "key"};
    EXPECT_EQ(nlohmann::json(kitchen), nlohmann::json(expected));

    // A dimmable-only action reads what is there; an unreadable action reads as none.
    EXPECT_EQ((*groups)[2].brightness, 61);
    EXPECT_FALSE((*groups)[1].is_on);
    EXPECT_EQ((*groups)[1].brightness, 0);
    EXPECT_TRUE((*groups)[4].any_on);
}

TEST(DecodeScenes, KeepsCurrentScenesInReplyOrder) {
    const char* reply = R"({
      "ReanQJmt8t8kpQf":{"name":"Nightlight","type":"GroupScene","group":"1","lights":["1"],
          "owner":"abc","recycle":false,"locked":false,"appdata":{"version":1,"data":"x"},
          "picture":"","lastupdated":"2017-12-16T19:34:03","version":2},
      "4e1c6b20e-on-0":{"name":"Tap scene 1","type":"LightScene","lights":["2"],"owner":"none",
          "recycle":true,"locked":true,"picture":"","lastupdated":null,"version":1},
      "b":{"name":"No version","lights":["2"]},
      "c":{"name":"Recycled","version":2,"recycle":true},
      "a":{"version":3,"lights":[1,2]},
      "d":{"name":"Bright","version":2.0,"recycle":null}
    })";
    auto scenes = decodeScenes(reply, "ip", "k");
    ASSERT_TRUE(scenes);
    ASSERT_EQ(scenes->size(), 3u);
    EXPECT_EQ((*scenes)[0].scene_id, "ReanQJmt8t8kpQf");
    EXPECT_EQ((*scenes)[0].type, "GroupScene");
    EXPECT_EQ((*scenes)[0].group, "1");
    EXPECT_EQ((*scenes)[0].lights, (std::vector<std::string>{"1"}));
    EXPECT_EQ((*scenes)[1].scene_id, "a");
    EXPECT_EQ((*scenes)[1].name, "No name");
    EXPECT_EQ((*scenes)[1].type, "unknown");
    EXPECT_EQ((*scenes)[1].group, "");
    EXPECT_TRUE((*scenes)[1].lights.empty());
    EXPECT_EQ((*scenes)[2].scene_id, "d");
}

namespace {

// A scenes reply of `members` tiny members that decodes to nothing.
std::string manyMembers(int members) {
    std::string body = "{";
    for (int i = 0; i < members; ++i) {
        if (i) body += ",";
        body += "\"" + std::to_string(i) + "\":{\"name\":\"x\"}";
    }
    return body + "}";
}

// This thread's processor time: time spent waiting for a core while other
// programs run does not count.
std::chrono::duration<double> threadTime() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Processor time of one decode of `body`.
std::chrono::duration<double> decodeTime(const std::string& body) {
    const auto start = threadTime();
    auto scenes = decodeScenes(body, "ip", "k");
    const auto took = threadTime() - start;
    EXPECT_TRUE(scenes && scenes->empty());
    return took;
}

}  // namespace

TEST(DecodeReplies, ManyMembersDecodeInLinearishTime) {
    // A bridge talking nonsense: an object of very many tiny members must not
    // take quadratic time (a 16 MiB one would then take half an hour).
    // Measured as growth against a baseline taken here, on the same machine
    // under the same load, so a slow or busy machine (a sanitizer build, a
    // parallel test run) does not matter. Twenty times the members cost 25 to
    // 40 times as long (the object is a tree), a quadratic path 400 to 600.
    // Each size is timed a few times, interleaved, and its best time taken:
    // the one least disturbed by whatever else runs.
    constexpr int kSmall = 2'000, kFactor = 20;
    const std::string small = manyMembers(kSmall), large = manyMembers(kSmall * kFactor);
    std::chrono::duration<double> bestSmall{1e9}, bestLarge{1e9};
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 3; ++i) bestSmall = std::min(bestSmall, decodeTime(small));
        bestLarge = std::min(bestLarge, decodeTime(large));
    }
    const double growth = bestLarge / bestSmall;
    RecordProperty("growth", std::to_string(growth));
    EXPECT_LT(growth, 6.0 * kFactor)
        << "small " << bestSmall.count() << " s, large " << bestLarge.count() << " s";
}

TEST(DecodeReplies, WholeNumbersAreReadByOneRule) {
    struct Case {
        const char* json;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"254", 254},
        {"254.0", 254},
        {"-1.0", -1},
        {"1e2", 100},
        {"9223372036854775807", INT64_MAX},
        {"254.5", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"1e300", std::nullopt},
        {"\"254\"", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wholeNumber(nlohmann::json::parse(c.json)), c.expected) << c.json;

    // The decoder uses it: a fraction part of zero reads, any other drops the state.
    HueLight l =
        only(lightsReply({{"1", R"({"state":{"on":true,"reachable":true,"bri":254.0}})"}}));
    EXPECT_EQ(l.brightness, 254);
    auto lights = decodeLights(
        lightsReply({{"1", R"({"state":{"on":true,"reachable":true,"bri":254.5}})"}}), "ip", "k");
    ASSERT_TRUE(lights);
    EXPECT_TRUE(lights->empty());
}
