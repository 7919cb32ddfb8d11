// DNS-SD discovery end to end on real Avahi daemons, with no packet leaving the machine:
// two network namespaces joined by a veth pair, a private system bus and an Avahi daemon
// in each, the simulated bridge advertising in one and the discovery probe in the other.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "avahi_process.h"
#include "simulator/sim_server.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;
using proc::Process;
using proc::SpawnOptions;

constexpr const char* kPrefix = "lumora-disc-";
constexpr const char* kSubnet = "10.231.77.";

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
        proc::runProgram({ip, "netns", "del", std::filesystem::path(path).filename().string()},
                         nullptr);
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

// One side: a namespace with its end of the veth pair, its bus and its Avahi daemon.
struct Side {
    std::string netns;
    std::string interface;
    std::string address;
    std::string folder;
    std::string busAddress;
    std::unique_ptr<Process> bus;
    std::unique_ptr<Process> avahi;

    std::vector<std::string> env() const {
        return {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress};
    }
};

class AvahiNamespaces : public ::testing::Test {
  protected:
    void SetUp() override {
        started_ = std::chrono::steady_clock::now();
        if (geteuid() != 0) GTEST_SKIP() << "creating network namespaces needs root";
        struct Tool {
            const char* name;
            std::string* path;
        };
        for (Tool tool :
             {Tool{"ip", &ip_}, Tool{"dbus-daemon", &dbusDaemon_},
              Tool{"avahi-daemon", &avahiDaemon_}, Tool{"avahi-browse", &avahiBrowse_}}) {
            *tool.path = proc::findProgram(tool.name);
            if (tool.path->empty()) GTEST_SKIP() << tool.name << " is not installed";
        }
        deleteStaleRuns(ip_);

        std::string id = std::to_string(getpid());
        std::string folder = "/tmp/lumora-avahi-" + id + "-XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        folder_ = folder;

        a_.netns = kPrefix + id + "-a";
        b_.netns = kPrefix + id + "-b";
        a_.interface = "lda" + id;
        b_.interface = "ldb" + id;
        a_.address = std::string(kSubnet) + "1";
        b_.address = std::string(kSubnet) + "2";

        std::string output;
        if (proc::runProgram({ip_, "netns", "add", a_.netns}, &output) != 0)
            GTEST_SKIP() << "cannot create a network namespace: " << output;
        madeA_ = true;
        ASSERT_EQ(proc::runProgram({ip_, "netns", "add", b_.netns}, &output), 0) << output;
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
            ASSERT_EQ(proc::runProgram(command, &output), 0) << command[3] << ": " << output;

        // Both daemons probe their host names at the same time.
        for (Side* side : {&a_, &b_}) startSide(*side);
        for (Side* side : {&a_, &b_})
            ASSERT_TRUE(proc::waitForText(side->folder + "/avahi.log", "Server startup complete",
                                          side->avahi.get(), 10s))
                << proc::readFile(side->folder + "/avahi.log");
    }

    void startSide(Side& side) {
        side.folder = folder_ + "/" + side.netns.substr(side.netns.size() - 1);
        std::filesystem::create_directories(side.folder + "/run/avahi-daemon");
        std::filesystem::create_directories(side.folder + "/services");
        std::string socket = side.folder + "/bus";
        side.busAddress = "unix:path=" + socket;
        proc::writeFile(side.folder + "/bus.conf", busConfig(socket));
        proc::writeFile(side.folder + "/avahi.conf",
                        avahiConfig("lumora-" + side.netns.substr(side.netns.size() - 1) + "-" +
                                        std::to_string(getpid()),
                                    side.interface));

        std::string error;
        SpawnOptions bus;
        bus.argv = {dbusDaemon_, "--nofork", "--nopidfile",
                    "--config-file=" + side.folder + "/bus.conf"};
        bus.env = side.env();
        bus.logPath = side.folder + "/bus.log";
        side.bus = Process::spawn(bus, &error);
        ASSERT_TRUE(side.bus) << error;
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (access(socket.c_str(), F_OK) != 0 && side.bus->running() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(access(socket.c_str(), F_OK), 0) << proc::readFile(bus.logPath);

        // Its pid file and socket paths are fixed under /run, and its static services
        // folder is the host's: both are covered by folders of this test's own.
        SpawnOptions avahi;
        avahi.argv = {avahiDaemon_,     "-f",          side.folder + "/avahi.conf", "--no-chroot",
                      "--no-drop-root", "--no-rlimits"};
        avahi.env = side.env();
        avahi.logPath = side.folder + "/avahi.log";
        avahi.netns = side.netns;
        avahi.binds = {{side.folder + "/run", "/run"}};
        if (std::filesystem::is_directory("/etc/avahi/services"))
            avahi.binds.emplace_back(side.folder + "/services", "/etc/avahi/services");
        side.avahi = Process::spawn(avahi, &error);
        ASSERT_TRUE(side.avahi) << error;
    }

    void TearDown() override {
        for (auto* p : {&probe_, &sim_, &a_.avahi, &b_.avahi, &a_.bus, &b_.bus}) p->reset();
        // Deleting a namespace takes its end of the veth pair, and so the pair, with it.
        if (madeA_) proc::runProgram({ip_, "netns", "del", a_.netns}, nullptr);
        if (madeB_) proc::runProgram({ip_, "netns", "del", b_.netns}, nullptr);
        if (!folder_.empty() && !HasFailure()) std::filesystem::remove_all(folder_);
        if (HasFailure()) std::cout << "logs kept in " << folder_ << std::endl;
    }

    std::chrono::steady_clock::time_point started_;
    std::string ip_, dbusDaemon_, avahiDaemon_, avahiBrowse_;
    std::string folder_;
    Side a_, b_;
    bool madeA_ = false, madeB_ = false;
    std::unique_ptr<Process> sim_, probe_;
};

TEST_F(AvahiNamespaces, DetectBridgeFindsTheAdvertisingSimulatorInTheOtherNamespace) {
    std::string bridgeId = sim::SimServer().state()["config"]["bridgeid"].get<std::string>();
    std::string upperTail = bridgeId.substr(bridgeId.size() - 6);
    std::transform(upperTail.begin(), upperTail.end(), upperTail.begin(), ::toupper);
    std::string lowerId = bridgeId;
    std::transform(lowerId.begin(), lowerId.end(), lowerId.begin(), ::tolower);

    // The simulator and the probe start together: the probe is already browsing when
    // the bridge announces itself.
    std::string error;
    SpawnOptions sim;
    sim.argv = {LUMORA_BRIDGE_SIM, "--bind", a_.address, "--port", "0", "--advertise"};
    sim.env = a_.env();
    sim.logPath = a_.folder + "/sim.log";
    sim.netns = a_.netns;
    sim_ = Process::spawn(sim, &error);
    ASSERT_TRUE(sim_) << error;

    // The web stage is pointed at loopback inside the namespace, where nothing answers.
    auto probeStarted = std::chrono::steady_clock::now();
    SpawnOptions probe;
    probe.argv = {LUMORA_DISCOVER_PROBE, "--resolve"};
    probe.env = b_.env();
    probe.env.push_back("LUMORA_DISCOVERY_URL=http://127.0.0.1:9/");
    probe.logPath = b_.folder + "/probe.log";
    probe.netns = b_.netns;
    probe_ = Process::spawn(probe, &error);
    ASSERT_TRUE(probe_) << error;
    auto status = probe_->wait(30s);
    auto probeTime = std::chrono::steady_clock::now() - probeStarted;

    std::string simLog = proc::readFile(sim.logPath);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        simLog, match,
        std::regex("advertise: published \"([^\"]+)\" \\(_hue._tcp, port ([0-9]+)\\)")))
        << simLog << proc::readFile(a_.folder + "/avahi.log");
    EXPECT_EQ(match[1], "Philips Hue - " + upperTail);
    std::string port = match[2];
    ASSERT_NE(simLog.find("listening on " + a_.address + ":" + port + "\n"), std::string::npos)
        << simLog;

    std::string probeLog = proc::readFile(probe.logPath);
    ASSERT_TRUE(status) << "the probe did not end\n" << probeLog;
    EXPECT_EQ(*status, 0) << probeLog;
    EXPECT_NE(probeLog.find("RESULT " + a_.address + "\n"), std::string::npos) << probeLog;
    EXPECT_NE(
        probeLog.find("stage: [detectBridge] [SUCCESS] ZeroConf did it! Hue at: " + a_.address),
        std::string::npos)
        << probeLog;
    EXPECT_NE(
        probeLog.find("SERVICE Philips Hue - " + upperTail + "|" + a_.address + ":" + port + "\n"),
        std::string::npos)
        << probeLog;

    // The TXT records, read with the daemon's own tool from the browsing side's cache.
    SpawnOptions browse;
    browse.argv = {avahiBrowse_, "--parsable", "--resolve", "_hue._tcp"};
    browse.env = b_.env();
    browse.logPath = b_.folder + "/browse.log";
    browse.netns = b_.netns;
    auto browser = Process::spawn(browse, &error);
    ASSERT_TRUE(browser) << error;
    EXPECT_TRUE(proc::waitForText(browse.logPath, "\n=;", browser.get(), 10s));
    browser->terminate();
    std::string browsed = proc::readFile(browse.logPath);
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
