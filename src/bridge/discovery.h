#pragma once
// Finding the bridge's address without the user's help: the public web discovery
// service first, then DNS service discovery of "_hue._tcp" on the local network.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/console.h"
#include "bridge/dnssd.h"

namespace lumora {

inline constexpr const char* kDefaultDiscoveryUrl = "https://discovery.meethue.com/";
inline constexpr const char* kDiscoveryUrlVariable = "LUMORA_DISCOVERY_URL";

// The web discovery reply as read: every member optional.
struct HueDiscoveryBridgeDetails {
    std::optional<std::string> id;
    std::optional<std::string> internalipaddress;
    std::optional<std::int64_t> port;
};

// Blocking GET of `address`: the body when it is valid UTF-8, else the empty text (bad
// URL, failed request, no body). Any HTTP status counts; the caller judges the body.
std::string fetchString(std::string_view address,
                        std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Decodes one reply object; absent when the text is not an object or a member has
// another JSON type (null counts as absent).
std::optional<HueDiscoveryBridgeDetails> decodeHueDiscoveryBridgeDetails(std::string_view json);

// A bridge discovery found: its address, and the id the answer named (lower-case
// 16 hex digits; empty when it named none), which the bridge's certificate must
// then carry. Made from an address alone as well.
struct FoundBridge {
    FoundBridge(std::string address = {}, std::string id = {})
        : address(std::move(address)), id(std::move(id)) {}
    std::string address, id;
};

// The bridge the web stage accepts from a reply, as below, with its id.
std::optional<FoundBridge> parseHueDiscoveryReply(std::string_view jsonData);

// The address the web stage accepts from a reply: one object, or the first element of a
// list that is such an object, whose internalipaddress has exactly four dot-separated
// parts (empty parts count). Returned unchanged.
std::optional<std::string> parseHueDiscoveryResponse(std::string_view jsonData);

// The web discovery address: $LUMORA_DISCOVERY_URL when set and not empty, else the
// public discovery service.
std::string discoveryUrl();

// One DNS-SD discovery run. Events may arrive on the back-end's thread; status() and
// foundIp() may be read from any thread meanwhile.
class ZeroConf final : public DnsSdDelegate {
  public:
    enum Status : long {
        created = 0,
        searching = 1,
        resolving = 2,
        resolved = 200,
        noIPv4 = 400,
    };

    static constexpr const char* kServiceType = "_hue._tcp.";
    static constexpr std::chrono::milliseconds kResolveTimeout{3000};

    // An empty factory means a browser that finds nothing and says so once, so a
    // program that chose no back-end shows it in its output.
    // Diagnostics go to `console`.
    explicit ZeroConf(DnsSdBrowserFactory factory = {}, ConsoleSink console = {});
    ~ZeroConf() override;
    ZeroConf(const ZeroConf&) = delete;
    ZeroConf& operator=(const ZeroConf&) = delete;

    void startDiscovery();
    void stopDiscovery();

    void netServiceBrowserWillSearch(DnsSdBrowser& browser) override;
    void netServiceDidNotResolve(DnsSdBrowser& browser, const DnsSdService& service) override;
    void netServiceBrowserDidStopSearch(DnsSdBrowser& browser) override;
    void netServiceBrowserDidFind(DnsSdBrowser& browser, const DnsSdService& service) override;
    void netServiceDidResolveAddress(DnsSdBrowser& browser, const DnsSdService& service,
                                     const std::vector<SocketAddressData>& addresses) override;

    // The first IPv4 record (family 2) as dotted decimal; IPv6 and others are skipped.
    static std::optional<std::string> resolveIPv4(const std::vector<SocketAddressData>& addresses);

    long status() const { return status_.load(); }
    std::string foundIp() const;
    std::string foundBridgeId() const;  // of the resolved service's TXT record
    std::optional<DnsSdService> service() const;

  private:
    ConsoleSink console_;
    DnsSdBrowserFactory factory_;
    std::unique_ptr<DnsSdBrowser> browser_;
    mutable std::mutex mutex_;             // guards service_ and foundIp_
    std::optional<DnsSdService> service_;  // the first accepted service, being resolved
    std::atomic<long> status_{created};
    std::string foundIp_;
    std::string foundId_;
};

struct DetectBridgeOptions {
    // Web discovery address; empty means discoveryUrl().
    std::string webUrl;
    // DNS-SD back-end; empty means none (the stage finds nothing).
    DnsSdBrowserFactory browserFactory;
    // The wait between two polls of the DNS-SD stage; empty means a real sleep.
    std::function<void(std::chrono::milliseconds)> sleep;
    // Receives every line detectBridge writes to the system log, as written there
    // (without the category), e.g. for a command-line client to echo.
    std::function<void(std::string_view line)> stageSink;
    // Diagnostics of the DNS-SD stage (the browser's own are the factory's business).
    ConsoleSink console;
};

inline constexpr int kZeroConfPolls = 20;
inline constexpr std::chrono::milliseconds kZeroConfPollInterval{500};

// Blocks until discovery ends: the bridge's dotted IPv4 address and its id, or
// an empty address when both stages found nothing. Never call it on the user-interface thread.
FoundBridge findBridge(const DetectBridgeOptions& options = {});
// Its address alone.
std::string detectBridge(const DetectBridgeOptions& options = {});

}  // namespace lumora
