#pragma once
// A global mouse-button monitor on X11: XInput2 raw button presses (and, if
// asked for, left releases) on the root window, seen on a connection and a thread of its own. Raw
// events reach us even while another client holds a pointer grab (an open menu), which plain
// ButtonPress selection would not. Presses over the program's own windows are dropped; the rest
// reach the handler on the user-interface thread, through the poster the program hands in.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

class EventMonitor {
  public:
    enum class Mask : std::uint8_t {
        none = 0,
        leftMouseDown = 1u << 0,
        rightMouseDown = 1u << 1,
        // Releases are reported wherever they happen: they end a press
        // already seen.
        leftMouseUp = 1u << 2,
    };

    struct Event {
        Mask kind;  // leftMouseDown, rightMouseDown or leftMouseUp
        int x;      // root coordinates of the pointer at a press; 0 for a release
        int y;
    };

    using Handler = std::function<void(const Event&)>;
    using Post = std::function<void(std::function<void()>)>;
    using WindowIds = std::function<std::vector<std::uint32_t>()>;

    struct Options {
        // The X display; empty for $DISPLAY.
        std::string display;
        // Queues work on the user-interface thread; called from the watcher
        // thread, so it must be safe to call from any thread. Required:
        // without it start() fails, the handler never runs on the watcher.
        Post post;
        // The program's own top-level windows at that moment. Called through
        // `post` on the user-interface thread, once per press.
        WindowIds ownWindows;
    };

    // Stores everything; installs nothing.
    EventMonitor(Mask mask, Handler handler, Options options);
    // Stops.
    ~EventMonitor();
    EventMonitor(const EventMonitor&) = delete;
    EventMonitor& operator=(const EventMonitor&) = delete;

    // Connects, selects raw button presses for all master devices on the
    // root window and starts the watcher. Selection is in force when this
    // returns true. False when already running, without `post`, when no X
    // server answers or when it lacks XInput 2.0.
    bool start();
    // Ends the watcher and closes the connection. Presses already posted but
    // not yet run are dropped. Nothing when not running.
    void stop();
    bool isRunning() const { return session_ != nullptr; }

    // Whether the display's server offers XInput 2.0 or later; the program
    // falls back to closing the panel on deactivation when it does not.
    static bool isAvailable(const std::string& display = {});

  private:
    struct Session;

    Mask mask_;
    Handler handler_;
    Options options_;
    std::shared_ptr<Session> session_;
};

constexpr EventMonitor::Mask operator|(EventMonitor::Mask a, EventMonitor::Mask b) {
    return static_cast<EventMonitor::Mask>(static_cast<std::uint8_t>(a) |
                                           static_cast<std::uint8_t>(b));
}
constexpr bool operator&(EventMonitor::Mask a, EventMonitor::Mask b) {
    return (static_cast<std::uint8_t>(a) & static_cast<std::uint8_t>(b)) != 0;
}

}  // namespace lumora
