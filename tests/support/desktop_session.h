#pragma once
// One test's private desktop: an X server, optionally a session bus, a second
// bus standing in for the system bus, an XEmbed tray host, a stand-in
// StatusNotifierWatcher and a stand-in logind, plus whatever programs the
// test starts inside it. Everything dies with the session: each child runs in
// a process group of its own that the destructor kills, is told to stop
// should this process die, and is recorded so that the next session sweeps
// up what a killed run left behind. No toolkit; usable from GoogleTest.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

struct xcb_connection_t;

namespace lumora::testing {

class DesktopSession {
  public:
    struct Options {
        int width = 1280;  // the X screen
        int height = 1024;
        bool sessionBus = false;
        bool systemBus = false;  // a private bus handed out as the system bus
        // trayer docked at the top right: x = width - 120, y = 0, 120 x 24.
        bool tray = false;
        bool sniWatcher = false;  // on the session bus; implies it
        bool logind = false;      // on the system bus; implies it
    };

    struct Window {
        std::uint32_t id = 0;      // the root's child (a frame, if a manager framed it)
        std::uint32_t client = 0;  // the window with WM_CLASS inside it, else `id`
        std::string name;          // _NET_WM_NAME, else WM_NAME
        std::string instance;      // WM_CLASS, first part
        std::string className;     // WM_CLASS, second part
        int x = 0, y = 0;          // the client's root coordinates
        int width = 0, height = 0;
        bool mapped = false;
        bool overrideRedirect = false;
        std::uint32_t pid = 0;  // _NET_WM_PID, 0 when not set
    };

    explicit DesktopSession(Options options);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Non-empty when a program the session needs is missing: skip with it.
    const std::string& skipReason() const { return skip_; }
    // Non-empty when something needed did not come up: fail with it.
    const std::string& failure() const { return failure_; }
    bool ok() const { return skip_.empty() && failure_.empty(); }

    const std::string& display() const { return display_; }
    const std::string& sessionBusAddress() const { return sessionBus_; }
    // A private folder, removed with the session.
    const std::filesystem::path& dir() const { return dir_; }

    // What a child needs to live in this session: DISPLAY, both bus
    // addresses (a dead socket for a bus the session does not run, so a
    // child never reaches the machine's own or starts one), private XDG
    // config, cache and runtime folders, and QT_QPA_PLATFORM=xcb.
    std::map<std::string, std::string> variables() const;
    // This process's environment without any desktop of its own, with
    // variables() and then `extra` on top, as KEY=VALUE.
    std::vector<std::string> environment(
        const std::map<std::string, std::string>& extra = {}) const;

    // Starts a program inside the session; it dies with the session at the
    // latest. Nothing when it cannot be started (see failure()).
    ChildProcess* spawn(const std::string& name, std::vector<std::string> argv,
                        const std::map<std::string, std::string>& extraEnv = {});
    ChildProcess* sniWatcher() const { return watcher_; }
    ChildProcess* logind() const { return logind_; }

    // xdotool against this display; false when it failed or hung.
    bool xdotool(std::vector<std::string> args);
    bool click(int x, int y, int button = 1);

    // The root's children with what identifies them, in stacking order
    // (bottom first).
    std::vector<Window> topLevels();
    // trayer's own window, and the XEmbed clients docked in it (windows of
    // other clients inside it; the outermost of each), in root coordinates.
    std::optional<Window> trayWindow();
    std::vector<Window> trayIcons();
    // The first docked icon whose class matches (any icon for an empty one).
    std::optional<Window> waitForTrayIcon(
        const std::string& wmClass = {}, std::chrono::milliseconds limit = std::chrono::seconds(5));

  private:
    bool startX();
    bool startBus(const std::string& which, std::string* address);
    bool startTray();
    ChildProcess* startFake(const std::string& script, const std::string& address);
    ChildProcess* startChild(ChildProcess::Launch launch);
    void record() const;
    // With `findClient`, the window with WM_CLASS at or below `topLevel`.
    Window describe(std::uint32_t topLevel, bool findClient = true);

    Options options_;
    std::string skip_;
    std::string failure_;
    std::filesystem::path dir_;
    std::filesystem::path recordFile_;
    std::string display_;
    std::string sessionBus_;
    std::string systemBus_;
    std::vector<std::unique_ptr<ChildProcess>> children_;  // in start order
    ChildProcess* watcher_ = nullptr;
    ChildProcess* logind_ = nullptr;
    ChildProcess* trayer_ = nullptr;
    xcb_connection_t* conn_ = nullptr;
    std::uint32_t root_ = 0;
};

}  // namespace lumora::testing

// In a test body or SetUp: skips when the machine lacks a program the session
// needs, fails when the session did not come up.
#define LUMORA_REQUIRE_DESKTOP(session)                                              \
    do {                                                                             \
        if (!(session).skipReason().empty()) GTEST_SKIP() << (session).skipReason(); \
        ASSERT_TRUE((session).failure().empty()) << (session).failure();             \
    } while (0)
