#pragma once
// A private X server for tests, another X client, and xdotool runs.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumora::testing {

using namespace std::chrono_literals;

inline std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const auto candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Waits for a child with a bounded wait; kills it when it overstays.
inline bool waitChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads one line from `fd` within `limit`, for the programs that report
// readiness on a descriptor (Xvfb's display, a bus address); nothing when the
// time runs out or the program ends first.
inline std::optional<std::string> readLine(int fd, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text.substr(0, text.find('\n'));
}

// A private X server on a display it picks itself.
class Xvfb {
  public:
    std::string display;  // ":N"
    std::string failure;  // why there is none

    Xvfb() {
        const std::string binary = findProgram("Xvfb");
        if (binary.empty()) {
            failure = "no Xvfb binary on PATH";
            return;
        }
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            failure = "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args{binary, "-displayfd", "3", "-nolisten", "tcp", "-noreset"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            pid_ = -1;
            failure = "could not start Xvfb";
            return;
        }
        // The server writes its display number once it accepts connections.
        const auto number = readLine(fds[0], 10s);
        close(fds[0]);
        if (!number) {
            failure = "Xvfb did not report a display";
            return;
        }
        display = ":" + *number;
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitChild(pid_, 3s);  // kills it outright if it lingers
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

  private:
    pid_t pid_ = -1;
};

// Another X client of the same server, for holding grabs and changing the
// keymap.
class OtherClient {
  public:
    explicit OtherClient(const std::string& display) {
        conn = xcb_connect(display.c_str(), nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
        symbols = xcb_key_symbols_alloc(conn);
    }
    ~OtherClient() {
        xcb_key_symbols_free(symbols);
        xcb_disconnect(conn);
    }
    xcb_keycode_t keycode(xcb_keysym_t keysym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t first = codes ? codes[0] : 0;
        std::free(codes);
        return first;
    }
    bool grab(xcb_keysym_t keysym, std::uint16_t mods) {
        auto cookie = xcb_grab_key_checked(conn, 0, root, mods, keycode(keysym),
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(conn, cookie);
        std::free(error);
        return error == nullptr;
    }
    void roundTrip() {
        std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    }
    // The key presses delivered to this client so far. A round trip first:
    // what was sent before it (xdotool has finished by now) is then queued.
    std::vector<xcb_key_press_event_t> keyPresses() {
        roundTrip();
        std::vector<xcb_key_press_event_t> found;
        while (xcb_generic_event_t* e = xcb_poll_for_event(conn)) {
            if ((e->response_type & 0x7F) == XCB_KEY_PRESS)
                found.push_back(*reinterpret_cast<xcb_key_press_event_t*>(e));
            std::free(e);
        }
        return found;
    }
    void setKeysyms(xcb_keycode_t keycode, std::vector<xcb_keysym_t> keysyms) {
        xcb_change_keyboard_mapping(conn, 1, keycode, static_cast<std::uint8_t>(keysyms.size()),
                                    keysyms.data());
        xcb_flush(conn);
    }

    xcb_connection_t* conn;
    xcb_window_t root;
    xcb_key_symbols_t* symbols;
};

// Runs xdotool with DISPLAY set for it alone; false when it failed or hung.
inline bool runXdotool(const std::string& xdotool, const std::string& display,
                       std::vector<std::string> args) {
    args.insert(args.begin(), xdotool);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string displayVar = "DISPLAY=" + display;
    char* envp[] = {displayVar.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, xdotool.c_str(), nullptr, nullptr, argv.data(), envp) != 0) return false;
    return waitChild(pid, 5s);
}

}  // namespace lumora::testing
