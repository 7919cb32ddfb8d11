#include "ctl/ctl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app/linux/file_store.h"
#include "base/scoped_env.h"
#include "bridge/bridge_endpoint.h"
#include "ctl/names_cache.h"
#include "simulator/sim_server.h"
#include "support/canned_bridge.h"

using namespace lumora;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class CtlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(dir_);
        ASSERT_TRUE(server_.start());
    }
    void TearDown() override { fs::remove_all(dir_); }
    int ctl(std::vector<std::string> args, bool withBridge = true) {
        if (withBridge) {
            args.insert(args.begin(), {"--bridge", server_.address(), "--user", sim::kDemoUser});
        }
        out_.str("");
        err_.str("");
        return ctl::run(args, out_, err_);
    }
    json group(const std::string& id) { return server_.state()["groups"][id]; }

    const fs::path dir_ = fs::temp_directory_path() / ("lumora-ctl-" + std::to_string(::getpid()));
    ScopedEnv config_{"LUMORA_CONFIG_DIR", dir_.string()};
    ScopedEnv cache_{"XDG_CACHE_HOME", (dir_ / "cache").string()};
    sim::SimServer server_;
    std::ostringstream out_, err_;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(CtlTest, RoomsAreListedAsJsonRecordsAndReachedByName) {
    ASSERT_EQ(ctl({"rooms", "--json"}), 0) << err_.str();
    std::string kitchen;
    for (const auto& r : json::parse(out_.str())) {
        EXPECT_TRUE(r.contains("group_id") && r.contains("hue_ip") && !r.contains("id"));
        if (r["name"] == "Kitchen") kitchen = r["group_id"];
    }
    ASSERT_FALSE(kitchen.empty());

    ASSERT_EQ(ctl({"bri", "Kitchen", "128"}), 0) << err_.str();
    EXPECT_EQ(group(kitchen)["action"]["bri"], 128);
    EXPECT_NE(out_.str().find("bri 128"), std::string::npos) << out_.str();
    const auto log = server_.requestLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& r) { return r.method == "PUT"; }), 1);
}

TEST_F(CtlTest, TargetsAreResolvedStrictly) {
    EXPECT_EQ(ctl({"on", "1"}), 2);
    EXPECT_NE(err_.str().find("ambiguous"), std::string::npos);
    EXPECT_NE(err_.str().find("room 1"), std::string::npos) << "names the candidates";
    EXPECT_EQ(ctl({"on", "Nowhere"}), 2);
    EXPECT_NE(err_.str().find("no light or room"), std::string::npos);
    EXPECT_EQ(ctl({"on", "light:1"}), 0) << err_.str();
    EXPECT_EQ(server_.state()["lights"]["1"]["state"]["on"], true);
    EXPECT_EQ(ctl({"bri", "light:1", "300"}), 2);
    EXPECT_EQ(ctl({"ct", "light:1", "warm"}), 2);
    EXPECT_EQ(ctl({"dance"}), 2);
    EXPECT_EQ(ctl({"lights", "--in", "5"}), 2);
    EXPECT_EQ(ctl({}), 2);
    EXPECT_EQ(ctl({"--help"}, false), 0);
    EXPECT_NE(out_.str().find("Exit codes"), std::string::npos);
}

TEST_F(CtlTest, DelayedAllOffCreatesOneSchedule) {
    const auto before = server_.state()["schedules"].size();
    ASSERT_EQ(ctl({"all-off", "--in", "30"}), 0) << err_.str();
    const auto schedules = server_.state()["schedules"];  // a copy: safe to iterate
    ASSERT_EQ(schedules.size(), before + 1);
    bool found = false;
    for (const auto& [id, s] : schedules.items())
        found = found || s.value("localtime", "") == "PT00:30:00";
    EXPECT_TRUE(found);
}

TEST_F(CtlTest, UnreachableOrRefusingBridgeExitsWithOne) {
    EXPECT_EQ(ctl({"lights", "--user", "forgotten"}, false), 1) << "no address stored";
    EXPECT_EQ(ctl({"--bridge", server_.address(), "--user", "forgotten", "lights"}, false), 1);
    EXPECT_NE(err_.str().find("refused"), std::string::npos);
    const std::string address = server_.address();
    server_.stop();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ctl({"--bridge", address, "--user", "u", "off", "Kitchen"}, false), 1);
    EXPECT_NE(err_.str().find("cannot reach"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

TEST_F(CtlTest, ACommandTheBridgeDidNotTakeExitsWithOneAndSaysWhy) {
    const std::string user = sim::kDemoUser;
    struct Fault {
        sim::Fault kind;
        std::string says;
    } faults[] = {
        {sim::Fault::http503, "503 Service Unavailable"},
        {sim::Fault::http429, "the bridge is busy (429 Too Many Requests)"},
        {sim::Fault::moved,
         "301 Moved Permanently, pointing to https://127.0.0.1/api/" + userNameHint(user)},
    };
    const std::vector<std::string> commands[] = {
        {"on", "light:1"}, {"bri", "Kitchen", "128"}, {"all-off", "--in", "5"}};
    for (const auto& f : faults) {
        for (const auto& command : commands) {
            SCOPED_TRACE(command[0] + " " + f.says);
            const auto before = server_.state();
            // The configuration read and the reads before the command pass;
            // the command meets the fault.
            server_.injectFault(sim::Fault::delay, 3, std::chrono::milliseconds(1));
            server_.injectFault(f.kind, 1);
            EXPECT_EQ(ctl(command), 1);
            EXPECT_NE(err_.str().find(f.says), std::string::npos) << err_.str();
            EXPECT_EQ(err_.str().find(user), std::string::npos) << "the user name is masked";
            EXPECT_EQ(out_.str(), "") << "no read-back after a failure";
            EXPECT_EQ(server_.state()["schedules"], before["schedules"]);
            EXPECT_EQ(server_.state()["lights"], before["lights"]);
        }
    }
    // A read answered so is named as well, not taken for a refused user name.
    // (The configuration read that finds out how the bridge is reached passes.)
    server_.injectFault(sim::Fault::delay, 1, std::chrono::milliseconds(1));
    server_.injectFault(sim::Fault::http503, 1);
    EXPECT_EQ(ctl({"lights"}), 1);
    EXPECT_NE(err_.str().find("answered 503 Service Unavailable"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("pair again"), std::string::npos) << err_.str();
    server_.injectFault(sim::Fault::delay, 1, std::chrono::milliseconds(1));
    server_.injectFault(sim::Fault::hugeBody, 1);
    EXPECT_EQ(ctl({"rooms"}), 1);
    EXPECT_NE(err_.str().find("larger than 16 MiB"), std::string::npos) << err_.str();
}

TEST_F(CtlTest, PairingAnsweredWithAnythingButSuccessStoresNothing) {
    support::CannedBridge canned;
    canned.answer("POST", "/api", R"([{"success":{"username":"issued-while-busy"}}])", 503);
    EXPECT_EQ(ctl({"pair", canned.address()}, false), 1);
    EXPECT_NE(err_.str().find("503 Service Unavailable"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("cannot reach"), std::string::npos) << err_.str();
    EXPECT_EQ((err_.str() + out_.str()).find("issued-while-busy"), std::string::npos);
    // A success without a user name is no pairing either, and is not tried again.
    canned.answer("POST", "/api", R"([{"success":{"username":""}}])");
    EXPECT_EQ(ctl({"pair", canned.address()}, false), 1);
    EXPECT_NE(err_.str().find("accepted pairing but sent no user name"), std::string::npos)
        << err_.str();
    EXPECT_EQ(canned.requests("POST", "/api"), 2);

    server_.pressLinkButton();
    server_.injectFault(sim::Fault::delay, 1, std::chrono::milliseconds(1));
    server_.injectFault(sim::Fault::http429, 1);
    EXPECT_EQ(ctl({"pair", server_.address()}, false), 1);
    EXPECT_NE(err_.str().find("busy (429 Too Many Requests)"), std::string::npos) << err_.str();
    server_.injectFault(sim::Fault::delay, 1, std::chrono::milliseconds(1));
    server_.injectFault(sim::Fault::moved, 1);
    EXPECT_EQ(ctl({"pair", server_.address()}, false), 1);
    EXPECT_NE(err_.str().find("301 Moved Permanently, pointing to https://127.0.0.1/api"),
              std::string::npos)
        << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "defaults.json") &&
                 JsonFileDefaultsStore(dir_).contains("bridgeUser"));
}

TEST_F(CtlTest, PairingStoresTheBridgeForLaterCalls) {
    EXPECT_EQ(ctl({"pair", server_.address()}, false), 1);
    EXPECT_NE(err_.str().find("link button"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "defaults.json") &&
                 JsonFileDefaultsStore(dir_).contains("bridgeUser"));

    server_.pressLinkButton();
    ASSERT_EQ(ctl({"pair", server_.address()}, false), 0) << err_.str();
    JsonFileDefaultsStore stored(dir_);
    EXPECT_EQ(stored.string("bridgeIP"), server_.address());
    EXPECT_EQ(stored.string("bridgeUser").value_or("").size(), 40u);

    EXPECT_EQ(ctl({"status"}, false), 0) << err_.str();
    EXPECT_NE(out_.str().find("connected: yes"), std::string::npos);
    EXPECT_EQ(ctl({"scenes"}, false), 0);
    EXPECT_NE(out_.str().find("NAME"), std::string::npos);
}

TEST_F(CtlTest, AddressesAsPeopleTypeThem) {
    // A pasted URL with a slash reaches the bridge; pairing stores it bare.
    const std::string port = server_.address().substr(server_.address().rfind(':'));
    ASSERT_EQ(
        ctl({"--bridge", " http://127.0.0.1" + port + "/ ", "--user", sim::kDemoUser, "lights"},
            false),
        0)
        << err_.str();
    server_.pressLinkButton();
    ASSERT_EQ(ctl({"pair", "\xC2\xA0http://127.0.0.1" + port + "/"}, false), 0) << err_.str();
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeIP"), "127.0.0.1" + port);

    // What is no address is a usage error that says so, before any request.
    const size_t requests = server_.requestLog().size();
    EXPECT_EQ(ctl({"--bridge", "127.0.0.1 " + port, "lights"}, false), 2);
    EXPECT_NE(err_.str().find("is not a valid bridge address"), std::string::npos) << err_.str();
    EXPECT_EQ(ctl({"pair", "127.0.0.1" + port + "/api"}, false), 2);
    EXPECT_EQ(ctl({"--bridge", "https://127.0.0.1" + port + "/api", "lights"}, false), 2);
    EXPECT_EQ(server_.requestLog().size(), requests);
}

TEST_F(CtlTest, HttpsBridgesProveWhoTheyAreBeforeTheUserNameTravels) {
    const std::string https = "https://" + server_.httpsAddress();
    const std::string id = server_.bridgeId();
    auto userNameSent = [&] {
        for (const auto& r : server_.requestLog())
            if (r.path.find(sim::kDemoUser) != std::string::npos ||
                r.body.find(sim::kDemoUser) != std::string::npos)
                return true;
        return false;
    };
    // The simulator's root is none of the makers' that the program trusts.
    EXPECT_EQ(ctl({"--bridge", https, "--user", sim::kDemoUser, "lights"}, false), 1);
    EXPECT_NE(err_.str().find("presented a certificate that is not from the bridge's maker"),
              std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find("--trust-fingerprint " + server_.certificateFingerprint()),
              std::string::npos)
        << err_.str();
    EXPECT_FALSE(userNameSent());
    EXPECT_EQ(ctl({"--bridge", https, "--trust-fingerprint", "AB:CD", "lights"}, false), 2);

    // Trusted by the person, kept for the bridge's id: later calls need no flag.
    server_.pressLinkButton();
    ASSERT_EQ(ctl({"--trust-fingerprint", server_.certificateFingerprint(), "pair", https}, false),
              0)
        << err_.str();
    EXPECT_NE(out_.str().find("certificate trusted by fingerprint"), std::string::npos)
        << out_.str();
    ASSERT_EQ(ctl({"status"}, false), 0) << err_.str();
    std::string lowerId = id;
    for (char& c : lowerId) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(out_.str().find("connection: secure (HTTPS, bridge id " + lowerId), std::string::npos)
        << out_.str();

    // The certificate changes: refused, and the stored user name stays home.
    ASSERT_TRUE(server_.presentCertificate(sim::CertificateKind::selfSigned));
    server_.clearLog();
    EXPECT_EQ(ctl({"lights"}, false), 1);
    EXPECT_NE(err_.str().find("other than the one trusted"), std::string::npos) << err_.str();
    EXPECT_EQ(server_.requestLog().size(), 0u);
}

TEST_F(CtlTest, TheDemoTalksHttpsToItsBridge) {
    ASSERT_EQ(ctl({"--demo", "status"}, false), 0) << err_.str();
    EXPECT_NE(out_.str().find("connection: secure (HTTPS, bridge id "), std::string::npos)
        << out_.str();
}

TEST_F(CtlTest, DiscoverPrintsTheAddressFoundOnTheWeb) {
    ScopedEnv url("LUMORA_DISCOVERY_URL", server_.baseUrl() + "/discovery");
    EXPECT_EQ(ctl({"discover"}, false), 0) << err_.str();
    EXPECT_EQ(out_.str(), "127.0.0.1\n");
    EXPECT_NE(err_.str().find("[detectBridge] [SUCCESS] Found at: 127.0.0.1"), std::string::npos)
        << err_.str();
}

TEST_F(CtlTest, DiscoverKeepsStandardOutputForTheAddressAlone) {
    // Neither stage can find anything, and neither can leave the machine: the web
    // stage asks a closed loopback port, the DNS-SD stage a system bus that does
    // not exist. Both say why, and only on the error stream.
    ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir_ / "no-bus").string());
    ScopedEnv url("LUMORA_DISCOVERY_URL", "http://127.0.0.1:1/");
    testing::internal::CaptureStdout();
    const int rc = ctl({"discover"}, false);
    const std::string stdoutText = testing::internal::GetCapturedStdout();

    EXPECT_EQ(rc, 1);
    EXPECT_EQ(stdoutText, "");
    EXPECT_EQ(out_.str(), "");
    EXPECT_NE(err_.str().find("[ZeroConf] Avahi unavailable: "), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("no bridge found"), std::string::npos) << err_.str();
}

namespace {

// A loopback bridge with one dimmable light; its answers to commands and to
// pairing are up to the test.
struct OddBridge : support::CannedBridge {
    OddBridge() {
        answer(
            "GET", "/api/u/lights",
            R"({"1":{"state":{"on":true,"bri":100,"reachable":true},"type":"Dimmable light","name":"Lamp"}})");
        answer("GET", "/api/u/groups", "{}");
    }
    void reply(std::string body) { answer("PUT", "/api/u/lights/1/state", std::move(body)); }
};

}  // namespace

TEST_F(CtlTest, AnyRefusalEndsInAMessageAndAnExitCode) {
    OddBridge bridge;
    struct Case {
        const char* reply;
        int rc;
        const char* message;  // expected on standard error, "" for none
    } cases[] = {
        {R"([{"error":{"type":1,"description":null}}])", 1, "the bridge refused: error type 1\n"},
        {R"([{"error":{"type":7,"address":"/lights/1/state/on","description":7}}])", 1,
         "the bridge refused: error type 7\n"},
        {R"([{"error":{"type":201,"description":"parameter, on, is not modifiable"}}])", 1,
         "the bridge refused: parameter, on, is not modifiable\n"},
        {R"([{"error":{"type":"7","description":["x"]}}])", 1,
         "the bridge refused: no reason given\n"},
        {R"([{"success":{"/lights/1/state/on":false}},{"error":{"type":901.0,"description":""}}])",
         1, "the bridge refused: error type 901.0\n"},
        {R"([{"error":"busy"},{"error":null},5,null])", 0, ""},
        {R"({"error":{"type":1,"description":null}})", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        bridge.reply(c.reply);
        EXPECT_EQ(ctl({"--bridge", bridge.address(), "--user", "u", "off", "light:1"}, false), c.rc)
            << err_.str();
        if (*c.message)
            EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
        else
            EXPECT_EQ(err_.str().find("refused"), std::string::npos) << err_.str();
    }
}

TEST_F(CtlTest, ReadsLeaveTheNamesForCompletion) {
    const fs::path cache = dir_ / "cache" / "lumora" / "names";
    ASSERT_EQ(ctl({"rooms"}), 0) << err_.str();
    std::string names = slurp(cache);
    EXPECT_NE(names.find("light\tDesk lamp\n"), std::string::npos) << names;
    EXPECT_NE(names.find("room\tLiving room\n"), std::string::npos)
        << "zones count as rooms: " << names;
    EXPECT_EQ(names.find("scene\t"), std::string::npos) << "rooms reads no scenes";

    ASSERT_EQ(ctl({"scenes"}), 0) << err_.str();
    const std::string withScenes = slurp(cache);
    EXPECT_NE(withScenes.find("scene\tMovie night\n"), std::string::npos);
    // A read without scenes keeps the scene names of the one before.
    ASSERT_EQ(ctl({"off", "Kitchen"}), 0) << err_.str();
    names = slurp(cache);
    EXPECT_NE(names.find("scene\tMovie night\n"), std::string::npos) << names;
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'),
              std::count(withScenes.begin(), withScenes.end(), '\n'))
        << "nothing twice: " << names;

    // Neither a failed read nor the demo bridge touches the names.
    const std::string before = slurp(cache);
    EXPECT_EQ(ctl({"--bridge", server_.address(), "--user", "forgotten", "lights"}, false), 1);
    EXPECT_EQ(ctl({"--demo", "scenes"}, false), 0) << err_.str();
    EXPECT_EQ(slurp(cache), before);
}

TEST(NamesCache, KeepsOneLinePerNameAndKindsNotRead) {
    const fs::path file =
        fs::temp_directory_path() / ("lumora-names-" + std::to_string(::getpid())) / "names";
    ctl::Names first;
    first.lights = std::vector<std::string>{"Desk", "Desk", "Tab\there", "Two\nlines", ""};
    first.scenes = std::vector<std::string>{"Relax", "Relax", "Bright"};
    ASSERT_TRUE(ctl::updateNamesCache(file, first));
    EXPECT_EQ(slurp(file), "light\tDesk\nscene\tRelax\nscene\tBright\n");

    ctl::Names second;
    second.lights = std::vector<std::string>{};
    second.rooms = std::vector<std::string>{"Hall"};
    ASSERT_TRUE(ctl::updateNamesCache(file, second));
    EXPECT_EQ(slurp(file), "scene\tRelax\nscene\tBright\nroom\tHall\n")
        << "an empty list replaces, a missing one keeps";
    fs::remove_all(file.parent_path());

    // A cache folder that cannot be made is reported, not thrown.
    EXPECT_FALSE(ctl::updateNamesCache("/proc/self/lumora/names", first));
}

// The global shortcuts' commands with no tray program on the session bus:
// the invocation acts itself, one command per room as the tray would send.
TEST_F(CtlTest, ShortcutCommandsWithoutTheTrayProgramActDirectly) {
    ScopedEnv bus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir_ / "no-bus").string()};
    fs::create_directories(dir_);
    {
        JsonFileDefaultsStore store(configDirectory());
        store.setString("bridgeIP", server_.address());
        store.setString("bridgeUser", sim::kDemoUser);
        store.setInteger("keyIncrement", 10);
        store.setString("hotkeyCustomGroupAction2", "3_off");  // slot 3
    }
    // The rooms and zones the program shows.
    ASSERT_EQ(ctl({"rooms", "--json"}, false), 0) << err_.str();
    std::set<std::string> rooms;
    for (const auto& g : json::parse(out_.str())) rooms.insert(g["group_id"].get<std::string>());
    ASSERT_GE(rooms.size(), 2u);
    auto puts = [&] {
        std::map<std::string, json> sent;  // group id → body
        for (const auto& r : server_.requestLog()) {
            if (r.method != "PUT") continue;
            const auto at = r.path.find("/groups/");
            EXPECT_NE(at, std::string::npos) << r.path;
            const std::string id = r.path.substr(at + 8, r.path.find('/', at + 8) - at - 8);
            EXPECT_FALSE(sent.count(id)) << "twice to room " << id;
            sent[id] = json::parse(r.body);
        }
        server_.clearLog();
        return sent;
    };
    server_.clearLog();

    ASSERT_EQ(ctl({"brighter"}, false), 0) << err_.str();
    const auto brighter = puts();
    EXPECT_EQ(brighter.size(), rooms.size());
    for (const auto& [id, body] : brighter) {
        EXPECT_TRUE(rooms.count(id)) << id;
        EXPECT_EQ(body.value("bri_inc", 0), 10) << id << " " << body.dump();
    }
    ASSERT_EQ(ctl({"slot", "3"}, false), 0) << err_.str();
    const auto slot = puts();
    ASSERT_EQ(slot.size(), 1u);
    EXPECT_EQ(slot.begin()->first, "3");
    EXPECT_EQ(slot.begin()->second, json::parse(R"({"on": false})"));

    EXPECT_EQ(ctl({"toggle-panel"}, false), 1);
    EXPECT_NE(err_.str().find("tray program is not running"), std::string::npos) << err_.str();
    EXPECT_EQ(ctl({"slot", "6"}, false), 2);
    EXPECT_EQ(ctl({"brighter", "Kitchen"}, false), 2);
    EXPECT_TRUE(puts().empty());
}
