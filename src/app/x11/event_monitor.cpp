#include "app/x11/event_monitor.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "base/x11/xcb_watch.h"

namespace lumora {
namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// Deeper than any real window tree; only guards against a tree that changes
// under us into a cycle of stale replies.
constexpr int kMaxDepth = 64;

Connection connectTo(const std::string& display, int* screen) {
    Connection c(xcb_connect(display.empty() ? nullptr : display.c_str(), screen));
    if (c && xcb_connection_has_error(c.get())) c.reset();
    return c;
}

// The extension's major opcode when the server speaks XInput 2.0 or later,
// else 0. Asking for 2.2 makes the server send raw events regardless of
// grabs (2.1 and later); a 2.0 server still delivers them when nothing
// grabs the pointer.
std::uint8_t xinput2Opcode(xcb_connection_t* c) {
    const auto* ext = xcb_get_extension_data(c, &xcb_input_id);
    if (!ext || !ext->present) return 0;
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2) return 0;
    return ext->major_opcode;
}

}  // namespace

struct EventMonitor::Session : std::enable_shared_from_this<Session> {
    Connection conn;  // empty once closed; guarded by `mutex` after start
    xcb_window_t root = XCB_NONE;
    std::uint8_t xiOpcode = 0;
    x11::XcbWatch watch;
    Mask mask = Mask::none;
    Handler handler;
    Post post;
    WindowIds ownWindows;

    std::mutex mutex;

    void close() {
        watch.stop();
        std::lock_guard lock(mutex);
        conn.reset();
    }

    void handle(xcb_generic_event_t* event) {
        if ((event->response_type & 0x7F) != XCB_GE_GENERIC) return;
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (ge->extension != xiOpcode) return;
        const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
        if (ge->event_type == XCB_INPUT_RAW_BUTTON_RELEASE) {
            if (raw->detail != 1 || !(mask & Mask::leftMouseUp)) return;
            post([self = shared_from_this()] { self->deliverRelease(); });
            return;
        }
        if (ge->event_type != XCB_INPUT_RAW_BUTTON_PRESS) return;
        const Mask kind = raw->detail == 1   ? Mask::leftMouseDown
                          : raw->detail == 3 ? Mask::rightMouseDown
                                             : Mask::none;
        if (!(kind & mask)) return;

        // Where the pointer is now, while the press is fresh: the chain of
        // windows under it from the root's child down to the deepest one.
        // The own-window test needs the program's windows and so runs on
        // the user-interface thread.
        xcb_connection_t* c = conn.get();
        Reply<xcb_query_pointer_reply_t> at(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr));
        if (!at) return;
        const Event e{kind, at->root_x, at->root_y};
        std::vector<xcb_window_t> path;
        for (xcb_window_t w = at->same_screen ? at->child : XCB_NONE;
             w != XCB_NONE && path.size() < kMaxDepth;) {
            path.push_back(w);
            Reply<xcb_query_pointer_reply_t> inner(
                xcb_query_pointer_reply(c, xcb_query_pointer(c, w), nullptr));
            w = inner ? inner->child : XCB_NONE;
        }
        post([self = shared_from_this(), e, path = std::move(path)] { self->deliver(e, path); });
    }

    // On the user-interface thread.
    void deliver(const Event& e, const std::vector<xcb_window_t>& path) {
        {
            std::lock_guard lock(mutex);
            if (!conn) return;  // stopped since the press
        }
        const auto own = ownWindows ? ownWindows() : std::vector<std::uint32_t>{};
        bool ours = false;
        {
            std::lock_guard lock(mutex);
            if (!conn) return;
            ours = overOwnWindow(own, path);
        }
        // Our replies may have pulled events into xcb's queue behind the
        // watcher's back.
        watch.wake();
        if (!ours && handler) handler(e);
    }

    // On the user-interface thread.
    void deliverRelease() {
        {
            std::lock_guard lock(mutex);
            if (!conn) return;  // stopped since the release
        }
        if (handler) handler(Event{Mask::leftMouseUp, 0, 0});
    }

    // Whether a window under the pointer is one of ours or holds one of
    // ours (a window manager's frame, the tray our icon is docked in).
    // Walks up from each of our windows to the root, one level for all of
    // them per round trip.
    bool overOwnWindow(std::vector<std::uint32_t> windows,
                       const std::vector<xcb_window_t>& path) const {
        if (path.empty()) return false;  // the bare root
        auto underPointer = [&](xcb_window_t w) {
            return std::find(path.begin(), path.end(), w) != path.end();
        };
        std::erase_if(windows, [&](std::uint32_t w) { return w == XCB_NONE || w == root; });
        xcb_connection_t* c = conn.get();
        for (int depth = 0; depth < kMaxDepth && !windows.empty(); ++depth) {
            if (std::any_of(windows.begin(), windows.end(), underPointer)) return true;
            std::vector<xcb_query_tree_cookie_t> cookies;
            for (auto w : windows) cookies.push_back(xcb_query_tree(c, w));
            std::vector<std::uint32_t> parents;
            for (auto cookie : cookies) {
                // No reply: the window is gone, and with it this branch.
                Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, cookie, nullptr));
                if (tree && tree->parent != root && tree->parent != XCB_NONE)
                    parents.push_back(tree->parent);
            }
            windows = std::move(parents);
        }
        return false;
    }
};

EventMonitor::EventMonitor(Mask mask, Handler handler, Options options)
    : mask_(mask), handler_(std::move(handler)), options_(std::move(options)) {}

EventMonitor::~EventMonitor() {
    stop();
}

bool EventMonitor::start() {
    if (session_ || !options_.post) return false;
    int screen = 0;
    Connection conn = connectTo(options_.display, &screen);
    if (!conn) return false;
    const std::uint8_t opcode = xinput2Opcode(conn.get());
    if (opcode == 0) return false;

    auto roots = xcb_setup_roots_iterator(xcb_get_setup(conn.get()));
    for (int i = 0; i < screen && roots.rem > 0; ++i) xcb_screen_next(&roots);
    const xcb_window_t root = roots.data->root;

    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
             XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                 (mask_ & Mask::leftMouseUp ? XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE : 0u)};
    // Checked, so that the selection is in force once start() returns.
    Reply<xcb_generic_error_t> error(xcb_request_check(
        conn.get(), xcb_input_xi_select_events_checked(conn.get(), root, 1, &select.head)));
    if (error) return false;

    auto session = std::make_shared<Session>();
    if (!session->watch.ready()) return false;
    session->conn = std::move(conn);
    session->root = root;
    session->xiOpcode = opcode;
    session->mask = mask_;
    session->handler = handler_;
    session->post = options_.post;
    session->ownWindows = options_.ownWindows;
    session->watch.start(session->conn.get(),
                         [s = session.get()](xcb_generic_event_t* event) { s->handle(event); });
    session_ = std::move(session);
    return true;
}

void EventMonitor::stop() {
    if (!session_) return;
    session_->close();
    session_.reset();
}

bool EventMonitor::isAvailable(const std::string& display) {
    int screen = 0;
    Connection conn = connectTo(display, &screen);
    return conn && xinput2Opcode(conn.get()) != 0;
}

}  // namespace lumora
