// The desktop harness on its own: windows found where they are, a tray
// client docked in trayer and found there, the stand-in watcher and login
// manager driven over private buses, and nothing left behind.

#include "support/desktop_session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Alive and not a zombie waiting for its parent.
bool alive(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool waitGone(pid_t pid) {
    const auto deadline = SteadyClock::now() + 5s;
    while (alive(pid)) {
        if (SteadyClock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return a;
}

std::array<int, 4> frame(const DesktopSession::Window& w) {
    return {w.x, w.y, w.width, w.height};
}

// A client of the test's own: one window with a class and a name, which can
// ask the tray to dock it as its icon.
class TestClient {
  public:
    TestClient(const std::string& display, const std::string& wmClass, int x, int y, int w, int h)
        : conn(xcb_connect(display.c_str(), nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
        window = xcb_generate_id(conn);
        const std::uint32_t values[] = {screen->white_pixel};
        xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<int16_t>(x),
                          static_cast<int16_t>(y), static_cast<uint16_t>(w),
                          static_cast<uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, values);
        const std::string classes = wmClass + '\0' + wmClass + '\0';
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                            8, static_cast<uint32_t>(classes.size()), classes.data());
        const std::string title = "Lumora \xE2\x9C\x93";  // a check mark, as UTF-8
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, atom(conn, "_NET_WM_NAME"),
                            atom(conn, "UTF8_STRING"), 8, static_cast<uint32_t>(title.size()),
                            title.data());
    }
    ~TestClient() { xcb_disconnect(conn); }

    void map() {
        xcb_map_window(conn, window);
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr)); }

    // The system-tray dock request to the owner of the tray selection, with
    // the XEmbed information that asks the embedder to map us and a minimum
    // size, without which the embedder gives the icon one pixel of width.
    bool dock(int size) {
        const std::uint32_t info[] = {0, 1};  // version 0, XEMBED_MAPPED
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, atom(conn, "_XEMBED_INFO"),
                            atom(conn, "_XEMBED_INFO"), 32, 2, info);
        std::uint32_t hints[18] = {};
        hints[0] = 1u << 4;  // PMinSize
        hints[5] = hints[6] = static_cast<std::uint32_t>(size);
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        auto* owner = xcb_get_selection_owner_reply(
            conn, xcb_get_selection_owner(conn, atom(conn, "_NET_SYSTEM_TRAY_S0")), nullptr);
        const xcb_window_t manager = owner ? owner->owner : XCB_NONE;
        std::free(owner);
        if (manager == XCB_NONE) return false;
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = manager;
        event.type = atom(conn, "_NET_SYSTEM_TRAY_OPCODE");
        event.data.data32[0] = XCB_CURRENT_TIME;
        event.data.data32[1] = 0;  // SYSTEM_TRAY_REQUEST_DOCK
        event.data.data32[2] = window;
        xcb_send_event(conn, 0, manager, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        sync();
        return true;
    }

    xcb_connection_t* conn;
    xcb_window_t window = 0;
};

TEST(DesktopSessionTest, FindsWindowsAndDockedIconsWhereTheyAreAndHandsOutItsEnvironment) {
    DesktopSession session({.width = 1024, .height = 768, .tray = true});
    LUMORA_REQUIRE_DESKTOP(session);
    auto tray = session.trayWindow();
    ASSERT_TRUE(tray);
    EXPECT_EQ(frame(*tray), (std::array{1024 - 120, 0, 120, 24}));
    EXPECT_TRUE(session.trayIcons().empty());
    EXPECT_FALSE(session.findWindow("no-such-class"));

    TestClient client(session.display(), "lumora", 100, 200, 300, 150);
    const auto unmapped = session.findWindow("lumora");
    ASSERT_TRUE(unmapped) << "an unmapped window is still listed";
    EXPECT_FALSE(unmapped->mapped);
    client.map();
    auto found = session.findWindow("LUMORA");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->client, client.window);
    EXPECT_EQ(found->name, "Lumora \xE2\x9C\x93");
    EXPECT_EQ(found->className, "lumora");
    EXPECT_EQ(frame(*found), (std::array{100, 200, 300, 150}));
    EXPECT_TRUE(found->mapped);

    ASSERT_TRUE(session.xdotool({"windowmove", std::to_string(client.window), "40", "60"}));
    const auto deadline = SteadyClock::now() + 5s;
    auto moved = session.findWindow("lumora");
    while (moved && moved->x != 40 && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
        moved = session.findWindow("lumora");
    }
    ASSERT_TRUE(moved);
    EXPECT_EQ(frame(*moved), (std::array{40, 60, 300, 150}));

    TestClient icon(session.display(), "lumora-dock-test", 0, 0, 16, 16);
    const auto asked = SteadyClock::now();
    ASSERT_TRUE(icon.dock(20));
    const auto docked = session.waitForTrayIcon("lumora-dock-test");
    ASSERT_TRUE(docked) << "no icon docked";
    std::cout
        << "[ dock    ] "
        << std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - asked).count()
        << " ms; trayer up after " << session.startupSeconds() << " s\n";
    EXPECT_EQ(docked->id, icon.window);
    // Right-aligned with a 1-pixel inset, as the README promises.
    EXPECT_EQ(frame(*docked), (std::array{1024 - 21, 1, 20, 22}));
    EXPECT_FALSE(session.findWindow("lumora-dock-test")) << "a docked icon is no top level";

    // The machine's own desktop, if any, stays out of the child's.
    setenv("WAYLAND_DISPLAY", "wayland-9", 1);
    const auto env = session.environment({{"LUMORA_CONFIG_DIR", "/nowhere"}});
    unsetenv("WAYLAND_DISPLAY");
    auto has = [&](const std::string& entry) {
        return std::find(env.begin(), env.end(), entry) != env.end();
    };
    EXPECT_TRUE(has("DISPLAY=" + session.display()));
    EXPECT_TRUE(has("LUMORA_CONFIG_DIR=/nowhere"));
    EXPECT_TRUE(has("QT_QPA_PLATFORM=xcb"));
    EXPECT_FALSE(std::any_of(env.begin(), env.end(), [](const std::string& e) {
        return e.starts_with("WAYLAND_DISPLAY=");
    }));
    EXPECT_TRUE(session.variables()
                    .at("DBUS_SESSION_BUS_ADDRESS")
                    .starts_with("unix:path=" + session.dir().string()))
        << "without a bus of its own a child must reach none";
}

TEST(DesktopSessionTest, TheStandInWatcherAndLoginManagerAnswerOnTheirBuses) {
    DesktopSession session({.sniWatcher = true, .logind = true});
    LUMORA_REQUIRE_DESKTOP(session);
    ChildProcess* watcher = session.sniWatcher();
    ChildProcess* logind = session.logind();
    ASSERT_TRUE(watcher && logind);
    EXPECT_EQ(watcher->ask("ACTIVATE 1 2"), "ERR no item registered");
    EXPECT_EQ(logind->ask("WAITSUB 0.1", {"SUBSCRIBED", "ERR"}), "ERR no subscriber");

    // A tray item the way toolkits make one (a name of its own, the usual
    // path), which also listens for sleep on the "system" bus of its
    // environment and takes a delay lock, as the program does.
    const char* program = R"(
import dbus, dbus.service, os, stat
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
I = 'org.kde.StatusNotifierItem'
class Item(dbus.service.Object):
    @dbus.service.method(I, in_signature='ii')
    def Activate(self, x, y): print('ACTIVATED', x, y, flush=True)
    @dbus.service.method(I, in_signature='ii')
    def ContextMenu(self, x, y): print('MENU', x, y, flush=True)
    @dbus.service.method(I, in_signature='ii')
    def SecondaryActivate(self, x, y): print('SECONDARY', x, y, flush=True)
    @dbus.service.method('org.freedesktop.DBus.Properties', in_signature='ss', out_signature='v')
    def Get(self, i, p): return 'Lumora test'
item = Item(bus, '/StatusNotifierItem')
name = dbus.service.BusName('org.kde.StatusNotifierItem-%d-1' % os.getpid(), bus)
bus.get_object('org.kde.StatusNotifierWatcher', '/StatusNotifierWatcher').RegisterStatusNotifierItem(
    name.get_name(), dbus_interface='org.kde.StatusNotifierWatcher')
system = dbus.SystemBus()
system.add_signal_receiver(lambda start: print('SLEEP', 'true' if start else 'false', flush=True),
    'PrepareForSleep', 'org.freedesktop.login1.Manager', 'org.freedesktop.login1',
    '/org/freedesktop/login1')
manager = system.get_object('org.freedesktop.login1', '/org/freedesktop/login1')
fd = manager.Inhibit('sleep', 'lumora', 'test', 'delay',
    dbus_interface='org.freedesktop.login1.Manager').take()
print('LOCK', 'chr' if stat.S_ISCHR(os.fstat(fd).st_mode) else 'other', flush=True)
GLib.MainLoop().run()
)";
    ChildProcess* client = session.spawn("client", {"/usr/bin/python3", "-c", program});
    ASSERT_NE(client, nullptr);
    const auto registered = watcher->waitLine("REGISTERED");
    ASSERT_TRUE(registered) << client->stderrText();
    EXPECT_EQ(*registered, "REGISTERED org.kde.StatusNotifierItem-" +
                               std::to_string(client->pid()) + "-1 /StatusNotifierItem");
    for (auto [command, reply] : {std::pair{"ACTIVATE 10 20", "ACTIVATED 10 20"},
                                  {"CONTEXT 3 4", "MENU 3 4"},
                                  {"SECONDARY 5 6", "SECONDARY 5 6"}}) {
        EXPECT_EQ(watcher->ask(command), "OK") << command;
        EXPECT_EQ(client->waitLine(reply), reply);
    }
    EXPECT_EQ(watcher->ask("GET Title", {"VALUE", "ERR"}), "VALUE Title Lumora test");

    // What a tray icon asks before it registers, through the session bus of
    // the child's environment.
    ChildProcess* query = session.spawn(
        "query", {"dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                  "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                  "string:org.kde.StatusNotifierWatcher", "string:IsStatusNotifierHostRegistered"});
    ASSERT_NE(query, nullptr);
    EXPECT_TRUE(
        query->waitLine([](const std::string& l) { return l.find("boolean true") != l.npos; }, 5s))
        << query->stderrText();

    // An item registered by object path belongs to the caller's connection,
    // and goes when that connection does.
    ChildProcess* byPath = session.spawn(
        "by-path", {"dbus-send", "--session", "--print-reply",
                    "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.kde.StatusNotifierWatcher.RegisterStatusNotifierItem", "string:/Other"});
    ASSERT_NE(byPath, nullptr);
    const auto other = watcher->waitLine("REGISTERED");
    ASSERT_TRUE(other) << byPath->stderrText();
    EXPECT_TRUE(other->starts_with("REGISTERED :1.")) << *other;
    EXPECT_TRUE(other->ends_with(" /Other")) << *other;
    EXPECT_EQ(watcher->waitLine("UNREGISTERED"), "UN" + *other);

    EXPECT_EQ(client->waitLine("LOCK"), "LOCK chr") << client->stderrText();
    EXPECT_EQ(logind->waitLine("INHIBIT"), "INHIBIT sleep lumora test delay");
    const auto subscribed = logind->ask("WAITSUB 5", {"SUBSCRIBED", "ERR"});
    ASSERT_TRUE(subscribed && subscribed->starts_with("SUBSCRIBED :1.")) << client->stderrText();
    for (auto [command, start] : {std::pair{"SLEEP", "true"}, {"WAKE", "false"}}) {
        EXPECT_EQ(logind->ask(command, {"EMITTED", "ERR"}), std::string("EMITTED ") + start);
        EXPECT_EQ(client->waitLine("SLEEP"), std::string("SLEEP ") + start);
    }

    client->terminate();
    EXPECT_TRUE(watcher->waitLine("UNREGISTERED"));
    EXPECT_EQ(watcher->ask("ACTIVATE 1 2"), "ERR no item registered");
}

TEST(DesktopSessionTest, ChildLinesCanBeTakenInAnyOrderAndEverythingItStartedDiesWithIt) {
    pid_t sleeper = 0;
    std::filesystem::path dir;
    {
        DesktopSession session({.sessionBus = true});
        LUMORA_REQUIRE_DESKTOP(session);
        dir = session.dir();
        ChildProcess* talk =
            session.spawn("talk", {"sh", "-c", "echo A1; echo B1; echo A2; read x; echo got $x"});
        ASSERT_NE(talk, nullptr);
        EXPECT_EQ(talk->waitLine("B"), "B1");
        EXPECT_EQ(talk->waitLine("A"), "A1");
        EXPECT_EQ(talk->waitLine("A"), "A2");
        EXPECT_EQ(talk->ask("hello", {"got"}), "got hello");
        EXPECT_EQ(talk->waitExit(5s), 0);
        EXPECT_FALSE(talk->waitLine("A", 10ms)) << "each line is taken once";
        EXPECT_EQ(talk->lines().size(), 4u);

        ChildProcess* failing = session.spawn("failing", {"sh", "-c", "echo oops >&2; exit 3"});
        ASSERT_NE(failing, nullptr);
        EXPECT_EQ(failing->waitExit(5s), 3);
        EXPECT_EQ(failing->stderrText(), "oops\n");
        EXPECT_EQ(session.spawn("missing", {"no-such-program-here"}), nullptr);
        EXPECT_NE(session.failure().find("no-such-program-here"), std::string::npos);

        ChildProcess* shell = session.spawn("shell", {"sh", "-c", "sleep 30 & echo $!; wait"});
        ASSERT_NE(shell, nullptr);
        const auto line = shell->waitLine("");
        ASSERT_TRUE(line);
        sleeper = std::atoi(line->c_str());
        ASSERT_TRUE(alive(sleeper));
    }
    EXPECT_TRUE(waitGone(sleeper)) << "a grandchild outlived its session";
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(DesktopSessionTest, ANewSessionSweepsUpAfterAKilledRun) {
    // A run killed outright: its children are told to go, but a grandchild
    // in one of their groups is not.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t run = fork();
    if (run == 0) {
        close(fds[0]);
        DesktopSession session({});
        if (!session.ok()) _exit(1);
        ChildProcess* shell = session.spawn("shell", {"sh", "-c", "sleep 30 & echo $!; wait"});
        const auto line = shell ? shell->waitLine("") : std::nullopt;
        const std::string report = line ? *line + " " + session.dir().string() + "\n" : "\n";
        [[maybe_unused]] auto n = write(fds[1], report.data(), report.size());
        pause();
        _exit(0);
    }
    close(fds[1]);
    char buffer[512] = {};
    ASSERT_GT(read(fds[0], buffer, sizeof buffer - 1), 0);
    close(fds[0]);
    kill(run, SIGKILL);
    waitpid(run, nullptr, 0);
    char dir[400] = {};
    pid_t sleeper = 0;
    if (std::sscanf(buffer, "%d %399s", &sleeper, dir) != 2)
        GTEST_SKIP() << "the killed run could not start a session";
    ASSERT_TRUE(alive(sleeper));

    DesktopSession next({});
    LUMORA_REQUIRE_DESKTOP(next);
    EXPECT_TRUE(waitGone(sleeper));
    EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
}  // namespace lumora::testing
