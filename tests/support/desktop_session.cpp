#include "support/desktop_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>

#include "support/x11_support.h"

extern char** environ;

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kSupportDir = LUMORA_TEST_SUPPORT_DIR;
constexpr int kTrayWidth = 120;
constexpr int kTrayHeight = 24;

// Variables of a desktop this process may run in, which must not leak into
// the private one.
const char* const kDroppedVariables[] = {
    "DISPLAY",
    "WAYLAND_DISPLAY",
    "XAUTHORITY",
    "DBUS_SESSION_BUS_ADDRESS",
    "DBUS_SYSTEM_BUS_ADDRESS",
    "DBUS_STARTER_ADDRESS",
    "DBUS_STARTER_BUS_TYPE",
    "XDG_RUNTIME_DIR",
    "XDG_CONFIG_HOME",
    "XDG_CACHE_HOME",
    "XDG_DATA_HOME",
    "XDG_SESSION_TYPE",
    "XDG_CURRENT_DESKTOP",
    "DESKTOP_SESSION",
    "SESSION_MANAGER",
    "AT_SPI_BUS_ADDRESS",
    "QT_QPA_PLATFORM",
    "QT_QPA_PLATFORMTHEME",
    "GTK_MODULES",
};

template <typename T>
struct Freed {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Freed<T>>;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

fs::path tempRoot() {
    std::error_code ec;
    fs::path root = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : root;
}

fs::path recordDir() {
    return tempRoot() / "lumora-desktop-sessions";
}

// Kills what sessions of runs that were killed themselves left running. Each
// record names its owner (pid and start time) and its process groups; a
// group is ours while its leader is the recorded process, or while the
// group outlives its leader, since the kernel gives no new process the pid
// of a living group.
void sweepLeftovers() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(recordDir(), ec)) {
        const std::string file = entry.path().filename();
        const auto dash = file.find('-');
        if (dash == std::string::npos) continue;
        const pid_t owner = std::atoi(file.substr(0, dash).c_str());
        const unsigned long long ownerStart = std::strtoull(file.c_str() + dash + 1, nullptr, 10);
        if (owner > 0 && processStartTime(owner) == ownerStart) continue;  // still running

        std::ifstream in(entry.path());
        std::string kind;
        while (in >> kind) {
            if (kind == "group") {
                pid_t group = 0;
                unsigned long long start = 0;
                in >> group >> start;
                if (group <= 1) continue;
                const auto leader = processStartTime(group);
                if (leader ? *leader == start : kill(-group, 0) == 0) kill(-group, SIGKILL);
            } else if (kind == "dir") {
                std::string dir;
                in >> dir;
                const fs::path path(dir);
                if (path.parent_path() == tempRoot() &&
                    path.filename().string().starts_with("lumora-desktop-"))
                    fs::remove_all(path, ec);
            }
        }
        fs::remove(entry.path(), ec);
    }
}

}  // namespace

DesktopSession::DesktopSession(Options options) : options_(options) {
    if (options_.sniWatcher) options_.sessionBus = true;
    if (options_.logind) options_.systemBus = true;

    sweepLeftovers();
    std::error_code ec;
    fs::create_directories(recordDir(), ec);
    std::string pattern = (tempRoot() / "lumora-desktop-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        failure_ = "cannot make a private folder";
        return;
    }
    dir_ = pattern;
    for (const char* sub : {"config", "cache", "data", "runtime", "logs"})
        fs::create_directories(dir_ / sub, ec);
    chmod((dir_ / "runtime").c_str(), 0700);
    recordFile_ = recordDir() / (std::to_string(getpid()) + "-" +
                                 std::to_string(processStartTime(getpid()).value_or(0)));
    record();

    // Missing programs first, so a test skips before anything starts.
    auto need = [&](const std::string& program, const std::string& package) {
        if (skip_.empty() && findProgram(program).empty())
            skip_ = "no " + program + " binary on PATH (Debian package " + package + ")";
    };
    need("Xvfb", "xvfb");
    if (options_.sessionBus || options_.systemBus) need("dbus-daemon", "dbus-daemon");
    if (options_.tray) need("trayer", "trayer");
    if ((options_.sniWatcher || options_.logind) && access("/usr/bin/python3", X_OK) != 0)
        skip_ = "no /usr/bin/python3 for the stand-in services";
    if (!skip_.empty()) return;

    if (!startX()) return;
    if (options_.sessionBus && !startBus("session", &sessionBus_)) return;
    if (options_.systemBus && !startBus("system", &systemBus_)) return;
    if (options_.tray && !startTray()) return;
    if (options_.sniWatcher && !(watcher_ = startFake("fake_sni_watcher.py", sessionBus_))) return;
    if (options_.logind && !(logind_ = startFake("fake_logind.py", systemBus_))) return;
}

DesktopSession::~DesktopSession() {
    if (conn_) xcb_disconnect(conn_);
    // Last started, first ended: the test's programs before the services
    // they use, the X server last.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) (*it)->terminate();
    children_.clear();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
    if (!recordFile_.empty()) fs::remove(recordFile_, ec);
}

void DesktopSession::record() const {
    std::ofstream out(recordFile_.string() + ".new", std::ios::trunc);
    out << "dir " << dir_.string() << "\n";
    for (const auto& child : children_)
        out << "group " << child->pid() << " " << processStartTime(child->pid()).value_or(0)
            << "\n";
    out.close();
    std::error_code ec;
    fs::rename(recordFile_.string() + ".new", recordFile_, ec);
}

ChildProcess* DesktopSession::startChild(ChildProcess::Launch launch) {
    std::string error;
    auto child = ChildProcess::start(launch, &error);
    if (!child) {
        failure_ = launch.name + ": " + error;
        return nullptr;
    }
    children_.push_back(std::move(child));
    record();
    return children_.back().get();
}

ChildProcess* DesktopSession::spawn(const std::string& name, std::vector<std::string> argv,
                                    const std::map<std::string, std::string>& extraEnv) {
    return startChild(
        {name, std::move(argv), environment(extraEnv), dir_ / "logs" / (name + ".log"), -1});
}

bool DesktopSession::startX() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return false;
    }
    const std::string screen =
        std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24";
    ChildProcess* x = startChild(
        {"Xvfb",
         {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
         environment(),
         dir_ / "logs" / "Xvfb.log",
         fds[1]});
    close(fds[1]);
    const auto number = x ? readLine(fds[0], 10s) : std::nullopt;
    close(fds[0]);
    if (!x) return false;
    if (!number) {
        failure_ = "Xvfb did not report a display: " + x->stderrText();
        return false;
    }
    display_ = ":" + *number;
    conn_ = xcb_connect(display_.c_str(), nullptr);
    if (xcb_connection_has_error(conn_)) {
        failure_ = "cannot connect to " + display_;
        return false;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
    return true;
}

bool DesktopSession::startBus(const std::string& which, std::string* address) {
    // Our own configuration: no service directories, so nothing on the bus
    // can start a real service behind the test's back.
    const fs::path config = dir_ / (which + "-bus.conf");
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC "
                             "\"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>session</type>\n"
                             "  <listen>unix:path="
                          << (dir_ / (which + "-bus")).string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return false;
    }
    ChildProcess* bus = startChild({which + "-bus",
                                    {"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                                     "--nopidfile", "--print-address=3"},
                                    environment(),
                                    dir_ / "logs" / (which + "-bus.log"),
                                    fds[1]});
    close(fds[1]);
    const auto line = bus ? readLine(fds[0], 10s) : std::nullopt;
    close(fds[0]);
    if (!bus) return false;
    if (!line || line->empty()) {
        failure_ = "the " + which + " bus did not start: " + bus->stderrText();
        return false;
    }
    *address = *line;
    return true;
}

bool DesktopSession::startTray() {
    trayer_ =
        spawn("trayer", {"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                         "--width", std::to_string(kTrayWidth), "--heighttype", "pixel", "--height",
                         std::to_string(kTrayHeight), "--transparent", "false"});
    if (!trayer_) return false;
    // Up once its window is mapped and it owns the tray selection a client
    // docks through.
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        conn_, xcb_intern_atom(conn_, 0, 19, "_NET_SYSTEM_TRAY_S0"), nullptr));
    const auto deadline = SteadyClock::now() + 10s;
    while (SteadyClock::now() < deadline && trayer_->running()) {
        Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            conn_, xcb_get_selection_owner(conn_, atom ? atom->atom : XCB_NONE), nullptr));
        const auto tray = trayWindow();
        if (owner && owner->owner != XCB_NONE && tray && tray->mapped) return true;
        std::this_thread::sleep_for(10ms);
    }
    failure_ = "trayer did not come up: " + trayer_->stderrText();
    return false;
}

ChildProcess* DesktopSession::startFake(const std::string& script, const std::string& address) {
    ChildProcess* fake = spawn(
        script,
        {"/usr/bin/python3", (fs::path(kSupportDir) / script).string(), "--address", address});
    if (!fake) return nullptr;
    if (fake->waitLine("READY", 10s)) return fake;
    // 77: the Python modules it needs are missing, which is the machine's
    // lack and not a failure.
    if (fake->waitExit(2s) == 77) {
        skip_ = script + ": " + fake->stderrText();
    } else {
        failure_ = script + " did not come up: " + fake->stderrText();
    }
    return nullptr;
}

std::map<std::string, std::string> DesktopSession::variables() const {
    // A socket nobody listens on: a client fails at once instead of reaching
    // the machine's bus or autolaunching one that would outlive the test.
    const std::string nowhere = "unix:path=" + (dir_ / "no-bus").string();
    return {
        {"DISPLAY", display_},
        {"DBUS_SESSION_BUS_ADDRESS", sessionBus_.empty() ? nowhere : sessionBus_},
        {"DBUS_SYSTEM_BUS_ADDRESS", systemBus_.empty() ? nowhere : systemBus_},
        {"XDG_CONFIG_HOME", (dir_ / "config").string()},
        {"XDG_CACHE_HOME", (dir_ / "cache").string()},
        {"XDG_DATA_HOME", (dir_ / "data").string()},
        {"XDG_RUNTIME_DIR", (dir_ / "runtime").string()},
        {"QT_QPA_PLATFORM", "xcb"},
    };
}

std::vector<std::string> DesktopSession::environment(
    const std::map<std::string, std::string>& extra) const {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = entry.substr(0, eq);
        if (std::find_if(std::begin(kDroppedVariables), std::end(kDroppedVariables),
                         [&](const char* v) { return key == v; }) != std::end(kDroppedVariables))
            continue;
        all[key] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : variables()) all[k] = v;
    for (const auto& [k, v] : extra) all[k] = v;
    std::vector<std::string> env;
    for (const auto& [k, v] : all) env.push_back(k + "=" + v);
    return env;
}

bool DesktopSession::xdotool(std::vector<std::string> args) {
    const std::string program = findProgram("xdotool");
    if (program.empty() || display_.empty()) return false;
    return runXdotool(program, display_, std::move(args));
}

bool DesktopSession::click(int x, int y, int button) {
    return xdotool(
        {"mousemove", std::to_string(x), std::to_string(y), "click", std::to_string(button)});
}

namespace {

std::string property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom,
                     xcb_atom_t type = XCB_GET_PROPERTY_TYPE_ANY) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom, type, 0, 1024), nullptr));
    if (!reply || reply->type == XCB_NONE) return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(data, static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

std::vector<xcb_window_t> children(xcb_connection_t* c, xcb_window_t w) {
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!tree) return {};
    const xcb_window_t* list = xcb_query_tree_children(tree.get());
    return {list, list + xcb_query_tree_children_length(tree.get())};
}

}  // namespace

DesktopSession::Window DesktopSession::describe(std::uint32_t topLevel, bool findClient) {
    Window w;
    w.id = topLevel;
    w.client = topLevel;
    // A window manager's frame carries no class; its client sits inside.
    std::deque<std::pair<xcb_window_t, int>> queue;
    if (findClient) queue.emplace_back(topLevel, 0);
    while (!queue.empty()) {
        const auto [candidate, depth] = queue.front();
        queue.pop_front();
        if (!property(conn_, candidate, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).empty()) {
            w.client = candidate;
            break;
        }
        if (depth < 3)
            for (auto child : children(conn_, candidate)) queue.emplace_back(child, depth + 1);
    }

    const std::string wmClass = property(conn_, w.client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    w.instance = wmClass.substr(0, wmClass.find('\0'));
    if (const auto sep = wmClass.find('\0'); sep != std::string::npos) {
        w.className = wmClass.substr(sep + 1);
        w.className = w.className.substr(0, w.className.find('\0'));
    }
    w.name = property(conn_, w.client, intern(conn_, "_NET_WM_NAME"), intern(conn_, "UTF8_STRING"));
    if (w.name.empty()) w.name = property(conn_, w.client, XCB_ATOM_WM_NAME);
    const std::string pid =
        property(conn_, w.client, intern(conn_, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (pid.size() >= 4) std::memcpy(&w.pid, pid.data(), 4);

    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(conn_, xcb_get_window_attributes(conn_, w.id), nullptr));
    if (attributes) {
        w.mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        w.overrideRedirect = attributes->override_redirect;
    }
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, w.client), nullptr));
    Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        conn_, xcb_translate_coordinates(conn_, w.client, root_, 0, 0), nullptr));
    if (geometry) {
        w.width = geometry->width;
        w.height = geometry->height;
    }
    if (at) {
        w.x = at->dst_x;
        w.y = at->dst_y;
    }
    return w;
}

std::vector<DesktopSession::Window> DesktopSession::topLevels() {
    std::vector<Window> list;
    if (!conn_) return list;
    for (auto w : children(conn_, root_)) list.push_back(describe(w));
    return list;
}

std::optional<DesktopSession::Window> DesktopSession::trayWindow() {
    if (!trayer_) return std::nullopt;
    // The toolkit's hidden group leader carries the same pid and class; the
    // panel is the one on screen.
    std::optional<Window> hidden;
    for (auto& w : topLevels()) {
        if (w.pid != static_cast<std::uint32_t>(trayer_->pid()) && lower(w.className) != "trayer")
            continue;
        if (w.mapped) return w;
        if (!hidden) hidden = w;
    }
    return hidden;
}

std::vector<DesktopSession::Window> DesktopSession::trayIcons() {
    std::vector<Window> icons;
    const auto tray = trayWindow();
    if (!tray) return icons;
    // Every window trayer makes carries the resource base of its connection;
    // a docked client's window has its own.
    const std::uint32_t mask = xcb_get_setup(conn_)->resource_id_mask;
    const std::uint32_t base = tray->client & ~mask;
    std::deque<xcb_window_t> queue{tray->client};
    while (!queue.empty()) {
        const xcb_window_t w = queue.front();
        queue.pop_front();
        for (auto child : children(conn_, w)) {
            if ((child & ~mask) == base) {
                queue.push_back(child);
                continue;
            }
            icons.push_back(describe(child, false));
        }
    }
    return icons;
}

std::optional<DesktopSession::Window> DesktopSession::waitForTrayIcon(
    const std::string& wmClass, std::chrono::milliseconds limit) {
    const std::string wanted = lower(wmClass);
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
        for (auto& icon : trayIcons()) {
            if (icon.mapped && icon.width > 0 &&
                (wanted.empty() || lower(icon.instance) == wanted ||
                 lower(icon.className) == wanted))
                return icon;
        }
        if (SteadyClock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace lumora::testing
