// PUT /lights/<id>/state: value checks, clamping, increments, colour mode and
// the error replies.

#include "sim_test_support.h"

namespace lumora::sim::test {
namespace {

class LightStateTest : public SimServerTest {
  protected:
    Json putState(const std::string& id, const std::string& body) {
        return put(api("/lights/" + id + "/state"), body);
    }
};

struct Stored {
    const char* light;
    const char* body;
    const char* member;
    Json expected;  // echoed in the reply and stored
};

class StoredValueTest : public LightStateTest, public ::testing::WithParamInterface<Stored> {};

TEST_P(StoredValueTest, EchoesAndStoresTheBridgesValue) {
    const Stored& c = GetParam();
    Json reply = putState(c.light, c.body);
    ASSERT_EQ(reply.size(), 1u) << reply.dump();
    std::string address = "/lights/" + std::string(c.light) + "/state/" + c.member;
    EXPECT_EQ(successValue(reply[0], address), c.expected);
    EXPECT_EQ(lightState(c.light)[c.member], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Clamping, StoredValueTest,
    ::testing::Values(
        Stored{"1", R"({"bri":255})", "bri", 254}, Stored{"1", R"({"bri":0})", "bri", 1},
        Stored{"1", R"({"bri":1})", "bri", 1}, Stored{"1", R"({"sat":255})", "sat", 254},
        Stored{"1", R"({"hue":65535})", "hue", 65535},
        // ct goes to the light's own range: 153-500 and 153-454.
        Stored{"1", R"({"ct":600})", "ct", 500}, Stored{"1", R"({"ct":100})", "ct", 153},
        Stored{"2", R"({"ct":500})", "ct", 454}, Stored{"2", R"({"ct":454})", "ct", 454},
        Stored{"1", R"({"xy":[0.123456,0.9]})", "xy", Json::array({0.1235, 0.9})},
        // Increments saturate (bri 1-254, sat 0-254) or wrap (hue).
        Stored{"1", R"({"bri_inc":254})", "bri", 254}, Stored{"1", R"({"bri_inc":-254})", "bri", 1},
        Stored{"1", R"({"bri_inc":-99})", "bri", 1}, Stored{"1", R"({"bri_inc":20})", "bri", 120},
        Stored{"1", R"({"sat_inc":-200})", "sat", 0},
        // Light 1's hue is 1000.
        Stored{"1", R"({"hue_inc":64536})", "hue", 0},
        Stored{"1", R"({"hue_inc":-1002})", "hue", 65534},
        Stored{"1", R"({"ct_inc":-65534})", "ct", 153},
        Stored{"2", R"({"ct_inc":1000})", "ct", 454},
        Stored{"1", R"({"xy_inc":[0.5,-0.5]})", "xy", Json::array({0.8, 0.0})},
        // The absolute value wins over its increment.
        Stored{"1", R"({"bri":50,"bri_inc":100})", "bri", 50}));

TEST_F(LightStateTest, InvalidValuesAreType7EchoingTheRawToken) {
    struct Case {
        const char* body;
        const char* address;
        const char* description;
    };
    const Case cases[] = {
        {R"({"bri":300})", "/lights/1/state/bri", "invalid value, 300}, for parameter, bri"},
        {R"({"hue":-1, "sat":256})", "/lights/1/state/hue",
         "invalid value, -1,, for parameter, hue"},
        {R"({"sat":-1 })", "/lights/1/state/sat", "invalid value, -1 , for parameter, sat"},
        {R"({"hue":65536})", "/lights/1/state/hue", "invalid value, 65536}, for parameter, hue"},
        {R"({"bri":"high"})", "/lights/1/state/bri", "invalid value, high, for parameter, bri"},
        {R"({"on":1})", "/lights/1/state/on", "invalid value, 1}, for parameter, on"},
        {R"({"effect":"sparkle"})", "/lights/1/state/effect",
         "invalid value, sparkle, for parameter, effect"},
        {R"({"xy":[0.5]})", "/lights/1/state/xy", "invalid value, [0.5], for parameter, xy"},
        {R"({"bri_inc":255})", "/lights/1/state/bri_inc",
         "invalid value, 255}, for parameter, bri_inc"},
    };
    const Json before = lightState("1");
    for (const auto& c : cases) {
        Json reply = putState("1", c.body);
        ASSERT_FALSE(reply.empty()) << c.body;
        EXPECT_EQ(reply[0]["error"]["type"], 7) << c.body;
        EXPECT_EQ(reply[0]["error"]["address"], c.address) << c.body;
        EXPECT_EQ(reply[0]["error"]["description"], c.description) << c.body;
    }
    EXPECT_EQ(lightState("1"), before);
}

TEST_F(LightStateTest, ColourModeFollowsXyOverCtOverHueAndSat) {
    Json reply = putState("1", R"({"hue":4000,"sat":50,"ct":250,"xy":[0.2,0.3]})");
    EXPECT_EQ(reply.size(), 4u);
    Json state = lightState("1");
    EXPECT_EQ(state["colormode"], "xy");
    // Every value is stored, whatever the mode.
    EXPECT_EQ(state["hue"], 4000);
    EXPECT_EQ(state["ct"], 250);

    putState("1", R"({"sat":60,"ct":260})");
    EXPECT_EQ(lightState("1")["colormode"], "ct");
    putState("1", R"({"hue_inc":10})");
    EXPECT_EQ(lightState("1")["colormode"], "hs");
    putState("1", R"({"bri":10,"alert":"select"})");
    EXPECT_EQ(lightState("1")["colormode"], "hs");
    // A colour temperature light has no choice: its mode stays ct.
    putState("2", R"({"ct":200})");
    EXPECT_EQ(lightState("2")["colormode"], "ct");
}

TEST_F(LightStateTest, OffLightRefusesChangesUnlessTheBodySwitchesItOn) {
    // An alert is allowed.
    EXPECT_EQ(putState("3", R"({"bri":100,"alert":"select"})"), Json::parse(R"([
        {"error":{"type":201,"address":"/lights/3/state/bri",
                  "description":"parameter, bri, is not modifiable. Device is set to off."}},
        {"success":{"/lights/3/state/alert":"select"}}])"));
    EXPECT_EQ(lightState("3")["bri"], 50);

    // Validation comes first: two 7s and a 201.
    EXPECT_EQ(putState("3", R"({"bri":-1,"hue":-1,"sat":100})"), Json::parse(R"([
        {"error":{"type":7,"address":"/lights/3/state/bri","description":"invalid value, -1,, for parameter, bri"}},
        {"error":{"type":7,"address":"/lights/3/state/hue","description":"invalid value, -1,, for parameter, hue"}},
        {"error":{"type":201,"address":"/lights/3/state/sat",
                  "description":"parameter, sat, is not modifiable. Device is set to off."}}])"));

    EXPECT_EQ(putState("3", R"({"bri":100,"on":true,"transitiontime":4})"), Json::parse(R"([
        {"success":{"/lights/3/state/bri":100}}, {"success":{"/lights/3/state/on":true}},
        {"success":{"/lights/3/state/transitiontime":4}}])"));
    Json state = lightState("3");
    EXPECT_EQ(state["on"], true);
    EXPECT_EQ(state["bri"], 100);
    EXPECT_FALSE(state.contains("transitiontime"));

    // Dimming and switching off in one body: the lamp comes back at 30.
    putState("3", R"({"on":false,"bri":30})");
    EXPECT_EQ(lightState("3")["bri"], 30);
    EXPECT_EQ(lightState("3")["on"], false);
}

TEST_F(LightStateTest, KeysTheLightLacksAreType6AndTheRestApplies) {
    // A colour light has no ct.
    EXPECT_EQ(putState("3", R"({"on":true,"ct":300})"), Json::parse(R"([
        {"success":{"/lights/3/state/on":true}},
        {"error":{"type":6,"address":"/lights/3/state/ct","description":"parameter, ct, not available"}}])"));
    EXPECT_FALSE(lightState("3").contains("ct"));

    // Type 6 wins over 7 and 201 for the same key.
    Json reply = putState("4", R"({"xy":[2,2],"effect":"colorloop","foo":1,"bri_inc":10})");
    ASSERT_EQ(reply.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reply[i]["error"]["type"], 6) << reply[i].dump();
    EXPECT_EQ(reply[3]["error"]["type"], 201);
    EXPECT_EQ(putState("5", R"({"bri":10})")[0]["error"]["type"], 6);
}

TEST_F(LightStateTest, UnknownLightBadJsonAndUnreachableLight) {
    Json reply = putState("42", R"({"on":true})");
    EXPECT_EQ(reply, Json::parse(R"([{"error":{"type":3,"address":"/lights/42/state",
        "description":"resource, /lights/42/state, not available"}}])"));
    EXPECT_EQ(light("42")[0]["error"]["address"], "/lights/42");

    for (const char* body : {"{\"on\":tru", "", "[1,2]"}) {
        reply = putState("1", body);
        EXPECT_EQ(reply, Json::parse(R"([{"error":{"type":2,"address":"/lights/1/state",
            "description":"body contains invalid json"}}])"))
            << body;
    }
    // An unreachable light still takes commands.
    reply = putState("6", R"({"on":false})");
    EXPECT_EQ(successValue(reply[0], "/lights/6/state/on"), false);
    EXPECT_EQ(lightState("6")["on"], false);
}

}  // namespace
}  // namespace lumora::sim::test
