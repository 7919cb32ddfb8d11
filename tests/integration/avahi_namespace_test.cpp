// DNS-SD discovery end to end on real Avahi daemons, with no packet leaving the machine:
// two network namespaces joined by a veth pair, a private system bus and an Avahi daemon
// in each, the simulated bridge advertising in one and the discovery probe in the other.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "simulator/sim_server.h"
#include "support/child_process.h"
#include "support/x11_support.h"  // findProgram

namespace lumora {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

constexpr const char* kPrefix = "lumora-disc-";
constexpr const char* kSubnet = "10.231.77.";
const std::vector<std::string> kEnv = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};

// PATH, then the sbin folders a root shell would have.
std::string tool(const std::string& name) {
    for (const std::string& found : {testing::findProgram(name), "/usr/sbin/" + name})
        if (!found.empty() && access(found.c_str(), X_OK) == 0) return found;
    return {};
}

// Everything a child wrote so far, line by line.
std::string text(const ChildProcess& child) {
    std::string all;
    for (const auto& line : child.lines()) all += line + "\n";
    return all;
}

// Runs a program to its end; its output (or why it did not run) in `output`.
int run(const std::vector<std::string>& argv, std::string* output = nullptr) {
    std::vector<std::string> merged = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    merged.insert(merged.end(), argv.begin(), argv.end());
    std::string error;
    auto child = ChildProcess::start({argv[0], merged, kEnv, "/dev/null"}, &error);
    if (!child) {
        if (output) *output = error;
        return -1;
    }
    const int status = child->waitExit(10s).value_or(-1);
    child->waitLine([](const std::string&) { return false; }, 1s);  // the rest of its output
    if (output) *output = text(*child);
    return status;
}

// Entries of `folder` named after a process that is gone.
std::vector<std::string> staleEntries(const std::string& folder, const std::regex& pattern) {
    std::vector<std::string> stale;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, pattern)) continue;
        pid_t owner = static_cast<pid_t>(std::stol(match[1]));
        if (owner != getpid() && kill(owner, 0) < 0 && errno == ESRCH)
            stale.push_back(entry.path().string());
    }
    return stale;
}

// What a run that was killed left behind (its daemons died with it): the owner's pid is
// in every name.
void deleteStaleRuns(const std::string& ip) {
    for (const auto& path :
         staleEntries("/run/netns", std::regex(std::string(kPrefix) + "([0-9]+)-[ab]")))
        run({ip, "netns", "del", std::filesystem::path(path).filename().string()});
    for (const auto& path : staleEntries("/tmp", std::regex("lumora-avahi-([0-9]+)-.*"))) {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
}

std::string busConfig(const std::string& socket) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:path=)" +
           socket + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";
}

std::string avahiConfig(const std::string& hostName, const std::string& interface) {
    return "[server]\nhost-name=" + hostName +
           "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + interface +
           "\nenable-dbus=yes\n"
           "[wide-area]\nenable-wide-area=no\n"
           "[publish]\npublish-workstation=no\npublish-hinfo=no\n"
           "[reflector]\nenable-reflector=no\n";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// One side: a namespace with its end of the veth pair, its bus and its Avahi daemon.
struct Side {
    std::string ip;
    std::string netns;
    std::string interface;
    std::string address;
    std::string folder;
    std::string busAddress;
    std::unique_ptr<ChildProcess> bus;
    std::unique_ptr<ChildProcess> avahi;

    std::vector<std::string> env() const {
        return {kEnv[0], "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress};
    }
    // `argv` inside the namespace, its standard error on its output; `mounts`
    // (shell commands) are made in a mount namespace of its own.
    std::unique_ptr<ChildProcess> start(const std::string& name, std::vector<std::string> argv,
                                        std::vector<std::string> extraEnv = {},
                                        const std::string& mounts = "") const {
        argv.insert(argv.begin(), {ip, "netns", "exec", netns, "/bin/sh", "-c",
                                   mounts + "exec \"$@\" 2>&1", "sh"});
        std::vector<std::string> environment = env();
        environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
        std::string error;
        auto child =
            ChildProcess::start({name, argv, environment, folder + "/" + name + ".log"}, &error);
        EXPECT_TRUE(child) << error;
        return child;
    }
};

class AvahiNamespaces : public ::testing::Test {
  protected:
    void SetUp() override {
        started_ = std::chrono::steady_clock::now();
        if (geteuid() != 0) GTEST_SKIP() << "creating network namespaces needs root";
        for (auto [name, path] : {std::pair{"ip", &ip_},
                                  {"dbus-daemon", &dbusDaemon_},
                                  {"avahi-daemon", &avahiDaemon_},
                                  {"avahi-browse", &avahiBrowse_}}) {
            *path = tool(name);
            if (path->empty()) GTEST_SKIP() << name << " is not installed";
        }
        deleteStaleRuns(ip_);

        std::string id = std::to_string(getpid());
        std::string folder = "/tmp/lumora-avahi-" + id + "-XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        folder_ = folder;

        a_.ip = b_.ip = ip_;
        a_.netns = kPrefix + id + "-a";
        b_.netns = kPrefix + id + "-b";
        a_.interface = "lda" + id;
        b_.interface = "ldb" + id;
        a_.address = std::string(kSubnet) + "1";
        b_.address = std::string(kSubnet) + "2";

        std::string output;
        if (run({ip_, "netns", "add", a_.netns}, &output) != 0)
            GTEST_SKIP() << "cannot create a network namespace: " << output;
        madeA_ = true;
        ASSERT_EQ(run({ip_, "netns", "add", b_.netns}, &output), 0) << output;
        madeB_ = true;
        // The pair is born inside the namespaces, so it never shows on the host.
        const std::vector<std::vector<std::string>> wiring = {
            {ip_, "-n", a_.netns, "link", "add", a_.interface, "type", "veth", "peer", "name",
             b_.interface, "netns", b_.netns},
            {ip_, "-n", a_.netns, "addr", "add", a_.address + "/24", "dev", a_.interface},
            {ip_, "-n", b_.netns, "addr", "add", b_.address + "/24", "dev", b_.interface},
            {ip_, "-n", a_.netns, "link", "set", "lo", "up"},
            {ip_, "-n", b_.netns, "link", "set", "lo", "up"},
            {ip_, "-n", a_.netns, "link", "set", a_.interface, "up"},
            {ip_, "-n", b_.netns, "link", "set", b_.interface, "up"},
        };
        for (const auto& command : wiring)
            ASSERT_EQ(run(command, &output), 0) << command[3] << ": " << output;

        // Both daemons probe their host names at the same time.
        for (Side* side : {&a_, &b_}) startSide(*side);
        for (Side* side : {&a_, &b_}) {
            ASSERT_TRUE(side->avahi);
            ASSERT_TRUE(side->avahi->waitLine(
                [](const std::string& l) { return l.find("Server startup complete") != l.npos; },
                10s))
                << text(*side->avahi);
        }
    }

    void startSide(Side& side) {
        const std::string letter = side.netns.substr(side.netns.size() - 1);
        side.folder = folder_ + "/" + letter;
        std::filesystem::create_directories(side.folder + "/run/avahi-daemon");
        std::filesystem::create_directories(side.folder + "/services");
        std::string socket = side.folder + "/bus";
        side.busAddress = "unix:path=" + socket;
        writeFile(side.folder + "/bus.conf", busConfig(socket));
        writeFile(side.folder + "/avahi.conf",
                  avahiConfig("lumora-" + letter + "-" + std::to_string(getpid()), side.interface));

        std::string error;
        side.bus = ChildProcess::start({"bus",
                                        {dbusDaemon_, "--nofork", "--nopidfile", "--print-address",
                                         "--config-file=" + side.folder + "/bus.conf"},
                                        side.env(),
                                        side.folder + "/bus.log"},
                                       &error);
        ASSERT_TRUE(side.bus) << error;
        ASSERT_TRUE(side.bus->waitLine("unix:", 5s)) << side.bus->stderrText();

        // Its pid file and socket paths are fixed under /run, and its static services
        // folder is the host's: both are covered by folders of this test's own.
        std::string mounts = "mount --bind " + side.folder + "/run /run && ";
        if (std::filesystem::is_directory("/etc/avahi/services"))
            mounts += "mount --bind " + side.folder + "/services /etc/avahi/services && ";
        side.avahi = side.start("avahi",
                                {avahiDaemon_, "-f", side.folder + "/avahi.conf", "--no-chroot",
                                 "--no-drop-root", "--no-rlimits"},
                                {}, mounts);
    }

    void TearDown() override {
        for (auto* p : {&probe_, &sim_, &a_.avahi, &b_.avahi, &a_.bus, &b_.bus}) p->reset();
        // Deleting a namespace takes its end of the veth pair, and so the pair, with it.
        if (madeA_) run({ip_, "netns", "del", a_.netns});
        if (madeB_) run({ip_, "netns", "del", b_.netns});
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    std::chrono::steady_clock::time_point started_;
    std::string ip_, dbusDaemon_, avahiDaemon_, avahiBrowse_;
    std::string folder_;
    Side a_, b_;
    bool madeA_ = false, madeB_ = false;
    std::unique_ptr<ChildProcess> sim_, probe_;
};

TEST_F(AvahiNamespaces, DetectBridgeFindsTheAdvertisingSimulatorInTheOtherNamespace) {
    std::string bridgeId = sim::SimServer().state()["config"]["bridgeid"].get<std::string>();
    std::string upperTail = bridgeId.substr(bridgeId.size() - 6);
    std::transform(upperTail.begin(), upperTail.end(), upperTail.begin(), ::toupper);
    std::string lowerId = bridgeId;
    std::transform(lowerId.begin(), lowerId.end(), lowerId.begin(), ::tolower);

    // The simulator and the probe start together: the probe is already browsing when
    // the bridge announces itself. The web stage is pointed at loopback inside the
    // namespace, where nothing answers.
    sim_ = a_.start("sim", {LUMORA_BRIDGE_SIM, "--bind", a_.address, "--port", "0", "--advertise"});
    ASSERT_TRUE(sim_);
    auto probeStarted = std::chrono::steady_clock::now();
    probe_ =
        b_.start("probe", {LUMORA_DISCOVER_PROBE}, {"LUMORA_DISCOVERY_URL=http://127.0.0.1:9/"});
    ASSERT_TRUE(probe_);
    auto status = probe_->waitExit(30s);
    auto probeTime = std::chrono::steady_clock::now() - probeStarted;
    probe_->waitLine([](const std::string&) { return false; }, 1s);  // the rest of its output

    auto published = sim_->waitLine(
        [](const std::string& l) { return l.find("advertise: published") != l.npos; }, 5s);
    std::smatch match;
    ASSERT_TRUE(published &&
                std::regex_search(
                    *published, match,
                    std::regex("advertise: published \"([^\"]+)\" \\(_hue._tcp, port ([0-9]+)\\)")))
        << text(*sim_) << text(*a_.avahi);
    EXPECT_EQ(match[1], "Philips Hue - " + upperTail);
    std::string port = match[2];
    EXPECT_NE(text(*sim_).find("listening on " + a_.address + ":" + port + "\n"), std::string::npos)
        << text(*sim_);

    std::string probeLog = text(*probe_);
    ASSERT_TRUE(status) << "the probe did not end\n" << probeLog;
    EXPECT_EQ(*status, 0) << probeLog;
    EXPECT_NE(probeLog.find("RESULT " + a_.address + "\nID " + lowerId + "\n"), std::string::npos)
        << probeLog;
    EXPECT_NE(
        probeLog.find("stage: [detectBridge] [SUCCESS] ZeroConf did it! Hue at: " + a_.address),
        std::string::npos)
        << probeLog;

    // The TXT records, read with the daemon's own tool from the browsing side's cache.
    auto browser = b_.start("browse", {avahiBrowse_, "--parsable", "--resolve", "_hue._tcp"});
    ASSERT_TRUE(browser);
    EXPECT_TRUE(browser->waitLine("=;", 10s));
    browser->terminate();
    std::string browsed = text(*browser);
    // The daemons also publish the link-local IPv6 address over IPv4, so the tool may
    // show either address.
    EXPECT_NE(browsed.find(";" + port + ";\""), std::string::npos) << browsed;
    EXPECT_NE(browsed.find("\"bridgeid=" + lowerId + "\""), std::string::npos) << browsed;
    EXPECT_NE(browsed.find("\"modelid=BSB002\""), std::string::npos) << browsed;

    auto total = std::chrono::steady_clock::now() - started_;
    std::cout << "discovery took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(probeTime).count()
              << " ms; the whole namespace run "
              << std::chrono::duration_cast<std::chrono::milliseconds>(total).count() << " ms"
              << std::endl;
}

}  // namespace
}  // namespace lumora
