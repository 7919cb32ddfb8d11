// lumora-ctl and the tray program on one private desktop and session bus:
// the shortcut commands go through the tray program's queue and show in its
// panel; with the tray program gone they act directly; the panel commands
// open and close the panel.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/http.h"
#include "simulator/sim_server.h"
#include "support/demo_desktop.h"
#include "support/desktop_session.h"

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
// Each room's one command: group id → body. A second command to a room
// comes out as a null body.
std::map<std::string, json> groupCommands(const json& log) {
    std::map<std::string, json> sent;
    for (const auto& r : log) {
        const std::string path = r.value("path", "");
        const auto at = path.find("/groups/");
        if (r.value("method", "") != "PUT" || at == std::string::npos) continue;
        const std::string id = path.substr(at + 8, path.find('/', at + 8) - at - 8);
        sent[id] = sent.count(id) ? json() : json::parse(r.value("body", ""), nullptr, false);
    }
    return sent;
}

// What the window shows now, as the X server has it.
std::string pixels(const DesktopSession& s, const DesktopSession::Window& w) {
    xcb_connection_t* c = xcb_connect(s.display().c_str(), nullptr);
    std::string out;
    if (!xcb_connection_has_error(c)) {
        auto* image = xcb_get_image_reply(c,
                                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, w.client, 0,
                                                        0, static_cast<std::uint16_t>(w.width),
                                                        static_cast<std::uint16_t>(w.height), ~0u),
                                          nullptr);
        if (image) {
            out.assign(reinterpret_cast<const char*>(xcb_get_image_data(image)),
                       static_cast<size_t>(xcb_get_image_data_length(image)));
            free(image);
        }
    }
    xcb_disconnect(c);
    return out;
}

class ControlEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        LUMORA_REQUIRE_DESKTOP(session_);
        // No welcome; the step of brighter is 30.
        writeDemoProfile(session_, R"({"hasSeenWelcomeScreen": true, "showZones": false,)"
                                   R"( "keyIncrement": 30, "preferredWindowHeightRooms": 420})");
        tray_ = session_.spawn("lumora", {LUMORA_BINARY, "--demo"});
        ASSERT_TRUE(tray_);
        bridge_ = demoBridge(tray_);
        ASSERT_FALSE(bridge_.empty()) << tray_->stderrText();
        ASSERT_TRUE(session_.waitForTrayIcon("lumora", 10s)) << tray_->stderrText();
        // Connected once it has read the rooms.
        ASSERT_TRUE(eventually([&] { return !groupsRead().empty(); }, 200, 50ms))
            << tray_->stderrText();
    }
    json groupsRead() {
        for (const auto& r : bridgeRequest(bridge_, "/sim/log"))
            if (r.value("path", "").find("/groups") != std::string::npos) return r;
        return {};
    }
    // lumora-ctl in the session; its exit code, -1 when it hung.
    int ctl(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), LUMORA_CTL_BINARY);
        ChildProcess* p = session_.spawn("lumora-ctl", args, env);
        if (!p) return -1;
        const int rc = p->waitExit(20s).value_or(-1);
        said_ = p->stderrText();
        return rc;
    }
    std::optional<DesktopSession::Window> panel() { return mappedWindow(session_, kPanelTitle); }

    DesktopSession session_{{.sessionBus = true, .tray = true}};
    ChildProcess* tray_ = nullptr;
    std::string bridge_;
    std::string said_;
};

TEST_F(ControlEndToEnd, BrighterGoesThroughTheTrayProgramsQueueItsPanelShowsItAndTogglesIt) {
    ASSERT_EQ(ctl({"show-panel"}), 0) << said_;
    std::optional<DesktopSession::Window> p;
    ASSERT_TRUE(eventually([&] { return (p = panel()).has_value(); }, 100, 50ms)) << "no panel";
    // Its ROOMS tab, whose rows are the rooms' records.
    ASSERT_TRUE(session_.click(p->x + 145, p->y + 41 + 10));
    // The panel as drawn now; it takes the rooms' height after the switch.
    const auto shot = [&] {
        p = panel();
        return p ? pixels(session_, *p) : std::string();
    };
    // The rows as drawn before, once the panel has settled.
    std::string before;
    eventually(
        [&] {
            const std::string now = shot();
            const bool same = !now.empty() && now == before;
            before = now;
            return same;
        },
        100, 50ms);
    ASSERT_FALSE(before.empty());

    bridgeRequest(bridge_, "/sim/log", "DELETE");
    // lumora-ctl has no settings of its own here: only the tray program can
    // have reached the bridge.
    ASSERT_EQ(ctl({"brighter"}), 0) << said_;
    EXPECT_TRUE(eventually([&] { return shot() != before; }, 60, 50ms))
        << "the panel's rows did not change";
    const auto rooms = bridgeRequest(bridge_, std::string("/api/") + sim::kDemoUser + "/groups");
    // Until the queue, one command every 0.3 s, has sent nothing for a second.
    std::map<std::string, json> sent;
    auto quietSince = std::chrono::steady_clock::now();
    eventually(
        [&] {
            auto now = groupCommands(bridgeRequest(bridge_, "/sim/log"));
            if (now.size() != sent.size()) quietSince = std::chrono::steady_clock::now();
            sent = std::move(now);
            return !sent.empty() && std::chrono::steady_clock::now() - quietSince > 1s;
        },
        300, 50ms);
    ASSERT_FALSE(sent.empty());
    for (const auto& [id, body] : sent) {
        EXPECT_TRUE(rooms.contains(id)) << id;
        EXPECT_EQ(body, json::parse(R"({"on": true, "bri_inc": 30, "transitiontime": 1})"))
            << "room " << id;
    }
    EXPECT_GE(sent.size(), 4u) << "one command per room and zone";

    // toggle-panel closes the open panel and opens it again.
    ASSERT_EQ(ctl({"toggle-panel"}), 0) << said_;
    EXPECT_TRUE(eventually([&] { return !panel().has_value(); }, 100, 50ms)) << "not closed";
    ASSERT_EQ(ctl({"toggle-panel"}), 0) << said_;
    EXPECT_TRUE(eventually([&] { return panel().has_value(); }, 100, 50ms)) << "not opened";
    EXPECT_EQ(ctl({"slot", "9"}), 2);

    // Without the tray program the same command acts itself, with the same
    // requests.
    tray_->terminate();
    sim::SimServer own;
    ASSERT_TRUE(own.start());
    const auto config = session_.dir() / "ctl-config";
    std::filesystem::create_directories(config);
    std::ofstream(config / "defaults.json")
        << json{{"bridgeIP", own.address()}, {"bridgeUser", sim::kDemoUser}, {"keyIncrement", 30}};
    ASSERT_EQ(ctl({"brighter"}, {{"LUMORA_CONFIG_DIR", config.string()}}), 0) << said_;
    EXPECT_EQ(groupCommands(bridgeRequest(own.baseUrl(), "/sim/log")), sent);
}

}  // namespace
}  // namespace lumora::testing
