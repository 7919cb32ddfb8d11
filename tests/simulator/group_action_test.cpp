// PUT /groups/<id>/action, group 0, group state and scene recall.

#include "sim_test_support.h"

namespace lumora::sim::test {
namespace {

class GroupActionTest : public SimServerTest {
  protected:
    Json action(const std::string& id, const std::string& body) {
        return put(api("/groups/" + id + "/action"), body);
    }
    std::pair<bool, bool> allAny(const std::string& id) {
        Json state = group(id)["state"];
        return {state["all_on"].get<bool>(), state["any_on"].get<bool>()};
    }
};

TEST_F(GroupActionTest, ReachesEveryMemberThatSupportsTheKey) {
    EXPECT_EQ(action("1", R"({"on":true,"ct":600,"transitiontime":2})"), Json::parse(R"([
        {"success":{"/groups/1/action/on":true}}, {"success":{"/groups/1/action/ct":600}},
        {"success":{"/groups/1/action/transitiontime":2}}])"));
    // Each lamp clamps to its own range; the colour light has no ct at all.
    EXPECT_EQ(lightState("1")["ct"], 500);
    EXPECT_EQ(lightState("2")["ct"], 454);
    EXPECT_EQ(lightState("1")["colormode"], "ct");
    EXPECT_FALSE(lightState("3").contains("ct"));
    EXPECT_EQ(lightState("3")["on"], true);
    EXPECT_EQ(lightState("3")["colormode"], "xy");
    Json stored = group("1")["action"];
    EXPECT_EQ(stored["on"], true);
    EXPECT_EQ(stored["ct"], 500);
    EXPECT_EQ(stored["colormode"], "ct");

    // The action of a group without colour keeps to the keys it has.
    action("2", R"({"on":true,"xy":[0.3,0.3]})");
    EXPECT_FALSE(group("2")["action"].contains("xy"));
    EXPECT_EQ(lightState("5")["on"], true);
}

TEST_F(GroupActionTest, LampsThatStayOffKeepTheirValues) {
    Json reply = action("1", R"({"bri":40,"hue":30000})");
    EXPECT_EQ(successValue(reply[0], "/groups/1/action/bri"), 40);  // no 201 for groups
    EXPECT_EQ(lightState("1")["bri"], 40);
    EXPECT_EQ(lightState("2")["bri"], 40);
    EXPECT_EQ(lightState("3")["bri"], 50);
    EXPECT_EQ(lightState("3")["hue"], 2000);
    EXPECT_EQ(lightState("1")["colormode"], "hs");
    EXPECT_EQ(lightState("2")["colormode"], "ct");  // took bri only
}

TEST_F(GroupActionTest, BrightnessIncrementSaturatesPerLampAndEchoesTheStep) {
    action("1", R"({"on":true,"bri":200})");
    action("2", R"({"on":true})");
    EXPECT_EQ(action("0", R"({"bri_inc":100})"),
              Json::parse(R"([{"success":{"/groups/0/action/bri_inc":100}}])"));
    EXPECT_EQ(lightState("1")["bri"], 254);
    EXPECT_EQ(lightState("4")["bri"], 180);
    EXPECT_EQ(lightState("6")["bri"], 110);  // unreachable, still a member of group 0
    action("0", R"({"bri_inc":-254})");
    for (const char* id : {"1", "2", "3", "4", "6"}) EXPECT_EQ(lightState(id)["bri"], 1) << id;
}

TEST_F(GroupActionTest, AllOnAndAnyOnFollowGroupAndLightChanges) {
    action("1", R"({"on":false})");
    EXPECT_EQ(allAny("1"), std::make_pair(false, false));
    action("1", R"({"on":true})");
    EXPECT_EQ(allAny("1"), std::make_pair(true, true));
    put(api("/lights/2/state"), R"({"on":false})");
    EXPECT_EQ(allAny("1"), std::make_pair(false, true));
    // An unreachable member counts with its last known state.
    EXPECT_EQ(allAny("4"), std::make_pair(true, true));
    server_->setReachable("6", false);
    put(api("/lights/1/state"), R"({"on":false})");
    EXPECT_EQ(allAny("4"), std::make_pair(false, true));
    // An empty group is neither.
    action("3", R"({"on":true})");
    EXPECT_EQ(allAny("3"), std::make_pair(false, false));
    // Group 0 is computed from every light.
    action("0", R"({"on":true})");
    EXPECT_EQ(allAny("0"), std::make_pair(true, true));
}

TEST_F(GroupActionTest, GroupZeroIsAllLightsAndNeverListedAndBadActionsAreRefused) {
    Json zero = group("0");
    EXPECT_EQ(zero["name"], "Group 0");
    EXPECT_EQ(zero["lights"], Json::array({"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(zero["type"], "LightGroup");
    const Json groups = get(api("/groups"));
    std::vector<std::string> ids;
    for (const auto& [id, g] : groups.items()) ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "4"}));

    EXPECT_EQ(action("9", R"({"on":true})"), Json::parse(R"([{"error":{"type":3,
        "address":"/groups/9/action","description":"resource, /groups/9/action, not available"}}])"));
    EXPECT_EQ(group("9")[0]["error"]["type"], 3);
    EXPECT_EQ(action("1", R"({"on":true,"colormode":"xy"})"), Json::parse(R"([
        {"success":{"/groups/1/action/on":true}}, {"error":{"type":6,
        "address":"/groups/1/action/colormode","description":"parameter, colormode, not available"}}])"));
    EXPECT_EQ(action("1", "{nope")[0]["error"]["type"], 2);
    EXPECT_EQ(action("0", R"({"scene":"nosuchscene"})"),
              Json::parse(R"([{"error":{"type":7,"address":"/groups/0/action/scene",
        "description":"invalid value, nosuchscene for parameter, scene"}}])"));
}

TEST_F(GroupActionTest, SceneRecallThroughGroupZeroReachesEveryLightOfTheScene) {
    EXPECT_EQ(action("0", R"({"scene":"sceneLounge","transitiontime":10})"), Json::parse(R"([
        {"success":{"/groups/0/action/scene":"sceneLounge"}},
        {"success":{"/groups/0/action/transitiontime":10}}])"));
    EXPECT_EQ(lightState("1")["bri"], 200);
    EXPECT_EQ(lightState("1")["xy"], Json::array({0.2, 0.3}));
    EXPECT_EQ(lightState("1")["colormode"], "xy");
    EXPECT_EQ(lightState("2")["ct"], 250);
    EXPECT_EQ(lightState("3")["on"], true);  // was off
    EXPECT_EQ(lightState("3")["bri"], 30);
    EXPECT_EQ(group("1")["state"]["all_on"], true);
}

TEST_F(GroupActionTest, SceneRecallThroughAGroupReachesOnlyLightsInBoth) {
    // sceneMixed holds lights 1 (off) and 4 (on at 10); group 2 holds 4 and 5.
    action("2", R"({"scene":"sceneMixed"})");
    EXPECT_EQ(lightState("4")["on"], true);
    EXPECT_EQ(lightState("4")["bri"], 10);
    EXPECT_EQ(lightState("1")["on"], true);
    EXPECT_EQ(lightState("5")["on"], false);

    // A group sharing no light with the scene changes nothing...
    action("2", R"({"scene":"sceneLounge"})");
    EXPECT_EQ(lightState("1")["bri"], 100);
    // ...and group 4 shares only light 1 with it.
    action("4", R"({"scene":"sceneLounge"})");
    EXPECT_EQ(lightState("1")["bri"], 200);
    EXPECT_EQ(lightState("2")["bri"], 100);
    EXPECT_EQ(lightState("3")["on"], false);

    // A scene without stored states switches its lights on.
    put(api("/lights/2/state"), R"({"on":false})");
    action("0", R"({"scene":"legacy"})");
    EXPECT_EQ(lightState("2")["on"], true);
}

TEST_F(GroupActionTest, ScenesListWithoutLightStatesAndOneSceneWithThem) {
    Json scenes = get(api("/scenes"));
    ASSERT_EQ(scenes.size(), 3u);
    for (const auto& [id, scene] : scenes.items()) EXPECT_FALSE(scene.contains("lightstates"));
    Json lounge = get(api("/scenes/sceneLounge"));
    EXPECT_EQ(lounge["lightstates"]["2"], Json::parse(R"({"on":true,"bri":150,"ct":250})"));
    // Version 1 keeps its states in the lamps.
    EXPECT_FALSE(get(api("/scenes/legacy")).contains("lightstates"));
    EXPECT_EQ(get(api("/scenes/nope"))[0]["error"]["address"], "/scenes/nope");
}

}  // namespace
}  // namespace lumora::sim::test
