#include "bridge/discovery.h"

#include <sys/socket.h>
#include <syslog.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/utf8.h"
#include "bridge/bridge_link.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"

namespace lumora {
namespace {

using Json = nlohmann::json;

// Used where the program chose no back-end: browsing finds nothing, and says so once,
// so a missing back-end shows in the output.
class NoDnsSdBrowser final : public DnsSdBrowser {
  public:
    explicit NoDnsSdBrowser(ConsoleSink console) : console_(std::move(console)) {}
    void setDelegate(DnsSdDelegate*) override {}
    void browse(const std::string&, const std::string&) override {
        consoleLine(console_, "[ZeroConf] no DNS-SD back-end installed");
    }
    void stop() override {}
    void resolve(const DnsSdService&, std::chrono::milliseconds) override {}

  private:
    ConsoleSink console_;
};

// The system log's ident must stay valid after openlog(); a literal does.
constexpr const char* kLogIdent = "com.brightfold.lumora";

class DetectLog {
  public:
    explicit DetectLog(const DetectBridgeOptions& options) : sink_(options.stageSink) {
        openlog(kLogIdent, LOG_PID, LOG_USER);
    }

    void operator()(const std::string& line) const {
        syslog(LOG_INFO, "[main] %s", line.c_str());
        if (sink_) sink_(line);
    }

  private:
    std::function<void(std::string_view)> sink_;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

// Swift-style optional member decoding: missing or null is absent, another type fails.
template <typename T, typename Check>
bool readMember(const Json& object, const char* key, std::optional<T>& out, Check check) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return true;
    if (!check(*it)) return false;
    out = it->template get<T>();
    return true;
}

std::optional<HueDiscoveryBridgeDetails> decodeDetails(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    HueDiscoveryBridgeDetails details;
    auto isText = [](const Json& v) { return v.is_string(); };
    auto isInteger = [](const Json& v) {
        if (v.is_number_unsigned()) return v.get<std::uint64_t>() <= INT64_MAX;
        return v.is_number_integer();
    };
    if (!readMember(json, "id", details.id, isText) ||
        !readMember(json, "internalipaddress", details.internalipaddress, isText) ||
        !readMember(json, "port", details.port, isInteger))
        return std::nullopt;
    return details;
}

std::optional<std::string> fourPartAddress(const HueDiscoveryBridgeDetails& details) {
    if (!details.internalipaddress) return std::nullopt;
    const std::string& ip = *details.internalipaddress;
    if (std::count(ip.begin(), ip.end(), '.') != 3) return std::nullopt;
    return ip;
}

}  // namespace

std::string fetchString(std::string_view address, std::chrono::milliseconds timeout) {
    HttpRequest request;
    request.method = "GET";
    request.url = std::string(address);
    request.timeout = timeout;
    HttpResponse response = httpSend(request);
    if (!response.ok() || !response.body || !isValidUtf8(*response.body)) return {};
    return std::move(*response.body);
}

std::optional<HueDiscoveryBridgeDetails> decodeHueDiscoveryBridgeDetails(std::string_view json) {
    Json parsed = Json::parse(json, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return decodeDetails(parsed);
}

std::optional<FoundBridge> parseHueDiscoveryReply(std::string_view jsonData) {
    Json parsed = Json::parse(jsonData, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    auto found = [](const Json& element) -> std::optional<FoundBridge> {
        auto details = decodeDetails(element);
        if (!details) return std::nullopt;
        auto ip = fourPartAddress(*details);
        if (!ip) return std::nullopt;
        return FoundBridge{*ip, normalizedBridgeId(details->id.value_or(""))};
    };
    if (parsed.is_object()) return found(parsed);
    // The live service answers with a list, one entry per bridge it knows behind this
    // network's public address.
    if (parsed.is_array()) {
        for (const Json& element : parsed)
            if (auto bridge = found(element)) return bridge;
    }
    return std::nullopt;
}

std::optional<std::string> parseHueDiscoveryResponse(std::string_view jsonData) {
    auto found = parseHueDiscoveryReply(jsonData);
    return found ? std::optional(found->address) : std::nullopt;
}

std::string discoveryUrl() {
    const char* value = std::getenv(kDiscoveryUrlVariable);
    if (value && *value) return value;
    return kDefaultDiscoveryUrl;
}

// ---------------------------------------------------------------------------------------

ZeroConf::ZeroConf(DnsSdBrowserFactory factory, ConsoleSink console)
    : console_(std::move(console)),
      factory_(factory ? std::move(factory) : [sink = console_]() -> std::unique_ptr<DnsSdBrowser> {
          return std::make_unique<NoDnsSdBrowser>(sink);
      }),
      browser_(factory_()) {}

ZeroConf::~ZeroConf() {
    // The browser's events touch the fields below: end them while those still exist.
    browser_.reset();
}

void ZeroConf::startDiscovery() {
    browser_.reset();
    browser_ = factory_();
    browser_->setDelegate(this);
    {
        std::lock_guard lock(mutex_);
        service_.reset();
    }
    browser_->stop();
    browser_->browse(kServiceType, "");
}

void ZeroConf::stopDiscovery() {
    if (browser_) browser_->stop();
}

void ZeroConf::netServiceBrowserWillSearch(DnsSdBrowser&) {
    status_ = searching;
}

void ZeroConf::netServiceDidNotResolve(DnsSdBrowser&, const DnsSdService&) {}

void ZeroConf::netServiceBrowserDidStopSearch(DnsSdBrowser&) {}

void ZeroConf::netServiceBrowserDidFind(DnsSdBrowser& browser, const DnsSdService& service) {
    if (service.name.find("Philips") == std::string::npos) {
        consoleLine(console_, "[ZeroConf] Hue found, but not from Philips!?");
        return;
    }
    browser.stop();
    {
        std::lock_guard lock(mutex_);
        if (service_) return;
        service_ = service;
    }
    status_ = resolving;
    browser.resolve(service, kResolveTimeout);
}

void ZeroConf::netServiceDidResolveAddress(DnsSdBrowser&, const DnsSdService& service,
                                           const std::vector<SocketAddressData>& addresses) {
    if (auto ip = resolveIPv4(addresses)) {
        {
            std::lock_guard lock(mutex_);
            foundIp_ = *ip;
            foundId_ = normalizedBridgeId(service.bridgeId);
        }
        status_ = resolved;
    } else {
        status_ = noIPv4;
        consoleLine(console_, "Did not find IPV4 address");
    }
}

std::optional<std::string> ZeroConf::resolveIPv4(const std::vector<SocketAddressData>& addresses) {
    for (const SocketAddressData& data : addresses) {
        sockaddr_storage storage{};
        static_assert(sizeof storage == 128);
        std::memcpy(&storage, data.data(), std::min(data.size(), sizeof storage));
        if (storage.ss_family != AF_INET) continue;
        // sin_addr sits at bytes 4 to 7, in network order.
        const auto* bytes = reinterpret_cast<const unsigned char*>(&storage) + 4;
        return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    }
    return std::nullopt;
}

std::string ZeroConf::foundIp() const {
    std::lock_guard lock(mutex_);
    return foundIp_;
}

std::string ZeroConf::foundBridgeId() const {
    std::lock_guard lock(mutex_);
    return foundId_;
}

std::optional<DnsSdService> ZeroConf::service() const {
    std::lock_guard lock(mutex_);
    return service_;
}

// ---------------------------------------------------------------------------------------

FoundBridge findBridge(const DetectBridgeOptions& options) {
    DetectLog log(options);
    log("[detectBridge] Starting discovery process...");

    std::string url = options.webUrl.empty() ? discoveryUrl() : options.webUrl;
    if (auto found = parseHueDiscoveryReply(fetchString(url))) {
        log(format("[detectBridge] [SUCCESS] Found at: %s", found->address.c_str()));
        return *found;
    }
    log("[detectBridge] [FAILED] No bridge found.");
    log("[detectBridge] Trying ZeroConf...");

    ZeroConf zeroConf(options.browserFactory, options.console);
    zeroConf.startDiscovery();
    log("[detectBridge] ZeroConf started...");

    auto sleep = options.sleep ? options.sleep : [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
    for (int poll = 0; poll < kZeroConfPolls; ++poll) {
        log(format("[detectBridge] ZeroConf Status %ld...", zeroConf.status()));
        if (!zeroConf.foundIp().empty()) break;
        sleep(kZeroConfPollInterval);
    }

    std::string ip = zeroConf.foundIp();
    if (!ip.empty()) {
        log(format("[detectBridge] [SUCCESS] ZeroConf did it! Hue at: %s", ip.c_str()));
        return {ip, zeroConf.foundBridgeId()};
    }
    log("[detectBridge] [FAILED] ZeroConf giving up...");
    return {};
}

std::string detectBridge(const DetectBridgeOptions& options) {
    return findBridge(options).address;
}

}  // namespace lumora
