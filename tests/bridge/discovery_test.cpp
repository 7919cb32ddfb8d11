// Discovery logic with a scripted DNS-SD browser: no network, no real waiting;
// and the web stage against the simulated bridge on loopback.

#include "bridge/discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "base/scoped_env.h"
#include "bridge/fetchers.h"
#include "simulator/sim_server.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;

template <typename T>
SocketAddressData bytesOf(const T& address) {
    SocketAddressData data(sizeof address);
    std::memcpy(data.data(), &address, sizeof address);
    return data;
}

SocketAddressData ipv4(const char* text, std::uint16_t port = 443) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    inet_pton(AF_INET, text, &in.sin_addr);
    return bytesOf(in);
}

SocketAddressData ipv6(const char* text) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &in6.sin6_addr);
    return bytesOf(in6);
}

template <typename... A>
std::optional<std::vector<SocketAddressData>> addrs(A... a) {
    return std::vector<SocketAddressData>{a...};
}

// What the fake network holds and what the code under test did to it.
struct FakeNetwork {
    struct Entry {
        DnsSdService service;
        // nullopt: the service does not resolve.
        std::optional<std::vector<SocketAddressData>> addresses;
    };
    std::vector<Entry> entries;
    int appearsAfterSleeps = 0;  // services show up once this many polls have waited

    int browsersMade = 0;
    std::vector<std::pair<std::string, std::string>> browses;  // type, domain
    int stops = 0;
    std::vector<std::string> resolved;  // names asked to resolve
    std::chrono::milliseconds resolveTimeout{};
    int sleeps = 0;
    std::vector<std::chrono::milliseconds> sleepDurations;

    class Browser;
    Browser* live = nullptr;

    DnsSdBrowserFactory factory();
    std::function<void(std::chrono::milliseconds)> sleeper();
    void announce();
};

class FakeNetwork::Browser final : public DnsSdBrowser {
  public:
    explicit Browser(FakeNetwork& net) : net_(net) { ++net_.browsersMade; }
    ~Browser() override {
        if (net_.live == this) net_.live = nullptr;
    }
    void setDelegate(DnsSdDelegate* delegate) override { delegate_ = delegate; }
    void browse(const std::string& type, const std::string& domain) override {
        net_.browses.emplace_back(type, domain);
        net_.live = this;
        browsing_ = true;
        delegate_->netServiceBrowserWillSearch(*this);
        if (net_.appearsAfterSleeps == 0) announce();
    }
    void stop() override {
        ++net_.stops;
        if (!browsing_) return;
        browsing_ = false;
        delegate_->netServiceBrowserDidStopSearch(*this);
    }
    void resolve(const DnsSdService& service, std::chrono::milliseconds timeout) override {
        net_.resolved.push_back(service.name);
        net_.resolveTimeout = timeout;
        for (const auto& entry : net_.entries) {
            if (entry.service.name != service.name) continue;
            // Resolved, the service carries its TXT record as the back-end read it.
            if (entry.addresses)
                delegate_->netServiceDidResolveAddress(*this, entry.service, *entry.addresses);
            else
                delegate_->netServiceDidNotResolve(*this, service);
            return;
        }
    }
    void announce() {
        for (const auto& entry : net_.entries) {
            if (!browsing_) return;  // a stopped browser reports nothing more
            delegate_->netServiceBrowserDidFind(*this, entry.service);
        }
    }

  private:
    FakeNetwork& net_;
    DnsSdDelegate* delegate_ = nullptr;
    bool browsing_ = false;
};

DnsSdBrowserFactory FakeNetwork::factory() {
    return [this] { return std::make_unique<Browser>(*this); };
}

std::function<void(std::chrono::milliseconds)> FakeNetwork::sleeper() {
    return [this](std::chrono::milliseconds d) {
        sleepDurations.push_back(d);
        if (++sleeps == appearsAfterSleeps) announce();
    };
}

void FakeNetwork::announce() {
    if (live) live->announce();
}

DnsSdService service(const std::string& name, const std::string& bridgeId = {}) {
    return {name, "_hue._tcp.", "local.", 2, 0, bridgeId};
}

TEST(ParseHueDiscoveryResponse, AcceptsAFourPartAddressOfAWellTypedReplyOrTheFirstInAList) {
    struct Case {
        const char* reply;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {R"({"id":"x","internalipaddress":"192.168.1.20","port":443})", "192.168.1.20"},
        {R"({"internalipaddress":"192.168.1.20"})", "192.168.1.20"},
        // Only the shape is checked, and the text is returned unchanged.
        {R"({"internalipaddress":"1..2.3"})", "1..2.3"},
        {R"({"internalipaddress":"..."})", "..."},
        {R"({"internalipaddress":"fe80::1"})", std::nullopt},
        {R"({"internalipaddress":"10.0.0"})", std::nullopt},
        {R"({"internalipaddress":"10.0.0.1.5"})", std::nullopt},
        {R"({"id":"x","port":443})", std::nullopt},
        // A member of another type spoils the whole reply; null counts as absent.
        {R"({"internalipaddress":"192.168.1.20","port":"443"})", std::nullopt},
        {R"({"internalipaddress":"192.168.1.20","port":443.5})", std::nullopt},
        {R"({"internalipaddress":"192.168.1.20","id":7})", std::nullopt},
        {R"({"internalipaddress":19216812})", std::nullopt},
        {R"({"internalipaddress":"192.168.1.20","port":null,"id":null})", "192.168.1.20"},
        {R"({"internalipaddress":"192.168.1.20","extra":[1,2]})", "192.168.1.20"},
        {"", std::nullopt},
        {"not json", std::nullopt},
        {R"({"internalipaddress":"192.168.1.20"} trailing)", std::nullopt},
        {R"("192.168.1.20")", std::nullopt},
        {"<html>429 Too Many Requests</html>", std::nullopt},
        // A list: its first usable element.
        {R"([{"id":"001788fffe2d3081","internalipaddress":"192.168.1.2","port":443}])",
         "192.168.1.2"},
        {"[]", std::nullopt},
        {R"([{"internalipaddress":"192.168.1.2"},{"internalipaddress":"192.168.1.3"}])",
         "192.168.1.2"},
        // Unusable elements before the first usable one are passed over.
        {R"(["x",5,null,[{"internalipaddress":"10.0.0.9"}],{"internalipaddress":"fe80::1"},
            {"internalipaddress":"10.0.0.1","port":"443"},{"internalipaddress":"10.0.0.2"}])",
         "10.0.0.2"},
        {R"([{"id":"only","port":443}])", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseHueDiscoveryResponse(c.reply), c.expected) << c.reply;
}

TEST(ParseHueDiscoveryReply, KeepsTheIdOfTheBridgeItTakesWhenItIsOne) {
    const struct {
        const char* reply;
        const char* id;
    } cases[] = {
        {R"([{"id":"x"},{"id":"001788FFFE2D3081","internalipaddress":"192.168.1.2"}])",
         "001788fffe2d3081"},
        {R"({"id":"not an id","internalipaddress":"192.168.1.2"})", ""},
        {R"({"internalipaddress":"192.168.1.2"})", ""},
    };
    for (const auto& c : cases) {
        const auto found = parseHueDiscoveryReply(c.reply);
        ASSERT_TRUE(found) << c.reply;
        EXPECT_EQ(found->address, "192.168.1.2");
        EXPECT_EQ(found->id, c.id) << c.reply;
    }
}

TEST(DecodeHueDiscoveryBridgeDetails, ReadsEveryMember) {
    auto details =
        decodeHueDiscoveryBridgeDetails(R"({"id":"x","internalipaddress":"1.2.3.4","port":443})");
    ASSERT_TRUE(details);
    EXPECT_EQ(details->id, "x");
    EXPECT_EQ(details->internalipaddress, "1.2.3.4");
    EXPECT_EQ(details->port, 443);
    EXPECT_FALSE(decodeHueDiscoveryBridgeDetails("[]"));
}

TEST(DiscoveryUrl, EnvironmentOverridesTheVendorService) {
    ScopedEnv url(kDiscoveryUrlVariable, std::nullopt);
    EXPECT_EQ(discoveryUrl(), "https://discovery.meethue.com/");
    url.set("");
    EXPECT_EQ(discoveryUrl(), "https://discovery.meethue.com/");
    url.set("http://127.0.0.1:8080/discovery");
    EXPECT_EQ(discoveryUrl(), "http://127.0.0.1:8080/discovery");
}

TEST(ResolveIPv4, PicksTheFirstIPv4RecordInOrder) {
    EXPECT_EQ(ZeroConf::resolveIPv4({ipv6("fe80::1"), ipv4("192.168.1.2"), ipv4("10.0.0.1")}),
              "192.168.1.2");
    EXPECT_EQ(ZeroConf::resolveIPv4({ipv4("255.0.10.1", 80)}), "255.0.10.1");
    EXPECT_EQ(ZeroConf::resolveIPv4({ipv6("fe80::1"), ipv6("::ffff:192.168.1.2")}), std::nullopt);
    EXPECT_EQ(ZeroConf::resolveIPv4({}), std::nullopt);

    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::strcpy(local.sun_path, "/run/x");
    EXPECT_EQ(ZeroConf::resolveIPv4({bytesOf(local), ipv4("172.16.0.3")}), "172.16.0.3");

    // Longer records are read as far as a socket address structure holds.
    SocketAddressData longRecord = ipv4("10.1.2.3");
    longRecord.resize(300, 0xff);
    EXPECT_EQ(ZeroConf::resolveIPv4({longRecord}), "10.1.2.3");
}

TEST(ZeroConf, BrowsesForTheServiceAndResolvesTheFirstPhilipsBridgeOnly) {
    FakeNetwork net;
    net.entries = {{service("Hue Bridge - 2D3081"), addrs(ipv4("10.0.0.4"))},
                   {service("Philips Hue - AAAAAA", "001788FFFE2D3081"),
                    addrs(ipv6("fe80::2"), ipv4("10.0.0.5"))},
                   {service("Philips Hue - BBBBBB"), addrs(ipv4("10.0.0.6"))}};
    ZeroConf zeroConf(net.factory());
    EXPECT_EQ(zeroConf.status(), 0);
    testing::internal::CaptureStdout();
    zeroConf.startDiscovery();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ZeroConf] Hue found, but not from Philips!?\n");
    EXPECT_EQ(net.browses, (std::vector<std::pair<std::string, std::string>>{{"_hue._tcp.", ""}}));
    // The browser stops on the first, so the second is never even reported here; feed it
    // by hand as a back-end that had it queued would.
    FakeNetwork::Browser other(net);
    other.setDelegate(&zeroConf);
    zeroConf.netServiceBrowserDidFind(other, service("Philips Hue - BBBBBB"));

    EXPECT_EQ(net.resolved, std::vector<std::string>{"Philips Hue - AAAAAA"});
    EXPECT_EQ(net.resolveTimeout, 3s);
    EXPECT_EQ(zeroConf.status(), 200);
    EXPECT_EQ(zeroConf.foundIp(), "10.0.0.5");
    EXPECT_EQ(zeroConf.foundBridgeId(), "001788fffe2d3081") << "from its TXT record";
    ASSERT_TRUE(zeroConf.service());
    EXPECT_EQ(zeroConf.service()->name, "Philips Hue - AAAAAA");
}

TEST(ZeroConf, OtherServicesAndFailedResolutionsLeaveItSearching) {
    const struct {
        std::vector<FakeNetwork::Entry> entries;
        int status;
        const char* out;
    } cases[] = {
        {{{service("Hue Bridge - 2D3081"), addrs(ipv4("10.0.0.5"))},
          {service("philips hue - 2D3081"), addrs(ipv4("10.0.0.6"))}},
         1,
         "[ZeroConf] Hue found, but not from Philips!?\n"
         "[ZeroConf] Hue found, but not from Philips!?\n"},
        {{{service("Philips Hue - 2D3081"), addrs(ipv6("fe80::1"))}},
         400,
         "Did not find IPV4 address\n"},
        {{{service("Philips Hue - 2D3081"), std::nullopt}}, 2, ""},  // left as it was
    };
    for (const auto& c : cases) {
        FakeNetwork net;
        net.entries = c.entries;
        ZeroConf zeroConf(net.factory());
        testing::internal::CaptureStdout();
        zeroConf.startDiscovery();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(zeroConf.status(), c.status);
        EXPECT_EQ(zeroConf.foundIp(), "");
        EXPECT_EQ(net.resolved.size(), c.status == 1 ? 0u : 1u) << c.status;
        // Only startDiscovery's own stop of the fresh browser: it keeps browsing.
        if (c.status == 1) {
            EXPECT_EQ(net.stops, 1);
        }
    }
}

struct DetectRun {
    std::string result;
    std::vector<std::string> lines;
};

// By default the web stage is pointed at an address that is no URL, so it fails without I/O.
DetectRun detectWith(FakeNetwork& net, ConsoleSink console = {}, std::string webUrl = "no url") {
    DetectRun run;
    DetectBridgeOptions options;
    options.console = std::move(console);
    options.webUrl = std::move(webUrl);
    options.browserFactory = net.factory();
    options.sleep = net.sleeper();
    options.stageSink = [&run](std::string_view line) { run.lines.emplace_back(line); };
    run.result = detectBridge(options);
    return run;
}

TEST(DetectBridge, PollsHalfASecondApartUntilAnAddressOrTwentyPolls) {
    const std::string status1 = "[detectBridge] ZeroConf Status 1...";
    const std::string giveUp = "[detectBridge] [FAILED] ZeroConf giving up...";
    const struct {
        std::vector<FakeNetwork::Entry> entries;
        int appearsAfter;
        std::string result;
        std::vector<std::string> polls;  // the lines after the start of ZeroConf
    } cases[] = {
        {{{service("Bridge - 2D3081"), addrs(ipv4("10.0.0.5"))}},
         0,
         "",
         [&] {
             std::vector<std::string> l(20, status1);
             l.push_back(giveUp);
             return l;
         }()},
        {{{service("Philips Hue - 2D3081"), addrs(ipv4("10.0.0.7"))}},
         3,
         "10.0.0.7",
         {status1, status1, status1, "[detectBridge] ZeroConf Status 200...",
          "[detectBridge] [SUCCESS] ZeroConf did it! Hue at: 10.0.0.7"}},
        // Only an IPv6 address: found, never usable.
        {{{service("Philips Hue - 2D3081"), addrs(ipv6("fe80::17:88ff:fe2d:3081"))}},
         1,
         "",
         [&] {
             std::vector<std::string> l{status1};
             l.resize(20, "[detectBridge] ZeroConf Status 400...");
             l.push_back(giveUp);
             return l;
         }()},
    };
    for (const auto& c : cases) {
        FakeNetwork net;
        net.entries = c.entries;
        net.appearsAfterSleeps = c.appearsAfter;
        testing::internal::CaptureStdout();
        DetectRun run = detectWith(net);
        testing::internal::GetCapturedStdout();
        SCOPED_TRACE(c.polls.back());
        EXPECT_EQ(run.result, c.result);
        // A sleep before each status line but one that found the address.
        EXPECT_EQ(net.sleepDurations, std::vector<std::chrono::milliseconds>(
                                          c.polls.size() - 2 + c.result.empty(), 500ms));
        std::vector<std::string> expected{"[detectBridge] Starting discovery process...",
                                          "[detectBridge] [FAILED] No bridge found.",
                                          "[detectBridge] Trying ZeroConf...",
                                          "[detectBridge] ZeroConf started..."};
        expected.insert(expected.end(), c.polls.begin(), c.polls.end());
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(net.browsersMade, 2);  // the field's initial browser, replaced on start
    }
}

TEST(DetectBridge, DiagnosticsGoToTheConsoleSinkElseToStandardOutput) {
    std::vector<std::string> console;
    const ConsoleSink sink = [&console](const std::string& line) { console.push_back(line); };
    FakeNetwork net;
    net.entries = {{service("Bridge - 2D3081"), addrs(ipv4("10.0.0.5"))},
                   {service("Philips Hue - 2D3081"), addrs(ipv6("fe80::1"))}};
    testing::internal::CaptureStdout();
    detectWith(net, sink);
    // Without a back-end the DNS-SD stage finds nothing, after all its polls.
    int sleeps = 0;
    DetectBridgeOptions options;
    options.webUrl = "no url";
    options.sleep = [&sleeps](std::chrono::milliseconds) { ++sleeps; };
    options.console = sink;
    EXPECT_EQ(detectBridge(options), "");
    EXPECT_EQ(sleeps, 20);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(console, (std::vector<std::string>{"[ZeroConf] Hue found, but not from Philips!?",
                                                 "Did not find IPV4 address",
                                                 "[ZeroConf] no DNS-SD back-end installed"}));

    // Without a sink, and from a plain ZeroConf (no back-end either): standard output.
    testing::internal::CaptureStdout();
    options.console = {};
    detectBridge(options);
    ZeroConf zeroConf;
    zeroConf.startDiscovery();
    EXPECT_EQ(zeroConf.foundIp(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ZeroConf] no DNS-SD back-end installed\n"
              "[ZeroConf] no DNS-SD back-end installed\n");
}

// The web stage over real HTTP, against the simulated bridge on loopback; the
// DNS-SD stage behind it finds nothing.
class DiscoveryWeb : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
    }
    sim::SimServer sim;
};

TEST_F(DiscoveryWeb, FindsTheSimulatorWithoutStartingDnsSd) {
    FakeNetwork net;
    const DetectRun run = detectWith(net, {}, sim.baseUrl() + "/discovery");
    EXPECT_EQ(run.result, "127.0.0.1");
    EXPECT_EQ(net.browsersMade, 0);
    EXPECT_EQ(run.lines,
              (std::vector<std::string>{"[detectBridge] Starting discovery process...",
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
        FakeNetwork net;
        const DetectRun run = detectWith(net, {}, address);
        EXPECT_EQ(run.result, "") << address;
        EXPECT_EQ(net.browsersMade, 2) << address;
        EXPECT_EQ(net.sleeps, 20) << address;
        ASSERT_GE(run.lines.size(), 3u);
        EXPECT_EQ(run.lines[1], "[detectBridge] [FAILED] No bridge found.");
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
