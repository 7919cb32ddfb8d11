// The real program on a private desktop: the tray icon in an XEmbed tray,
// the panel under it, a room dimmed by dragging, an outside click, the
// context menu; the StatusNotifierItem path; sleep and wake.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>

#include "simulator/sim_server.h"
#include "support/demo_desktop.h"
#include "support/desktop_session.h"
#include "support/x11_support.h"  // findProgram

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kTitle = 32 + 9;  // title bar and divider
constexpr int kBodyTop = kTitle + 20 + 5;

// Waits until such a window is `shown` or not; what is there at the end.
std::optional<DesktopSession::Window> waitNamed(DesktopSession& s, const std::string& title,
                                                bool shown, std::chrono::milliseconds limit = 5s) {
    std::optional<DesktopSession::Window> w;
    eventually([&] { return (w = mappedWindow(s, title)).has_value() == shown; }, limit / 20ms,
               20ms);
    return w;
}

// The panel once it has been moved to `y` (it maps first); what is there at the end.
std::optional<DesktopSession::Window> panelAt(DesktopSession& s, int y) {
    std::optional<DesktopSession::Window> p;
    eventually([&] { return (p = mappedWindow(s, kPanelTitle)) && p->y == y; }, 50, 20ms);
    return p;
}

// The tray menu: the program's one mapped pop-up besides the panel.
std::optional<DesktopSession::Window> menuWindow(DesktopSession& s) {
    for (const auto& w : s.topLevels()) {
        if (w.mapped && w.overrideRedirect && w.instance == "lumora" &&
            w.name.rfind(kPanelTitle, 0) != 0)
            return w;
    }
    return std::nullopt;
}

// The bridge's request log holds one that `match` accepts.
bool logged(const std::string& bridge, const std::function<bool(const nlohmann::json&)>& match) {
    const auto log = bridgeRequest(bridge, "/sim/log");
    if (!log.is_array()) return false;
    return std::any_of(log.begin(), log.end(), match);
}

// The demo profile as stored now; null while unreadable.
nlohmann::json storedProfile(const DesktopSession& s) {
    std::ifstream in(demoProfile(s));
    return nlohmann::json::parse(in, nullptr, false);
}

// Whether `field` of every light (or room) of the demo's bridge is `want`. An
// unreachable light keeps its last state, as on a real bridge.
bool every(const std::string& bridge, const std::string& kind, const char* field, bool want) {
    const auto all = bridgeRequest(bridge, std::string("/api/") + sim::kDemoUser + "/" + kind);
    if (!all.is_object() || all.empty()) return false;
    for (const auto& [id, r] : all.items())
        if (r["state"].value("reachable", true) && r["state"].value(field, !want) != want)
            return false;
    return true;
}

// One private desktop with the demo running in it.
class TrayEndToEnd : public ::testing::Test {
  protected:
    // Callers: ASSERT_NO_FATAL_FAILURE(start(...)); if (IsSkipped()) return;
    void start(DesktopSession::Options o) {
        session_ = std::make_unique<DesktopSession>(o);
        LUMORA_REQUIRE_DESKTOP(*session_);
        launch();
        if (!o.tray || HasFatalFailure()) return;
        const auto found = session_->waitForTrayIcon("lumora", 10s);
        ASSERT_TRUE(found) << app->stderrText();
        icon = *found;
    }
    // The demo in the session, with its bridge's address.
    void launch(const std::map<std::string, std::string>& env = {}, int height = 420,
                const nlohmann::json& extra = nlohmann::json::object()) {
        // A profile that has seen the welcome and shows rooms without zone headers.
        nlohmann::json profile = {{"hasSeenWelcomeScreen", true},
                                  {"showZones", false},
                                  {"preferredWindowHeightRooms", height},
                                  {"preferredWindowHeightLights", height}};
        profile.update(extra);
        writeDemoProfile(*session_, profile.dump());
        app = session_->spawn("lumora", {LUMORA_BINARY, "--demo"}, env);
        ASSERT_TRUE(app) << "not started";
        bridge = demoBridge(app);
        ASSERT_FALSE(bridge.empty()) << app->stderrText();
    }
    bool clickIcon(int button = 1) {
        return session_->click(icon.x + icon.width / 2, icon.y + icon.height / 2, button);
    }

    std::unique_ptr<DesktopSession> session_;
    ChildProcess* app = nullptr;
    std::string bridge;
    DesktopSession::Window icon;  // with a tray
};

TEST_F(TrayEndToEnd, TheXEmbedTrayOpensThePanelUnderTheIconAndItsControlsReachTheBridge) {
    ASSERT_NO_FATAL_FAILURE(start({.tray = true}));
    if (IsSkipped()) return;
    DesktopSession& s = *session_;
    // Connected: the program has read the lights.
    const auto readsLights = [](const nlohmann::json& r) {
        return r.value("path", "").find("/lights") != std::string::npos;
    };
    ASSERT_TRUE(eventually([&] { return logged(bridge, readsLights); }, 100, 50ms))
        << app->stderrText();

    ASSERT_TRUE(clickIcon());
    ASSERT_TRUE(waitNamed(s, kPanelTitle, true)) << "the panel did not open";
    // Under the icon, pulled in 5 points from the right edge, once placed.
    auto p = panelAt(s, icon.y + icon.height + 5);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->y, icon.y + icon.height + 5);
    EXPECT_EQ(p->x + p->width, 1280 - 5);
    EXPECT_EQ(p->width, 200);

    // The ROOMS tab, then a drag across the first room's slider.
    ASSERT_TRUE(s.click(p->x + 145, p->y + kTitle + 10));
    ASSERT_TRUE(eventually(
        [&] {
            const auto profile = storedProfile(s);
            return profile.is_object() && profile.value("activePanel", 0) == 1;
        },
        50, 20ms))
        << "the ROOMS tab did not take the click";
    bridgeRequest(bridge, "/sim/log");  // warm
    bridgeRequest(bridge, "/sim/log", "DELETE");
    const int sliderY = p->y + kBodyTop + 5 + 5 + 14 + 3 + 8;
    const int startX = p->x + 60;
    ASSERT_TRUE(s.xdotool({"mousemove", std::to_string(startX), std::to_string(sliderY)}));
    ASSERT_TRUE(s.xdotool({"mousedown", "1"}));
    for (int i = 1; i <= 12; ++i) {
        s.xdotool({"mousemove", std::to_string(startX + i * 12), std::to_string(sliderY)});
        std::this_thread::sleep_for(60ms);
    }
    ASSERT_TRUE(s.xdotool({"mouseup", "1"}));
    // The drag reaches the bridge through the queue, its last value last (the
    // queue's pacing on real time: tests/integration/queue_pacing_test.cpp).
    const auto roomBrightness = [&] {
        int last = -1;
        for (const auto& r : bridgeRequest(bridge, "/sim/log")) {
            const auto body = nlohmann::json::parse(r.value("body", ""), nullptr, false);
            if (r.value("path", "").find("/groups/") != std::string::npos && body.contains("bri"))
                last = body["bri"];
        }
        return last;
    };
    EXPECT_TRUE(eventually([&] { return roomBrightness() == 255; }, 60, 50ms))
        << "the last request is not the value the drag ended on";

    // A click elsewhere closes the panel.
    ASSERT_TRUE(s.click(300, 700));
    EXPECT_FALSE(waitNamed(s, kPanelTitle, false, 3s)) << "the panel stayed open";

    // A right click while the panel is open swaps it for the menu, and
    // "Darkness!" by its key switches every light off.
    ASSERT_TRUE(clickIcon());
    ASSERT_TRUE(waitNamed(s, kPanelTitle, true));
    ASSERT_TRUE(clickIcon(3));
    EXPECT_FALSE(waitNamed(s, kPanelTitle, false, 3s)) << "the panel stayed open";
    ASSERT_TRUE(eventually([&] { return menuWindow(s).has_value(); }, 50, 20ms)) << "no menu";
    ASSERT_TRUE(s.xdotool({"key", "x"}));
    EXPECT_TRUE(eventually([&] { return every(bridge, "lights", "on", false); }, 60, 200ms))
        << "Darkness! left lights on";
}

TEST_F(TrayEndToEnd, AStatusNotifierHostOpensThePanelAtItsPointWithOpenFirstInItsMenu) {
    ASSERT_NO_FATAL_FAILURE(start({.sniWatcher = true}));
    if (IsSkipped()) return;
    DesktopSession& s = *session_;
    ChildProcess& host = *s.sniWatcher();
    ASSERT_TRUE(host.waitLine("REGISTERED", 10s)) << app->stderrText();
    // The menu the host draws on a left click leads with the panel.
    const auto menu = host.ask("MENU", {"MENU", "ERR"});
    ASSERT_TRUE(menu);
    EXPECT_EQ(*menu,
              "MENU Open Lumora|-|Darkness!|Off in 5 minutes|Off in 30 minutes|Off in 60 "
              "minutes|-|Settings|-|Help|Provide Feedback|-|Quit Lumora");

    // A click on the icon at the top right of a 24 px bar, the pointer
    // elsewhere: under the bar, pulled in from the right edge.
    ASSERT_TRUE(s.xdotool({"mousemove", "200", "700"}));
    ASSERT_TRUE(host.ask("ACTIVATE 1262 12"));
    ASSERT_TRUE(waitNamed(s, kPanelTitle, true)) << app->stderrText();
    auto p = panelAt(s, 24 + 5);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->y, 24 + 5);
    EXPECT_EQ(p->x + p->width, 1280 - 5);
    // Activated again: closed. ContextMenu: the menu at the same bar.
    ASSERT_TRUE(host.ask("ACTIVATE 1262 12"));
    ASSERT_FALSE(waitNamed(s, kPanelTitle, false, 3s)) << "the second activation left it open";
    ASSERT_TRUE(host.ask("CONTEXT 1262 12"));
    ASSERT_TRUE(eventually([&] { return menuWindow(s).has_value(); }, 50, 20ms)) << "no menu";
    const auto m = menuWindow(s);
    EXPECT_EQ(m->y, 29);
    EXPECT_LE(m->x + m->width, 1280);
    EXPECT_GE(m->x + m->width, 1262) << "reaches the click";
    ASSERT_TRUE(s.xdotool({"key", "Escape"}));
    ASSERT_TRUE(eventually([&] { return !menuWindow(s); }, 50, 20ms));

    // A slow click on the icon: the press closes the panel as any click
    // outside it does, the host activates on the release; that activation
    // belongs to the click that closed the panel and must not reopen it.
    ASSERT_TRUE(host.ask("ACTIVATE 1262 12"));
    ASSERT_TRUE(waitNamed(s, kPanelTitle, true)) << app->stderrText();
    ASSERT_TRUE(s.xdotool({"mousemove", "100", "900"}));
    ASSERT_TRUE(s.xdotool({"mousedown", "1"}));
    ASSERT_FALSE(waitNamed(s, kPanelTitle, false)) << "the press closes the panel";
    ASSERT_TRUE(s.xdotool({"mouseup", "1"}));
    ASSERT_TRUE(host.ask("ACTIVATE 100 900"));
    EXPECT_FALSE(waitNamed(s, kPanelTitle, true, 1s)) << "the release reopened the panel";
    // The next click on the icon opens it again.
    ASSERT_TRUE(s.click(100, 900));
    ASSERT_TRUE(host.ask("ACTIVATE 100 900"));
    EXPECT_TRUE(waitNamed(s, kPanelTitle, true));
}

TEST_F(TrayEndToEnd, WithoutATrayItSaysSoAndWaits) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    if (IsSkipped()) return;
    EXPECT_TRUE(eventually(
        [&] { return app->stderrText().find("no system tray is running") != std::string::npos; },
        50))
        << app->stderrText();
    EXPECT_TRUE(app->running()) << "it waits instead of quitting";
}

TEST_F(TrayEndToEnd, SleepStopsBothTimersAndWakeBringsThemBack) {
    ASSERT_NO_FATAL_FAILURE(start({.tray = true, .logind = true}));
    if (IsSkipped()) return;
    DesktopSession& s = *session_;
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

std::string storedUser(const DesktopSession& s) {
    const auto json = storedProfile(s);
    return json.is_object() ? json.value("bridgeUser", std::string("?")) : "?";
}

TEST_F(TrayEndToEnd, TheSettingsRecordAShortcutThatSwitchesEveryRoomOnAndPairAfresh) {
    ASSERT_NO_FATAL_FAILURE(start({.tray = true}));
    if (IsSkipped()) return;
    DesktopSession& s = *session_;

    // The tray menu's "Settings" by its key opens the window at Connection.
    ASSERT_TRUE(clickIcon(3));
    ASSERT_TRUE(eventually([&] { return menuWindow(s).has_value(); }, 50, 20ms)) << "no menu";
    ASSERT_TRUE(s.xdotool({"key", "s"}));
    auto w = waitNamed(s, "Connection", true);
    ASSERT_TRUE(w) << "no settings window";
    auto at = [&](int x, int y) { return s.click(w->x + x, w->y + y); };

    // Hotkeys, the "On" recorder, then a real ctrl+alt+K.
    ASSERT_TRUE(at(252, 30));
    ASSERT_TRUE(waitNamed(s, "Hotkeys", true));
    // Typed until the recorder, once it records, has stored something new.
    const auto stored = [&] {
        const auto profile = storedProfile(s);
        if (!profile.is_object()) return std::string("?");
        return profile.value("KeyboardShortcuts_allLightsOn", nlohmann::json()).dump();
    };
    const std::string before = stored();
    const auto recorded = [&] {
        const std::string now = stored();
        return now != "?" && now != before;
    };
    ASSERT_TRUE(at(302, 141));
    ASSERT_TRUE(eventually(
        [&] {
            return recorded() || (s.xdotool({"key", "ctrl+alt+k"}) && recorded());
        },
        30))
        << "nothing recorded";
    // Escape closes the window once nothing records.
    ASSERT_TRUE(s.xdotool({"key", "Escape"}));
    EXPECT_FALSE(waitNamed(s, "Hotkeys", false, 3s)) << "Escape left the settings window open";

    for (int room = 1; room <= 8; ++room)
        bridgeRequest(
            bridge,
            std::string("/api/") + sim::kDemoUser + "/groups/" + std::to_string(room) + "/action",
            "PUT", "{\"on\": false}");
    ASSERT_TRUE(every(bridge, "groups", "any_on", false));
    ASSERT_TRUE(s.xdotool({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(eventually([&] { return every(bridge, "groups", "any_on", true); }, 50))
        << "the recorded shortcut did not switch every room on";

    // Pairing afresh: disconnect, Connect before the link button is pressed
    // leaves no user, after it a new one is stored.
    ASSERT_TRUE(clickIcon(3));
    ASSERT_TRUE(eventually([&] { return menuWindow(s).has_value(); }, 50, 20ms)) << "no menu";
    ASSERT_TRUE(s.xdotool({"key", "s"}));
    w = waitNamed(s, "Connection", true);
    ASSERT_TRUE(w);
    ASSERT_TRUE(at(237, 157));  // Disconnect
    EXPECT_TRUE(eventually([&] { return storedUser(s).empty(); }, 50));
    bridgeRequest(bridge, "/sim/linkbutton", "POST", "{\"pressed\": false}");
    bridgeRequest(bridge, "/sim/log", "DELETE");
    ASSERT_TRUE(at(250, 392));  // Connect, in the status row
    // The pairing request has been answered by the time the log holds it.
    EXPECT_TRUE(eventually(
        [&] {
            return logged(bridge, [](const nlohmann::json& r) {
                return r.value("method", "") == "POST" && r.value("path", "") == "/api";
            });
        },
        50));
    EXPECT_EQ(storedUser(s), "") << "paired without the link button";
    bridgeRequest(bridge, "/sim/linkbutton", "POST", "{\"pressed\": true}");
    ASSERT_TRUE(at(250, 392));
    std::string user;
    eventually(
        [&] {
            user = storedUser(s);
            return !user.empty() && user != "?";
        },
        50);
    EXPECT_FALSE(user.empty());
    EXPECT_NE(user, sim::kDemoUser) << "a fresh user name";
}

// A second start of the demo takes the port it had, so its profile is not
// rewritten on the way to the tray; when another program holds that port it
// takes a free one and stores it.
TEST_F(TrayEndToEnd, TheDemoKeepsItsPortAcrossStartsAndTakesAnotherWhenItIsBusy) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    if (IsSkipped()) return;
    const auto file = demoProfile(*session_);
    // A first start writes the defaults it reads once it has loaded them;
    // only a repeat start must leave the profile alone.
    ASSERT_TRUE(eventually(
        [&] { return storedProfile(*session_).contains("showColorBarsForLights"); }, 100, 20ms));
    app->terminate();
    auto look = [&file] {
        struct stat st {};
        ::stat(file.c_str(), &st);
        return std::tuple(st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    };
    const auto before = look();

    ChildProcess* again = session_->spawn("lumora-again", {LUMORA_BINARY, "--demo"});
    EXPECT_EQ(demoBridge(again), bridge);
    EXPECT_EQ(look(), before) << "the profile was written again";
    again->terminate();

    // Another server on that port.
    auto holder = std::make_unique<sim::SimServer>(
        sim::ServerOptions{.httpsPort = std::stoi(bridge.substr(bridge.rfind(':') + 1))});
    ASSERT_TRUE(holder->start());
    ChildProcess* third = session_->spawn("lumora-third", {LUMORA_BINARY, "--demo"});
    const std::string moved = demoBridge(third);
    holder.reset();
    ASSERT_FALSE(moved.empty()) << (third ? third->stderrText() : "");
    EXPECT_NE(moved, bridge);
    EXPECT_TRUE(bridgeRequest(moved, "/api/config").contains("name")) << "the moved bridge answers";
    EXPECT_EQ(storedProfile(*session_).value("bridgeIP", ""), moved.substr(moved.find("://") + 3))
        << "HOST:PORT, as the settings keep a bridge's address";
}

// What a screen reader gets over a real accessibility bus: the script reads
// the panel's tree and drives it by keys alone (see panel_atspi_test.py).
TEST_F(TrayEndToEnd, AScreenReaderReadsThePanelOverTheAccessibilityBusAndStepsItByKeys) {
    const std::string launcher = "/usr/libexec/at-spi-bus-launcher";
    if (access(launcher.c_str(), X_OK) != 0) GTEST_SKIP() << "no at-spi2-core: " << launcher;
    if (findProgram("dbus-send").empty()) GTEST_SKIP() << "no dbus-send";
    session_ = std::make_unique<DesktopSession>(DesktopSession::Options{.sessionBus = true});
    LUMORA_REQUIRE_DESKTOP(*session_);
    DesktopSession& s = *session_;
    // No settings daemon to be activated on the private bus.
    std::map<std::string, std::string> env{{"GSETTINGS_BACKEND", "memory"}, {"NO_AT_BRIDGE", "0"}};
    // Without the display the bus address travels only over the session bus,
    // the way Qt takes it up: one it finds on the X root window at start it
    // connects to without ever publishing its tree.
    ASSERT_TRUE(s.spawn(
        "a11y-bus", {"env", "-u", "DISPLAY", launcher, "--launch-immediately", "--a11y=1"}, env));
    ChildProcess* reader = s.spawn("reader", {"/usr/bin/python3", LUMORA_ATSPI_SCRIPT}, env);
    ASSERT_TRUE(reader);
    auto said = [reader] {
        std::string out;
        for (const auto& l : reader->lines()) out += l + "\n";
        return out + reader->stderrText();
    };
    if (!reader->waitLine("READY", 30s)) {
        if (reader->waitExit(2s) == 77) GTEST_SKIP() << said();
        FAIL() << said();
    }

    // English, whatever this machine speaks, and the panel's shortcut
    // (control-option-K) recorded.
    env.insert({{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                {"LANG", "C.UTF-8"},
                {"LC_ALL", "C.UTF-8"},
                {"LANGUAGE", ""}});
    const nlohmann::json keys = {{"carbonKeyCode", 40}, {"carbonModifiers", 6144}};
    ASSERT_NO_FATAL_FAILURE(launch(env, 520, {{"KeyboardShortcuts_togglePanel", keys.dump()}}));
    ASSERT_TRUE(reader->send("BRIDGE " + bridge + " " + storedUser(s)));
    EXPECT_EQ(reader->waitExit(90s), 0) << said() << app->stderrText();
    EXPECT_TRUE(app->running()) << app->stderrText();
}

}  // namespace
}  // namespace lumora::testing
