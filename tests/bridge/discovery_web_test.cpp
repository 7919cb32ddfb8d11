// The web stage of discovery over real HTTP, against the simulated bridge on loopback.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/scoped_env.h"
#include "bridge/discovery.h"
#include "simulator/sim_server.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

class DiscoveryWeb : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
    }

    // Counts DNS-SD browsers made; none of them ever finds anything.
    struct SilentBrowser final : DnsSdBrowser {
        void setDelegate(DnsSdDelegate* d) override { delegate = d; }
        void browse(const std::string&, const std::string&) override {
            delegate->netServiceBrowserWillSearch(*this);
        }
        void stop() override {}
        void resolve(const DnsSdService&, std::chrono::milliseconds) override {}
        DnsSdDelegate* delegate = nullptr;
    };

    DetectBridgeOptions options() {
        DetectBridgeOptions o;
        o.browserFactory = [this] {
            ++browsersMade;
            return std::make_unique<SilentBrowser>();
        };
        o.sleep = [this](std::chrono::milliseconds) { ++sleeps; };
        o.stageSink = [this](std::string_view line) { lines.emplace_back(line); };
        return o;
    }

    sim::SimServer sim;
    int browsersMade = 0;
    int sleeps = 0;
    std::vector<std::string> lines;
};

TEST_F(DiscoveryWeb, FindsTheSimulatorWithoutStartingDnsSd) {
    ScopedEnv url(kDiscoveryUrlVariable, sim.baseUrl() + "/discovery");
    std::string ip = detectBridge(options());

    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(browsersMade, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"[detectBridge] Starting discovery process...",
                                               "[detectBridge] [SUCCESS] Found at: 127.0.0.1"}));
    // The reply carries the simulator's own port next to the address.
    auto details = nlohmann::json::parse(fetchString(sim.baseUrl() + "/discovery"));
    ASSERT_TRUE(details.is_array());
    ASSERT_FALSE(details.empty());
    EXPECT_EQ(details[0]["port"], sim.port());
}

TEST_F(DiscoveryWeb, UnusableRepliesFallThroughToDnsSd) {
    // A path the simulator answers with something that is no discovery reply, then a port
    // nothing listens on any more.
    std::string wrongPath = sim.baseUrl() + "/api/" + sim::kDemoUser + "/config";
    std::string deadPort = sim.baseUrl() + "/discovery";
    for (const std::string& address : {wrongPath, deadPort}) {
        if (address == deadPort) sim.stop();
        lines.clear();
        browsersMade = sleeps = 0;
        ScopedEnv url(kDiscoveryUrlVariable, address);
        EXPECT_EQ(detectBridge(options()), "") << address;
        EXPECT_EQ(browsersMade, 2) << address;
        EXPECT_EQ(sleeps, 20) << address;
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[1], "[detectBridge] [FAILED] No bridge found.");
    }
}

TEST_F(DiscoveryWeb, FetchStringReturnsOnlyValidUtf8Bodies) {
    std::string lights = sim.baseUrl() + "/api/" + sim::kDemoUser + "/lights";
    std::string body = fetchString(lights);
    EXPECT_TRUE(nlohmann::json::parse(body, nullptr, false).is_object()) << body;

    sim.injectFault(sim::Fault::notUtf8);
    EXPECT_EQ(fetchString(lights), "");
    sim.injectFault(sim::Fault::closeConnection);
    EXPECT_EQ(fetchString(lights), "");
    // A failed status still has a body; judging it is the caller's business.
    sim.injectFault(sim::Fault::http503);
    EXPECT_NE(fetchString(lights), "");
    EXPECT_EQ(fetchString("not a url"), "");
    EXPECT_EQ(fetchString("ftp://127.0.0.1/discovery"), "");
}

}  // namespace
}  // namespace lumora
