#include "base/x11/xcb_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace lumora::x11 {

XcbWatch::XcbWatch() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

XcbWatch::~XcbWatch() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void XcbWatch::start(xcb_connection_t* conn, Handler handler) {
    stopping_ = false;
    thread_ = std::thread([this, conn, handler = std::move(handler)] { run(conn, handler); });
}

void XcbWatch::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
}

void XcbWatch::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    wake();
    thread_.join();
}

void XcbWatch::run(xcb_connection_t* conn, const Handler& handler) {
    pollfd fds[2] = {{xcb_get_file_descriptor(conn), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stopping_) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(conn)) {
            handler(event);
            std::free(event);
        }
        if (xcb_connection_has_error(conn)) return;  // the server went away
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] auto n = read(wakeFd_, &count, sizeof count);
        }
    }
}

}  // namespace lumora::x11
