// The debug report against the simulator: a real connection, refresh and
// commands fill the log, and the report must carry the log but never the
// user name the bridge issued.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/bridge_controller.h"
#include "bridge/commands.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;

namespace {

struct Report {
    std::string script;
    std::vector<std::string> environment;
    std::string file;  // the log as the script found it
    int runs = 0;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string valueOf(const std::vector<std::string>& environment, const std::string& key) {
    for (const auto& entry : environment)
        if (entry.rfind(key + "=", 0) == 0) return entry.substr(key.size() + 1);
    return {};
}

}  // namespace

TEST(DebugReport, CarriesTheRealLogWithoutTheUserName) {
    sim::ServerOptions options;
    options.fixture = "demo";
    options.linkButtonPressed = true;
    sim::SimServer bridge(options);
    ASSERT_TRUE(bridge.start());
    auto exec = std::make_shared<ManualExecutor>();
    Report report;
    Services services = servicesWith(exec, std::make_shared<InMemoryDefaultsStore>());
    services.runScript = [&](const std::string& name, const std::vector<std::string>& env) {
        ++report.runs;
        report.script = name;
        report.environment = env;
        report.file = readFile(valueOf(env, "LUMORA_LOG_FILE"));
        return std::string("sent as report 7\n");
    };
    BridgeController controller(services);
    AppSettings& s = controller.settings();

    // Pairing, the first reads, a refresh, commands, a failed read.
    s.setHueIP(bridge.address());
    controller.connectToBridge();
    exec->runPending();
    const std::string user = s.hueKey();
    ASSERT_EQ(user.size(), 40u);
    ASSERT_TRUE(s.bridgeConnected());
    setLampOn(controller, s.lights().front(), false);
    controller.allOffInMinutes(5);
    exec->advance(4s);
    s.setLastUserActionAt(exec->now() - 1h);
    controller.refreshTick();
    exec->runPending();
    bridge.injectFault(sim::Fault::garbageBody, 1);
    controller.fetchGroups();
    exec->runPending();
    // A line an earlier version wrote, with the whole name in a bridge path.
    s.logger("Connecting to Bridge... [" + user + "] http://" + bridge.address() + "/api/" + user +
             "/lights");
    ASSERT_GE(s.log().size(), 4u);

    controller.sendDebugReport();
    exec->runPending();
    ASSERT_EQ(report.runs, 1);
    EXPECT_EQ(report.script, "send_debug");
    EXPECT_EQ(valueOf(report.environment, "LUMORA_BRIDGE_ADDRESS"), bridge.address());
    EXPECT_EQ(valueOf(report.environment, "LUMORA_BRIDGE_MODEL"), "BSB002");
    // The log is all there, line for line, with the name blanked.
    const auto scrubbed =
        scrubbedLog(std::vector<std::string>(s.log().begin(), s.log().end() - 1), user);
    std::string expected;
    for (const auto& line : scrubbed) expected += line + "\n";
    EXPECT_EQ(report.file.substr(0, expected.size()), expected);
    EXPECT_NE(report.file.find("Couldn't decode Hue GROUPS data"), std::string::npos);
    EXPECT_NE(report.file.find("/api/<user>/lights"), std::string::npos);
    // Nowhere: not in the file, not in what the script is told.
    EXPECT_EQ(report.file.find(user), std::string::npos) << report.file;
    for (const auto& entry : report.environment)
        EXPECT_EQ(entry.find(user), std::string::npos) << entry;
    EXPECT_EQ(s.log().back(), "Debug report: sent as report 7");
    EXPECT_FALSE(std::ifstream(valueOf(report.environment, "LUMORA_LOG_FILE")).good())
        << "the file goes once the script ended";
}

TEST(DebugReport, ANameFromAnEarlierPairingIsBlankedInsideBridgePaths) {
    EXPECT_EQ(
        scrubbedLog({"GET /api/old-name-123/lights failed", "/api/ alone", "no path"}, "current"),
        (std::vector<std::string>{"GET /api/<user>/lights failed", "/api/ alone", "no path"}));
    EXPECT_EQ(scrubbedLog({"current and current"}, "current"),
              std::vector<std::string>{"<user> and <user>"});
}
