// The real program on a private desktop: the tray icon in an XEmbed tray,
// the panel under it, a room dimmed by dragging, an outside click, the
// context menu; the StatusNotifierItem path; sleep and wake.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/http.h"
#include "simulator/sim_server.h"
#include "support/desktop_session.h"

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kTitle = 32 + 9;  // title bar and divider
constexpr int kBodyTop = kTitle + 20 + 5;

// A profile that has seen the welcome and shows rooms without zone headers.
void writeProfile(const DesktopSession& session, const std::string& extra = "") {
    const auto dir =
        std::filesystem::path(session.variables().at("XDG_CONFIG_HOME")) / "lumora-demo";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "defaults.json")
        << "{\"hasSeenWelcomeScreen\": true, \"showZones\": false, "
           "\"preferredWindowHeightRooms\": 420, \"preferredWindowHeightLights\": 420"
        << extra << "}";
}

std::optional<DesktopSession::Window> panel(DesktopSession& s) {
    for (const auto& w : s.topLevels()) {
        if (w.name.rfind("Lumora panel", 0) == 0 && w.mapped) return w;
    }
    return std::nullopt;
}

std::optional<DesktopSession::Window> waitPanel(DesktopSession& s, bool shown,
                                                std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto p = panel(s);
        if (p.has_value() == shown) return p ? p : std::optional<DesktopSession::Window>{};
        if (std::chrono::steady_clock::now() > end) return shown ? std::nullopt : p;
        std::this_thread::sleep_for(20ms);
    }
}

nlohmann::json get(const std::string& address, const std::string& path) {
    HttpRequest r;
    r.url = "http://" + address + path;
    r.timeout = 3s;
    const HttpResponse reply = httpSend(r);
    if (!reply.ok() || !reply.body) return nullptr;
    return nlohmann::json::parse(*reply.body, nullptr, false);
}

// Starts the demo and returns its bridge's address.
std::string startDemo(DesktopSession& s, ChildProcess** out) {
    ChildProcess* p = s.spawn("lumora", {LUMORA_BINARY, "--demo"});
    if (!p) return {};
    *out = p;
    auto line = p->waitLine("lumora: demo bridge at ", 10s);
    if (!line) return {};
    return line->substr(std::string("lumora: demo bridge at ").size());
}

TEST(TrayEndToEnd, TheXEmbedTrayOpensThePanelUnderTheIconAndItsControlsReachTheBridge) {
    DesktopSession::Options o;
    o.tray = true;
    DesktopSession s(o);
    if (!s.skipReason().empty()) GTEST_SKIP() << s.skipReason();
    ASSERT_TRUE(s.ok()) << s.failure();
    writeProfile(s);
    ChildProcess* app = nullptr;
    const std::string bridge = startDemo(s, &app);
    ASSERT_FALSE(bridge.empty()) << (app ? app->stderrText() : "not started");

    auto icon = s.waitForTrayIcon("lumora", 10s);
    ASSERT_TRUE(icon) << app->stderrText();
    // Connected: the program has read the lights.
    bool read = false;
    for (int i = 0; i < 100 && !read; ++i) {
        for (const auto& r : get(bridge, "/sim/log")) {
            if (r.value("path", "").find("/lights") != std::string::npos) read = true;
        }
        if (!read) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(read) << app->stderrText();

    ASSERT_TRUE(s.click(icon->x + icon->width / 2, icon->y + icon->height / 2));
    auto p = waitPanel(s, true);
    ASSERT_TRUE(p) << "the panel did not open";
    // Under the icon, pulled in 5 points from the right edge.
    std::this_thread::sleep_for(200ms);
    p = panel(s);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->y, icon->y + icon->height + 5);
    EXPECT_EQ(p->x + p->width, 1280 - 5);
    EXPECT_EQ(p->width, 200);

    // The ROOMS tab, then a drag across the first room's slider.
    ASSERT_TRUE(s.click(p->x + 145, p->y + kTitle + 10));
    std::this_thread::sleep_for(300ms);
    get(bridge, "/sim/log");  // warm
    HttpRequest clear;
    clear.method = "DELETE";
    clear.url = "http://" + bridge + "/sim/log";
    httpSend(clear);
    const int sliderY = p->y + kBodyTop + 5 + 5 + 14 + 3 + 8;
    const int startX = p->x + 60;
    ASSERT_TRUE(s.xdotool({"mousemove", std::to_string(startX), std::to_string(sliderY)}));
    ASSERT_TRUE(s.xdotool({"mousedown", "1"}));
    for (int i = 1; i <= 12; ++i) {
        s.xdotool({"mousemove", std::to_string(startX + i * 12), std::to_string(sliderY)});
        std::this_thread::sleep_for(60ms);
    }
    ASSERT_TRUE(s.xdotool({"mouseup", "1"}));
    std::this_thread::sleep_for(1500ms);

    const auto log = get(bridge, "/sim/log");
    ASSERT_TRUE(log.is_array());
    std::vector<std::pair<double, int>> sends;  // wall ms, brightness
    for (const auto& r : log) {
        const std::string path = r.value("path", "");
        if (r.value("method", "") != "PUT" || path.find("/groups/") == std::string::npos) continue;
        const auto body = nlohmann::json::parse(r.value("body", ""), nullptr, false);
        if (body.is_object() && body.contains("bri")) {
            sends.emplace_back(r.value("wall_ms", 0.0), body["bri"].get<int>());
        }
    }
    ASSERT_GE(sends.size(), 2u) << log.dump();
    for (std::size_t i = 1; i < sends.size(); ++i) {
        EXPECT_GE(sends[i].first - sends[i - 1].first, 290) << "requests paced by the queue";
    }
    EXPECT_EQ(sends.back().second, 255) << "ends at the value the drag ended on";

    // A click elsewhere closes the panel.
    ASSERT_TRUE(s.click(300, 700));
    EXPECT_FALSE(waitPanel(s, false, 3s)) << "the panel stayed open";

    // A right click while the panel is open swaps it for the menu, and
    // "Darkness!" by its key switches every light off.
    ASSERT_TRUE(s.click(icon->x + icon->width / 2, icon->y + icon->height / 2));
    ASSERT_TRUE(waitPanel(s, true));
    ASSERT_TRUE(s.click(icon->x + icon->width / 2, icon->y + icon->height / 2, 3));
    EXPECT_FALSE(waitPanel(s, false, 3s)) << "the panel stayed open";
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(s.xdotool({"key", "x"}));
    bool allOff = false;
    for (int i = 0; i < 60 && !allOff; ++i) {
        std::this_thread::sleep_for(200ms);
        const auto lights = get(bridge, std::string("/api/") + sim::kDemoUser + "/lights");
        allOff = lights.is_object() && !lights.empty();
        for (const auto& [id, l] : lights.items()) {
            // An unreachable light keeps its last state, as on a real bridge.
            if (l["state"].value("reachable", true) && l["state"].value("on", false))
                allOff = false;
        }
    }
    EXPECT_TRUE(allOff) << "Darkness! left lights on";
}

TEST(TrayEndToEnd, AStatusNotifierHostActivatesThePanelAtThePointer) {
    DesktopSession::Options o;
    o.sniWatcher = true;
    DesktopSession s(o);
    if (!s.skipReason().empty()) GTEST_SKIP() << s.skipReason();
    ASSERT_TRUE(s.ok()) << s.failure();
    writeProfile(s);
    ASSERT_TRUE(s.xdotool({"mousemove", "640", "300"}));
    ChildProcess* app = nullptr;
    ASSERT_FALSE(startDemo(s, &app).empty());
    ASSERT_TRUE(s.sniWatcher()->waitLine("REGISTERED", 10s)) << app->stderrText();
    ASSERT_TRUE(s.sniWatcher()->ask("ACTIVATE 640 300"));
    auto p = waitPanel(s, true);
    ASSERT_TRUE(p) << app->stderrText();
    std::this_thread::sleep_for(200ms);
    p = panel(s);
    ASSERT_TRUE(p);
    EXPECT_GE(p->x, 0);
    EXPECT_LE(p->x + p->width, 1280);
    EXPECT_LE(p->y + p->height, 1024);
    EXPECT_LE(p->x, 640);
    EXPECT_GE(p->x + p->width, 640);
    EXPECT_EQ(p->y, 305) << "just under the pointer in the upper half";
}

TEST(TrayEndToEnd, WithoutATrayItSaysSoAndWaits) {
    DesktopSession::Options o;
    DesktopSession s(o);
    if (!s.skipReason().empty()) GTEST_SKIP() << s.skipReason();
    ASSERT_TRUE(s.ok()) << s.failure();
    writeProfile(s);
    ChildProcess* app = nullptr;
    ASSERT_FALSE(startDemo(s, &app).empty());
    std::string err;
    for (int i = 0; i < 50 && err.find("no system tray") == std::string::npos; ++i) {
        std::this_thread::sleep_for(100ms);
        err = app->stderrText();
    }
    EXPECT_NE(err.find("no system tray is running"), std::string::npos) << err;
    EXPECT_TRUE(app->running()) << "it waits instead of quitting";
}

TEST(TrayEndToEnd, SleepStopsBothTimersAndWakeBringsThemBack) {
    DesktopSession::Options o;
    o.tray = true;
    o.logind = true;
    DesktopSession s(o);
    if (!s.skipReason().empty()) GTEST_SKIP() << s.skipReason();
    ASSERT_TRUE(s.ok()) << s.failure();
    writeProfile(s);
    ChildProcess* app = nullptr;
    ASSERT_FALSE(startDemo(s, &app).empty());
    ASSERT_TRUE(s.logind()
                    ->ask("WAITSUB 10", {"SUBSCRIBED", "ERR"}, 12s)
                    .value_or("")
                    .rfind("SUBSCRIBED", 0) == 0)
        << app->stderrText();
    ASSERT_TRUE(s.logind()->ask("SLEEP", {"EMITTED"}));
    auto slept = app->waitLine("System will sleep", 5s);
    ASSERT_TRUE(slept);
    EXPECT_EQ(*slept, "System will sleep: queue timer stopped, refresh timer stopped");
    ASSERT_TRUE(s.logind()->ask("WAKE", {"EMITTED"}));
    auto woke = app->waitLine("System woke", 5s);
    ASSERT_TRUE(woke);
    EXPECT_EQ(*woke, "System woke: queue timer running, refresh timer running");
}

// The settings window's top level, titled after the pane it shows.
std::optional<DesktopSession::Window> settingsWindow(DesktopSession& s, const std::string& pane) {
    for (int i = 0; i < 100; ++i) {
        for (const auto& w : s.topLevels()) {
            if (w.name.rfind(pane, 0) == 0 && w.mapped) return w;
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

std::string storedUser(const DesktopSession& s) {
    const auto file = std::filesystem::path(s.variables().at("XDG_CONFIG_HOME")) / "lumora-demo" /
                      "defaults.json";
    std::ifstream in(file);
    const auto json = nlohmann::json::parse(in, nullptr, false);
    return json.is_object() ? json.value("bridgeUser", std::string("?")) : "?";
}

void post(const std::string& address, const std::string& path, const std::string& body,
          const std::string& method = "POST") {
    HttpRequest r;
    r.method = method;
    r.url = "http://" + address + path;
    r.body = body;
    r.timeout = 3s;
    httpSend(r);
}

bool everyRoom(const std::string& bridge, bool on) {
    const auto groups = get(bridge, std::string("/api/") + sim::kDemoUser + "/groups");
    if (!groups.is_object() || groups.empty()) return false;
    for (const auto& [id, g] : groups.items()) {
        if (g["state"].value("any_on", !on) != on) return false;
    }
    return true;
}

TEST(TrayEndToEnd, TheSettingsRecordAShortcutThatSwitchesEveryRoomOnAndPairAfresh) {
    DesktopSession::Options o;
    o.tray = true;
    DesktopSession s(o);
    if (!s.skipReason().empty()) GTEST_SKIP() << s.skipReason();
    ASSERT_TRUE(s.ok()) << s.failure();
    writeProfile(s);
    ChildProcess* app = nullptr;
    const std::string bridge = startDemo(s, &app);
    ASSERT_FALSE(bridge.empty()) << (app ? app->stderrText() : "not started");
    auto icon = s.waitForTrayIcon("lumora", 10s);
    ASSERT_TRUE(icon) << app->stderrText();

    // The tray menu's "Settings" by its key opens the window at Connection.
    ASSERT_TRUE(s.click(icon->x + icon->width / 2, icon->y + icon->height / 2, 3));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(s.xdotool({"key", "s"}));
    auto w = settingsWindow(s, "Connection");
    ASSERT_TRUE(w) << "no settings window";
    auto at = [&](int x, int y) { return s.click(w->x + x, w->y + y); };

    // Hotkeys, the "On" recorder, then a real ctrl+alt+K.
    ASSERT_TRUE(at(252, 30));
    ASSERT_TRUE(settingsWindow(s, "Hotkeys"));
    ASSERT_TRUE(at(302, 141));
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(s.xdotool({"key", "ctrl+alt+k"}));
    std::this_thread::sleep_for(300ms);
    // Escape closes the window once nothing records.
    ASSERT_TRUE(s.xdotool({"key", "Escape"}));
    bool closed = false;
    for (int i = 0; i < 60 && !closed; ++i) {
        closed = true;
        for (const auto& t : s.topLevels())
            if (t.name.rfind("Hotkeys", 0) == 0 && t.mapped) closed = false;
        if (!closed) std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(closed) << "Escape left the settings window open";

    for (int room = 1; room <= 8; ++room)
        post(bridge,
             std::string("/api/") + sim::kDemoUser + "/groups/" + std::to_string(room) + "/action",
             "{\"on\": false}", "PUT");
    ASSERT_TRUE(everyRoom(bridge, false));
    ASSERT_TRUE(s.xdotool({"key", "ctrl+alt+k"}));
    bool allOn = false;
    for (int i = 0; i < 50 && !allOn; ++i) {
        std::this_thread::sleep_for(100ms);
        allOn = everyRoom(bridge, true);
    }
    EXPECT_TRUE(allOn) << "the recorded shortcut did not switch every room on";

    // Pairing afresh: disconnect, Connect before the link button is pressed
    // leaves no user, after it a new one is stored.
    ASSERT_TRUE(s.click(icon->x + icon->width / 2, icon->y + icon->height / 2, 3));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(s.xdotool({"key", "s"}));
    w = settingsWindow(s, "Connection");
    ASSERT_TRUE(w);
    ASSERT_TRUE(at(237, 157));  // Disconnect
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(storedUser(s), "");
    post(bridge, "/sim/linkbutton", "{\"pressed\": false}");
    ASSERT_TRUE(at(250, 392));  // Connect, in the status row
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(storedUser(s), "") << "paired without the link button";
    post(bridge, "/sim/linkbutton", "{\"pressed\": true}");
    ASSERT_TRUE(at(250, 392));
    std::string user;
    for (int i = 0; i < 50 && (user.empty() || user == "?"); ++i) {
        std::this_thread::sleep_for(100ms);
        user = storedUser(s);
    }
    EXPECT_FALSE(user.empty());
    EXPECT_NE(user, sim::kDemoUser) << "a fresh user name";
}

}  // namespace
}  // namespace lumora::testing
