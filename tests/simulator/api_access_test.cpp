// Pairing, users, read replies, configuration and the generic errors.

#include "sim_test_support.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

class ApiAccessTest : public SimServerTest {
  protected:
    Json pair(const std::string& body = R"({"devicetype":"lumora#osx"})") {
        return post("/api", body);
    }
};

TEST_F(ApiAccessTest, PairingNeedsTheLinkButtonPressedWithinThirtySeconds) {
    EXPECT_EQ(pair(), Json::parse(R"([{"error":{"type":101,"address":"",
        "description":"link button not pressed"}}])"));
    EXPECT_EQ(get(api("/config"))["linkbutton"], false);

    server_->pressLinkButton();
    EXPECT_EQ(get(api("/config"))["linkbutton"], true);
    Json reply = pair();
    ASSERT_TRUE(reply[0].contains("success")) << reply.dump();
    const std::string user = reply[0]["success"]["username"];
    EXPECT_EQ(user.size(), 40u);
    EXPECT_EQ(user.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789-"),
              std::string::npos);
    EXPECT_EQ(get("/api/" + user + "/lights").size(), 6u);
    Json whitelisted = get(api("/config"))["whitelist"][user];
    EXPECT_EQ(whitelisted["name"], "lumora#osx");
    // Each pairing gets its own name.
    EXPECT_NE(pair()[0]["success"]["username"], user);

    server_->advanceClock(31s);
    EXPECT_EQ(pair()[0]["error"]["type"], 101);
}

TEST_F(ApiAccessTest, PairingChecksTheBodyFirst) {
    server_->pressLinkButton();
    const std::string tooLong(41, 'a');
    struct Case {
        std::string body;
        int type;
        const char* address;
    };
    const Case cases[] = {
        {R"({"devicetype":")" + tooLong + "\"}", 7, "/devicetype"},
        {R"({"devicetype":"abcdefghijklmnopqrstu#x"})", 7, "/devicetype"},   // app part 21
        {R"({"devicetype":"app#abcdefghijklmnopqrst"})", 7, "/devicetype"},  // device part 20
        {R"({"devicetype":5})", 7, "/devicetype"},
        {R"({"name":"lumora#osx"})", 5, "/"},
        {R"({"devicetype":"lumora#osx")", 2, "/"},
    };
    for (const auto& c : cases) {
        Json reply = pair(c.body);
        EXPECT_EQ(reply[0]["error"]["type"], c.type) << c.body;
        EXPECT_EQ(reply[0]["error"]["address"], c.address) << c.body;
    }
    EXPECT_EQ(pair(R"({"devicetype":")" + tooLong + "\"}")[0]["error"]["description"],
              "invalid value, " + tooLong + ", for parameter, devicetype");

    Json reply = pair(R"({"devicetype":"abcdefghijklmnopqrst#abcdefghijklmnopqrs"})");
    EXPECT_TRUE(reply[0].contains("success")) << reply.dump();
    reply = pair(R"({"devicetype":"lumora#osx","generateclientkey":true})");
    const std::string key = reply[0]["success"]["clientkey"];
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

// Both addressed by the path asked, without the user.
TEST_F(ApiAccessTest, UnknownUsersAreType1AndUnknownPathsOrMethodsType4) {
    struct Case {
        std::string method;
        std::string path;
        int type;
        std::string address;
    };
    const Case cases[] = {
        {"GET", "/api/nobody/lights", 1, "/lights"},
        {"GET", "/api/nobody", 1, "/"},
        {"GET", "/api/nobody/lightsXX", 1, "/lightsXX"},
        {"PUT", "/api/nobody/lights/1/state", 1, "/lights/1/state"},
        {"PUT", "/api/nobody/groups/0/action", 1, "/groups/0/action"},
        {"POST", "/api/nobody/schedules", 1, "/schedules"},
        {"GET", "/api", 4, "/"},
        {"GET", api("/lightsXX"), 4, "/lightsXX"},
        {"DELETE", api("/lights"), 4, "/lights"},
        {"PUT", api("/scenes/legacy"), 4, "/scenes/legacy"},
        {"GET", api("/lights/1/state"), 4, "/lights/1/state"},
    };
    for (const auto& c : cases) {
        Json reply = c.method == "GET"    ? get(c.path)
                     : c.method == "PUT"  ? put(c.path, R"({"on":false})")
                     : c.method == "POST" ? post(c.path, "{}")
                                          : del(c.path);
        const std::string description =
            c.type == 1 ? "unauthorized user"
                        : "method, " + c.method + ", not available for resource, " + c.address;
        EXPECT_EQ(reply, Json::array({Json{{"error", Json{{"type", c.type},
                                                          {"address", c.address},
                                                          {"description", description}}}}}))
            << c.method << " " << c.path;
    }
    EXPECT_EQ(lightState("1")["on"], true);
}

TEST_F(ApiAccessTest, ShortConfigForAnyoneFullConfigForUsers) {
    for (const char* path : {"/api/config", "/api/nobody/config"}) {
        Json config = get(path);
        EXPECT_EQ(config["bridgeid"], "001788FFFE0A0B0C") << path;
        EXPECT_EQ(config["modelid"], "BSB002");
        EXPECT_EQ(config["name"], "Test bridge");
        EXPECT_FALSE(config.contains("whitelist"));
        EXPECT_FALSE(config.contains("ipaddress"));
    }
    Json full = get(api("/config"));
    EXPECT_TRUE(full["whitelist"].contains(kDemoUser));
    EXPECT_EQ(full["ipaddress"], "127.0.0.1");
    EXPECT_EQ(full["UTC"].get<std::string>().size(), 19u);
    Json reply = put(api("/config"), R"({"name":"Attic bridge","zigbeechannel":11})");
    EXPECT_EQ(successValue(reply[0], "/config/name"), "Attic bridge");
    EXPECT_EQ(reply[1]["error"]["type"], 6);
    EXPECT_EQ(get("/api/config")["name"], "Attic bridge");
}

TEST_F(ApiAccessTest, ReadsKeepTheFixturesOrderAndShapes) {
    // Numeric ids in fixture order, which a sorted map would scramble.
    Json fixture = smallFixture();
    fixture["lights"] = Json::object();
    for (const char* id : {"10", "2", "1"}) {
        fixture["lights"][id] = {{"state", {{"on", false}, {"reachable", true}}}, {"name", id}};
    }
    ASSERT_TRUE(server_->loadFixtureJson(fixture));
    // Compared in order: the objects keep theirs.
    EXPECT_EQ(get(api("/lights")).dump(), fixture["lights"].dump());
    Json all = get(api(""));
    for (const char* member : {"lights", "groups", "config", "schedules", "scenes", "sensors",
                               "rules", "resourcelinks"}) {
        EXPECT_TRUE(all.contains(member)) << member;
    }
    EXPECT_FALSE(all["groups"].contains("0"));
    EXPECT_EQ(get(api("/lights/2"))["name"], "2");
    EXPECT_EQ(get(api("/sensors")), Json::object());
}

}  // namespace
}  // namespace lumora::sim::test
