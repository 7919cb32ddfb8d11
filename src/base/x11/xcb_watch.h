#pragma once
// A thread that reads one xcb connection's events and hands each to a
// handler, until stopped or until the server goes away. Shared by the
// platform's X11 clients, each of which keeps a connection of its own.

#include <xcb/xcb.h>

#include <atomic>
#include <functional>
#include <thread>

namespace lumora::x11 {

class XcbWatch {
  public:
    // Called on the watcher thread; the event is freed after it returns.
    using Handler = std::function<void(xcb_generic_event_t*)>;

    XcbWatch();
    // Stops.
    ~XcbWatch();
    XcbWatch(const XcbWatch&) = delete;
    XcbWatch& operator=(const XcbWatch&) = delete;

    // False when the wake-up channel could not be made: do not start.
    bool ready() const { return wakeFd_ >= 0; }
    // Starts the thread on `conn`, which must outlive the watch or its stop().
    void start(xcb_connection_t* conn, Handler handler);
    // Has the thread look again: requests made on another thread may have
    // read events off the socket into xcb's queue, where poll() on the socket
    // would not see them.
    void wake();
    // Ends the thread and waits for it; nothing when it is not running.
    void stop();

  private:
    void run(xcb_connection_t* conn, const Handler& handler);

    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace lumora::x11
