// The control API under /sim, spoken over HTTP as tests and demos use it.

#include <filesystem>
#include <fstream>

#include "sim_test_support.h"

namespace lumora::sim::test {
namespace {

class ControlApiTest : public SimServerTest {
  protected:
    Json controlJson(const std::string& method, const std::string& path,
                     const std::string& body = {}, int status = 200) {
        RawReply reply = rawRequest(server_->port(), method, path, body);
        EXPECT_EQ(reply.status, status) << method << " " << path << ": " << reply.body;
        EXPECT_EQ(reply.headers["content-type"], "application/json");
        return Json::parse(reply.body, nullptr, false);
    }
};

TEST_F(ControlApiTest, FixturesLoadByNameAndBadOnesChangeNothing) {
    controlJson("POST", "/sim/fixture", R"({"name":"edge"})");
    EXPECT_EQ(get(api("/config"))["name"], "Edge bridge");
    Json error = controlJson("POST", "/sim/fixture", R"({"name":"no-such-fixture"})", 400);
    EXPECT_NE(error["error"].get<std::string>().find("no-such-fixture"), std::string::npos);
    // A name is an embedded fixture, never a file; without a folder no path loads.
    controlJson("POST", "/sim/fixture", Json{{"name", LUMORA_SMALL_FIXTURE}}.dump(), 400);
    controlJson("POST", "/sim/fixture", Json{{"path", LUMORA_SMALL_FIXTURE}}.dump(), 403);
    EXPECT_EQ(get(api("/config"))["name"], "Edge bridge");
}

TEST_F(ControlApiTest, FixtureFilesLoadOnlyFromInsideTheFixtureFolder) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(TempFile("").path() + ".d");
    fs::create_directories(dir / "sub");
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{dir};
    Json fixture = smallFixture();
    fixture["config"]["name"] = "Folder bridge";
    std::ofstream(dir / "sub" / "home.json") << fixture.dump();
    std::ofstream(dir / "broken.json") << R"({"lights":[1,2]})";
    std::ofstream(dir / "not.json") << "{";
    TempFile outside(smallFixture().dump());
    fs::create_symlink(outside.path(), dir / "escape.json");
    fs::create_symlink(dir / "sub" / "home.json", dir / "alias.json");

    SimServer server(ServerOptions{.fixture = "edge", .fixtureDir = dir.string()});
    ASSERT_TRUE(server.start());
    const std::string name = fs::path(outside.path()).filename();
    const struct {
        std::string path;
        int status;
    } cases[] = {
        {"sub/home.json", 200}, {(dir / "sub" / "home.json").string(), 200},
        {"alias.json", 200},  // a link that stays inside
        {"escape.json", 403},   {"../" + name, 403},
        {outside.path(), 403},  {LUMORA_SMALL_FIXTURE, 403},
        {"broken.json", 400},   {"not.json", 400},
        {"missing.json", 400},  {"sub", 400},
    };
    for (const auto& c : cases) {
        server.loadFixture("edge");
        RawReply reply =
            rawRequest(server.port(), "POST", "/sim/fixture", Json{{"path", c.path}}.dump());
        EXPECT_EQ(reply.status, c.status) << c.path << ": " << reply.body;
        EXPECT_EQ(server.call("GET", "/api/config")["name"],
                  c.status == 200 ? "Folder bridge" : "Edge bridge")
            << c.path;
    }
}

TEST_F(ControlApiTest, LightsCanBeMadeUnreachable) {
    EXPECT_EQ(controlJson("PUT", "/sim/lights/2", R"({"reachable":false})")["reachable"], false);
    EXPECT_EQ(lightState("2")["reachable"], false);
    controlJson("PUT", "/sim/lights/2", R"({"reachable":true})");
    EXPECT_EQ(lightState("2")["reachable"], true);
    controlJson("PUT", "/sim/lights/77", R"({"reachable":false})", 404);
    EXPECT_FALSE(server_->setReachable("77", false));
}

TEST_F(ControlApiTest, FaultsAreQueuedAndCleared) {
    controlJson("POST", "/sim/fault", R"({"kind":"http503","count":2})");
    EXPECT_EQ(rawRequest(server_->port(), "GET", api("/lights")).status, 503);
    controlJson("POST", "/sim/fault", R"({"kind":"none"})");
    EXPECT_EQ(rawRequest(server_->port(), "GET", api("/lights")).status, 200);
    controlJson("POST", "/sim/fault", R"({"kind":"close","count":1,"delay_ms":10})");
    const RawReply closed = rawRequest(server_->port(), "GET", api("/lights"));
    EXPECT_TRUE(closed.connected);
    EXPECT_EQ(closed.bytes, "");  // not a byte; the connection after it is served as usual
    EXPECT_EQ(rawRequest(server_->port(), "GET", api("/lights")).status, 200);
    controlJson("POST", "/sim/fault", R"({"kind":"meltdown"})", 400);
    for (const char* beyond :
         {R"({"kind":"delay","delay_ms":9223372036854775807})",
          R"({"kind":"delay","delay_ms":600001})", R"({"kind":"close","count":5000000000})",
          R"({"kind":"close","count":18446744073709551615})"}) {
        controlJson("POST", "/sim/fault", beyond, 400);
    }
    for (const char* name : {"delay", "close", "garbage", "truncated", "http500", "http503",
                             "http429", "huge", "notutf8", "moved"}) {
        auto kind = faultFromString(name);
        ASSERT_TRUE(kind) << name;
        EXPECT_STREQ(toString(*kind), name);
    }
}

TEST_F(ControlApiTest, ClockAdvanceRunsSchedules) {
    post(api("/schedules"),
         R"({"command":{"address":")" + api("/lights/1/state") +
             R"(","method":"PUT","body":{"on":false}},"localtime":"PT02:00:00"})");
    Json before = controlJson("GET", "/sim/clock");
    Json after = controlJson("POST", "/sim/clock", R"({"advance_s":7200})");
    EXPECT_EQ(after["offset_s"], 7200);
    EXPECT_GT(after["sim_time"].get<std::string>(), before["sim_time"].get<std::string>());
    EXPECT_EQ(lightState("1")["on"], false);
    controlJson("POST", "/sim/clock", R"({"advance_s":-5})", 400);
    controlJson("POST", "/sim/clock", R"({"advance_s":1e300})", 400);
    // However often it is moved on, the clock stays within a century of now.
    const long long century = kMaxClockOffset.count();
    for (int i = 0; i < 3; ++i) {
        controlJson("POST", "/sim/clock", Json{{"advance_s", century}}.dump());
    }
    EXPECT_EQ(controlJson("GET", "/sim/clock")["offset_s"], century);
}

TEST_F(ControlApiTest, LogListsApiRequestsWithTheirTimesAndAnExcerptOfEachBody) {
    put(api("/lights/1/state"), R"({"bri":7})");
    server_->advanceClock(std::chrono::hours(24 * 365));
    const std::string big = R"({"on":true,"x":")" + std::string(100000, 'x') + "\"}";
    put(api("/lights/1/state"), big);
    Json log = controlJson("GET", "/sim/log");
    ASSERT_EQ(log.size(), 2u);  // the control API itself is not logged
    EXPECT_EQ(log[0]["method"], "PUT");
    EXPECT_EQ(log[0]["path"], api("/lights/1/state"));
    EXPECT_EQ(log[0]["body"], R"({"bri":7})");  // a short body whole
    EXPECT_EQ(log[1]["method"], "PUT");
    EXPECT_EQ(log[1]["body_size"], big.size());
    EXPECT_EQ(log[1]["body"], big.substr(0, kLogExcerptBytes));
    // A year of simulator time between them, little wall time.
    EXPECT_GT(log[1]["sim_time"].get<std::string>().substr(0, 4),
              log[0]["sim_time"].get<std::string>().substr(0, 4));
    EXPECT_GE(log[1]["wall_ms"].get<long>(), log[0]["wall_ms"].get<long>());
    EXPECT_LT(log[1]["wall_ms"].get<long>() - log[0]["wall_ms"].get<long>(), 5000);
    auto entries = server_->requestLog();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_GE(entries[1].simTime - entries[0].simTime, std::chrono::hours(24 * 365));
    EXPECT_EQ(entries[1].body, big.substr(0, kLogExcerptBytes));
    EXPECT_EQ(entries[1].bodySize, big.size());

    controlJson("DELETE", "/sim/log");
    EXPECT_EQ(controlJson("GET", "/sim/log"), Json::array());
}

TEST_F(ControlApiTest, LinkButtonStateUsersAndUnknownControls) {
    controlJson("POST", "/sim/linkbutton", R"({"pressed":true})");
    EXPECT_TRUE(post("/api", R"({"devicetype":"a#b"})")[0].contains("success"));
    controlJson("POST", "/sim/linkbutton", R"({"pressed":false})");
    EXPECT_EQ(post("/api", R"({"devicetype":"a#b"})")[0]["error"]["type"], 101);
    controlJson("POST", "/sim/linkbutton", R"({"pressed":"yes"})", 400);

    Json state = controlJson("GET", "/sim/state");
    for (const char* member :
         {"config", "lights", "groups", "scenes", "schedules", "linkbutton", "sim_time"}) {
        EXPECT_TRUE(state.contains(member)) << member;
    }
    EXPECT_TRUE(state["scenes"]["sceneLounge"].contains("lightstates"));
    put(api("/lights/4/state"), R"({"on":true})");
    EXPECT_EQ(server_->state()["lights"]["4"]["state"]["on"], true);

    Json user = controlJson("POST", "/sim/users", R"({"devicetype":"ctl#box"})");
    const std::string name = user["username"];
    EXPECT_EQ(name.size(), 40u);
    EXPECT_EQ(get(api("/config"))["whitelist"][name]["name"], "ctl#box");
    EXPECT_TRUE(get("/api/" + name + "/lights").is_object());

    controlJson("GET", "/sim/nothing", {}, 404);
    controlJson("POST", "/sim/linkbutton", "not json", 400);
}

}  // namespace
}  // namespace lumora::sim::test
