// The bundled fixtures: the demo home is complete and consistent; the edge
// fixture holds the cases the client's reading rules tell apart.

#include "simulator/fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include "sim_test_support.h"

namespace lumora::sim::test {
namespace {

class DemoFixtureTest : public SimServerTest {
  protected:
    void SetUp() override { useFixture("demo"); }
};

class EdgeFixtureTest : public SimServerTest {
  protected:
    void SetUp() override { useFixture("edge"); }
    const Json edge_ = readFixture("edge", nullptr);  // as written
};

std::multiset<std::string> valuesOf(const Json& objects, const char* member) {
    std::multiset<std::string> values;
    for (const auto& [id, object] : objects.items()) {
        if (object.contains(member) && object[member].is_string()) {
            values.insert(object[member].get<std::string>());
        } else {
            values.insert("(absent)");
        }
    }
    return values;
}

TEST_F(DemoFixtureTest, HasEveryKindOfThingIsConsistentWithItselfAndEverySceneRecalls) {
    Json lights = get(api("/lights"));
    auto types = valuesOf(lights, "type");
    for (const char* type : {"Extended color light", "Color light", "Color temperature light",
                             "Dimmable light", "On/Off plug-in unit"}) {
        EXPECT_GE(types.count(type), 1u) << type;
    }
    EXPECT_GE(lights.size(), 10u);
    int unreachable = 0;
    for (const auto& [id, light] : lights.items()) {
        unreachable += light["state"]["reachable"] == false;
    }
    EXPECT_EQ(unreachable, 1);
    EXPECT_EQ(valuesOf(lights, "modelid").count("TRADFRI bulb E27 WS opal 980lm"), 1u);

    Json groups = get(api("/groups"));
    auto groupTypes = valuesOf(groups, "type");
    EXPECT_EQ(groupTypes.count("Room"), 4u);
    EXPECT_EQ(groupTypes.count("Zone"), 2u);
    EXPECT_EQ(groupTypes.count("LightGroup"), 1u);
    EXPECT_EQ(groupTypes.count("Entertainment"), 1u);
    auto rooms = valuesOf(groups, "name");
    for (const char* room : {"Living room", "Kitchen", "Bedroom", "Office"}) {
        EXPECT_EQ(rooms.count(room), 1u) << room;
    }

    Json scenes = get(api("/scenes"));
    int v2 = 0, v1 = 0;
    for (const auto& [id, scene] : scenes.items()) {
        v2 += scene["version"] == 2;
        v1 += scene["version"] == 1;
    }
    EXPECT_EQ(v2, 12);
    EXPECT_EQ(v1, 2);
    Json config = get(api("/config"));
    EXPECT_EQ(config["modelid"], "BSB002");

    for (const auto& [id, group] : groups.items()) {
        bool all = !group["lights"].empty(), any = false;
        for (const auto& member : group["lights"]) {
            ASSERT_TRUE(lights.contains(member.get<std::string>())) << id;
            bool on = lights[member.get<std::string>()]["state"]["on"];
            all = all && on;
            any = any || on;
        }
        EXPECT_EQ(group["state"]["all_on"], all) << id;
        EXPECT_EQ(group["state"]["any_on"], any) << id;
    }
    // Group scenes cover their group; every stored state fits its light.
    for (const auto& [id, listed] : scenes.items()) {
        if (listed["version"] != 2) continue;
        Json scene = get(api("/scenes/" + id));
        EXPECT_EQ(scene["lights"], groups[scene["group"].get<std::string>()]["lights"]) << id;
        ASSERT_EQ(scene["lightstates"].size(), scene["lights"].size()) << id;
        for (const auto& [lightId, state] : scene["lightstates"].items()) {
            for (const auto& [key, value] : state.items()) {
                EXPECT_TRUE(lights[lightId]["state"].contains(key)) << id << " " << lightId << key;
            }
        }
    }
    // The bridge id is the MAC with FFFE in the middle.
    std::string mac = config["mac"];
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    std::string id = config["bridgeid"];
    std::transform(id.begin(), id.end(), id.begin(), ::tolower);
    EXPECT_EQ(id, mac.substr(0, 6) + "fffe" + mac.substr(6));
    EXPECT_EQ(std::string(kDemoUser).size(), 40u);

    for (const auto& [id, scene] : scenes.items()) {
        Json reply = put(api("/groups/0/action"), Json{{"scene", id}}.dump());
        EXPECT_TRUE(reply[0].contains("success")) << id << reply.dump();
    }
}

TEST_F(EdgeFixtureTest, HoldsTheOddCasesAndTheDemoUser) {
    ASSERT_TRUE(edge_.is_object());
    EXPECT_TRUE(edge_["config"]["whitelist"].contains(kDemoUser));
    auto groupTypes = valuesOf(edge_["groups"], "type");
    for (const char* type : {"Room", "zone", "Zone", "LightGroup", "Entertainment", "(absent)"}) {
        EXPECT_GE(groupTypes.count(type), 1u) << type;
    }
    auto names = valuesOf(edge_["groups"], "name");
    for (const char* room : {"bedroom", "Attic", "Kitchen"}) EXPECT_GE(names.count(room), 1u);
    int unreachable = 0, reachableAbsent = 0, threeXy = 0, special = 0, textName = 0;
    for (const auto& [id, light] : edge_["lights"].items()) {
        if (light["name"].is_number()) ++textName;
        if (light.value("modelid", "") == "TRADFRI bulb E27 WS opal 980lm") ++special;
        if (!light.contains("state") || !light["state"].is_object()) continue;
        const Json& state = light["state"];
        if (state.contains("reachable") && state["reachable"] == false) ++unreachable;
        if (!state.contains("reachable")) ++reachableAbsent;
        if (state.contains("xy") && state["xy"].size() == 3) ++threeXy;
    }
    EXPECT_GE(unreachable, 1);
    EXPECT_GE(reachableAbsent, 1);
    EXPECT_EQ(threeXy, 1);
    EXPECT_EQ(special, 1);
    EXPECT_EQ(textName, 1);
    std::set<std::string> versions;
    for (const auto& [id, scene] : edge_["scenes"].items()) {
        versions.insert(scene.contains("version") ? scene["version"].dump() : "(absent)");
    }
    EXPECT_EQ(versions, (std::set<std::string>{"(absent)", "1", "2", "3", "\"2\""}));
}

TEST_F(EdgeFixtureTest, ServedAsWrittenAndStillCommandable) {
    Json lights = get(api("/lights"));
    EXPECT_EQ(lights, edge_["lights"]);
    // A light whose brightness is text takes a new one; oddities elsewhere stay.
    std::string textBri;
    for (const auto& [id, light] : lights.items()) {
        if (light.contains("state") && light["state"].is_object() &&
            light["state"].value("bri", Json()).is_string()) {
            textBri = id;
        }
    }
    ASSERT_FALSE(textBri.empty());
    Json reply = put(api("/lights/" + textBri + "/state"), R"({"bri_inc":10})");
    EXPECT_EQ(reply[0]["success"]["/lights/" + textBri + "/state/bri"], 11);
    for (const auto& [id, group] : edge_["groups"].items()) {
        Json action = put(api("/groups/" + id + "/action"), R"({"on":true})");
        EXPECT_TRUE(action[0].contains("success")) << id << action.dump();
    }
}

TEST(Fixtures, EmbeddedOnesAreFoundFromAnyDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    std::string error;
    bool found = readFixture("demo", &error).is_object() && readFixture("edge", &error).is_object();
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_TRUE(found) << error;

    SimServer missing(ServerOptions{.fixture = "no-such-fixture"});
    EXPECT_FALSE(missing.start(&error));
    EXPECT_NE(error.find("no-such-fixture"), std::string::npos);
    EXPECT_FALSE(missing.running());
}

}  // namespace
}  // namespace lumora::sim::test
