#pragma once
// The DNS service discovery operations discovery needs from the platform: browse for a
// service type, stop, resolve one found service with a time-out. A back-end (Avahi on
// Linux) implements DnsSdBrowser; tests use a fake.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora {

// One found service instance, enough for its back-end to resolve it again.
struct DnsSdService {
    std::string name;  // instance name, e.g. "Philips Hue - 2D3081"
    std::string type;
    std::string domain;
    int interfaceIndex = -1;  // -1: any
    int protocol = -1;        // the back-end's own protocol code, -1: any
    std::string bridgeId;     // resolved: the TXT record's "bridgeid", as it was
};

// One resolved socket address as the system returns it: the bytes of a sockaddr
// (sockaddr_in, sockaddr_in6, ...), family included.
using SocketAddressData = std::vector<std::uint8_t>;

class DnsSdBrowser;

// Events of a browser and of the services it resolves. A back-end may deliver them on
// a thread of its own; the browser passed in is the one that raised the event and may
// be called back from inside the event.
class DnsSdDelegate {
  public:
    virtual ~DnsSdDelegate() = default;

    virtual void netServiceBrowserWillSearch(DnsSdBrowser& browser) = 0;
    virtual void netServiceDidNotResolve(DnsSdBrowser& browser, const DnsSdService& service) = 0;
    virtual void netServiceBrowserDidStopSearch(DnsSdBrowser& browser) = 0;
    virtual void netServiceBrowserDidFind(DnsSdBrowser& browser, const DnsSdService& service) = 0;
    virtual void netServiceDidResolveAddress(DnsSdBrowser& browser, const DnsSdService& service,
                                             const std::vector<SocketAddressData>& addresses) = 0;
};

class DnsSdBrowser {
  public:
    virtual ~DnsSdBrowser() = default;

    // The delegate must outlive the browser's events: destroying the browser ends them.
    virtual void setDelegate(DnsSdDelegate* delegate) = 0;
    // Starts browsing; an empty domain means the default domains. A trailing dot on the
    // type or domain is accepted.
    virtual void browse(const std::string& type, const std::string& domain) = 0;
    // Stops browsing (no-op when not browsing). Resolves in progress go on.
    virtual void stop() = 0;
    // Resolves a found service; ends in netServiceDidResolveAddress or netServiceDidNotResolve.
    virtual void resolve(const DnsSdService& service, std::chrono::milliseconds timeout) = 0;
};

// Each program chooses its back-end in `main` and hands the factory down; an empty one
// means a browser that finds nothing and says so (see ZeroConf).
using DnsSdBrowserFactory = std::function<std::unique_ptr<DnsSdBrowser>()>;

}  // namespace lumora
