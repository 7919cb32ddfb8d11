#include "bridge/avahi/avahi_browser.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bridge/console.h"

namespace lumora {
namespace {

// Above zero while this thread runs an Avahi callback, which holds the poll's lock
// already: calls back into the browser from there must not take it again.
thread_local int tlInCallback = 0;

struct CallbackScope {
    CallbackScope() { ++tlInCallback; }
    ~CallbackScope() { --tlInCallback; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

class PollLock {
  public:
    explicit PollLock(AvahiThreadedPoll* poll) : poll_(tlInCallback == 0 ? poll : nullptr) {
        if (poll_) avahi_threaded_poll_lock(poll_);
    }
    ~PollLock() {
        if (poll_) avahi_threaded_poll_unlock(poll_);
    }
    PollLock(const PollLock&) = delete;
    PollLock& operator=(const PollLock&) = delete;

  private:
    AvahiThreadedPoll* poll_;
};

std::string withoutTrailingDot(const std::string& text) {
    if (!text.empty() && text.back() == '.') return text.substr(0, text.size() - 1);
    return text;
}

SocketAddressData toSocketAddress(const AvahiAddress& address, std::uint16_t port,
                                  AvahiIfIndex interfaceIndex) {
    SocketAddressData data;
    if (address.proto == AVAHI_PROTO_INET) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = address.data.ipv4.address;
        data.resize(sizeof in);
        std::memcpy(data.data(), &in, sizeof in);
    } else if (address.proto == AVAHI_PROTO_INET6) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        std::memcpy(&in6.sin6_addr, address.data.ipv6.address, sizeof in6.sin6_addr);
        if (interfaceIndex >= 0) in6.sin6_scope_id = static_cast<std::uint32_t>(interfaceIndex);
        data.resize(sizeof in6);
        std::memcpy(data.data(), &in6, sizeof in6);
    }
    return data;
}

class AvahiBrowser final : public DnsSdBrowser {
  public:
    explicit AvahiBrowser(ConsoleSink console) : console_(std::move(console)) {}
    ~AvahiBrowser() override;
    AvahiBrowser(const AvahiBrowser&) = delete;
    AvahiBrowser& operator=(const AvahiBrowser&) = delete;

    void setDelegate(DnsSdDelegate* delegate) override { delegate_ = delegate; }
    void browse(const std::string& type, const std::string& domain) override;
    void stop() override;
    void resolve(const DnsSdService& service, std::chrono::milliseconds timeout) override;

  private:
    // One service being resolved: an IPv4 and an IPv6 address lookup under one time-out.
    struct Resolve {
        AvahiBrowser* owner = nullptr;
        DnsSdService service;
        std::vector<AvahiServiceResolver*> pending;
        AvahiTimeout* timer = nullptr;
        std::vector<SocketAddressData> addresses;
    };

    bool connect();
    void stopLocked();
    void finish(Resolve* resolve);

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata);
    static void browseCallback(AvahiServiceBrowser* browser, AvahiIfIndex interfaceIndex,
                               AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                               const char* type, const char* domain, AvahiLookupResultFlags flags,
                               void* userdata);
    static void resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interfaceIndex,
                                AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                                const char* type, const char* domain, const char* hostName,
                                const AvahiAddress* address, std::uint16_t port,
                                AvahiStringList* txt, AvahiLookupResultFlags flags, void* userdata);
    static void timeoutCallback(AvahiTimeout* timeout, void* userdata);

    DnsSdDelegate* delegate_ = nullptr;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    bool started_ = false;
    AvahiServiceBrowser* serviceBrowser_ = nullptr;
    std::vector<std::unique_ptr<Resolve>> resolves_;
    ConsoleSink console_;
};

AvahiBrowser::~AvahiBrowser() {
    if (!poll_) return;
    // After the stop no callback runs any more, so the rest needs no lock.
    if (started_) avahi_threaded_poll_stop(poll_);
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    for (auto& resolve : resolves_) {
        for (AvahiServiceResolver* r : resolve->pending) avahi_service_resolver_free(r);
        if (resolve->timer) api->timeout_free(resolve->timer);
    }
    resolves_.clear();
    if (serviceBrowser_) avahi_service_browser_free(serviceBrowser_);
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
}

bool AvahiBrowser::connect() {
    if (client_) return true;
    if (!poll_) poll_ = avahi_threaded_poll_new();
    if (!poll_) {
        consoleLine(console_, "[ZeroConf] Avahi unavailable: cannot create its event loop");
        return false;
    }
    int error = 0;
    {
        CallbackScope scope;  // the state callback runs inside avahi_client_new
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0),
                                   &AvahiBrowser::clientCallback, this, &error);
    }
    if (!client_) {
        consoleLine(console_,
                    std::string("[ZeroConf] Avahi unavailable: ") + avahi_strerror(error));
        return false;
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
        consoleLine(console_, "[ZeroConf] Avahi unavailable: cannot start its event loop");
        avahi_client_free(client_);
        client_ = nullptr;
        return false;
    }
    started_ = true;
    return true;
}

void AvahiBrowser::browse(const std::string& type, const std::string& domain) {
    if (!connect()) return;
    PollLock lock(poll_);
    if (serviceBrowser_) return;
    std::string bareType = withoutTrailingDot(type);
    std::string bareDomain = withoutTrailingDot(domain);
    serviceBrowser_ =
        avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, bareType.c_str(),
                                  bareDomain.empty() ? nullptr : bareDomain.c_str(),
                                  AvahiLookupFlags(0), &AvahiBrowser::browseCallback, this);
    if (!serviceBrowser_) {
        consoleLine(console_, std::string("[ZeroConf] Avahi browse failed: ") +
                                  avahi_strerror(avahi_client_errno(client_)));
        return;
    }
    // Still under the lock, so no found event can overtake this one.
    CallbackScope scope;
    if (delegate_) delegate_->netServiceBrowserWillSearch(*this);
}

void AvahiBrowser::stop() {
    if (!poll_) return;
    PollLock lock(poll_);
    stopLocked();
}

void AvahiBrowser::stopLocked() {
    if (!serviceBrowser_) return;
    avahi_service_browser_free(serviceBrowser_);
    serviceBrowser_ = nullptr;
    CallbackScope scope;
    if (delegate_) delegate_->netServiceBrowserDidStopSearch(*this);
}

void AvahiBrowser::resolve(const DnsSdService& service, std::chrono::milliseconds timeout) {
    if (!client_) return;
    PollLock lock(poll_);
    auto resolve = std::make_unique<Resolve>();
    resolve->owner = this;
    resolve->service = service;
    std::string type = withoutTrailingDot(service.type);
    std::string domain = withoutTrailingDot(service.domain);
    // Two lookups: Avahi returns one address per resolver, and a host answering both
    // would otherwise give whichever family comes first.
    for (AvahiProtocol family : {AVAHI_PROTO_INET, AVAHI_PROTO_INET6}) {
        AvahiServiceResolver* r = avahi_service_resolver_new(
            client_, service.interfaceIndex, service.protocol, service.name.c_str(), type.c_str(),
            domain.empty() ? nullptr : domain.c_str(), family, AvahiLookupFlags(0),
            &AvahiBrowser::resolveCallback, resolve.get());
        if (r) resolve->pending.push_back(r);
    }
    if (resolve->pending.empty()) {
        CallbackScope scope;
        if (delegate_) delegate_->netServiceDidNotResolve(*this, service);
        return;
    }
    timeval when{};
    avahi_elapse_time(&when, static_cast<unsigned>(timeout.count()), 0);
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    resolve->timer = api->timeout_new(api, &when, &AvahiBrowser::timeoutCallback, resolve.get());
    resolves_.push_back(std::move(resolve));
}

// Runs on the polling thread (or under the lock): ends one resolve and reports it.
void AvahiBrowser::finish(Resolve* resolve) {
    for (AvahiServiceResolver* r : resolve->pending) avahi_service_resolver_free(r);
    resolve->pending.clear();
    if (resolve->timer) {
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        api->timeout_free(resolve->timer);
        resolve->timer = nullptr;
    }
    DnsSdService service = std::move(resolve->service);
    std::vector<SocketAddressData> addresses = std::move(resolve->addresses);
    std::erase_if(resolves_, [resolve](const auto& r) { return r.get() == resolve; });
    if (!delegate_) return;
    if (addresses.empty())
        delegate_->netServiceDidNotResolve(*this, service);
    else
        delegate_->netServiceDidResolveAddress(*this, service, addresses);
}

void AvahiBrowser::clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
    CallbackScope scope;
    auto* self = static_cast<AvahiBrowser*>(userdata);
    if (state != AVAHI_CLIENT_FAILURE) return;
    consoleLine(self->console_, std::string("[ZeroConf] Avahi unavailable: ") +
                                    avahi_strerror(avahi_client_errno(client)));
    // The daemon went away: nothing more will be found. (During avahi_client_new the
    // browser does not exist yet.)
    if (self->client_) self->stopLocked();
}

void AvahiBrowser::browseCallback(AvahiServiceBrowser*, AvahiIfIndex interfaceIndex,
                                  AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                                  const char* type, const char* domain, AvahiLookupResultFlags,
                                  void* userdata) {
    CallbackScope scope;
    auto* self = static_cast<AvahiBrowser*>(userdata);
    if (event == AVAHI_BROWSER_FAILURE) {
        consoleLine(self->console_, std::string("[ZeroConf] Avahi browse failed: ") +
                                        avahi_strerror(avahi_client_errno(self->client_)));
        self->stopLocked();
        return;
    }
    if (event != AVAHI_BROWSER_NEW || !self->delegate_) return;
    DnsSdService service{name ? name : "", type ? type : "", domain ? domain : "",
                         static_cast<int>(interfaceIndex), static_cast<int>(protocol)};
    self->delegate_->netServiceBrowserDidFind(*self, service);
}

void AvahiBrowser::resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interfaceIndex,
                                   AvahiProtocol, AvahiResolverEvent event, const char*,
                                   const char*, const char*, const char*,
                                   const AvahiAddress* address, std::uint16_t port,
                                   AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
    CallbackScope scope;
    auto* resolve = static_cast<Resolve*>(userdata);
    std::erase(resolve->pending, resolver);
    bool haveIPv4 = false;
    if (event == AVAHI_RESOLVER_FOUND && txt) {
        // The bridge's id, which its certificate must then name.
        if (AvahiStringList* entry = avahi_string_list_find(txt, "bridgeid")) {
            char* key = nullptr;
            char* value = nullptr;
            std::size_t size = 0;
            if (avahi_string_list_get_pair(entry, &key, &value, &size) == 0 && value)
                resolve->service.bridgeId.assign(value, std::min<std::size_t>(size, 64));
            avahi_free(key);
            avahi_free(value);
        }
    }
    if (event == AVAHI_RESOLVER_FOUND && address) {
        SocketAddressData data = toSocketAddress(*address, port, interfaceIndex);
        if (!data.empty()) resolve->addresses.push_back(std::move(data));
        haveIPv4 = address->proto == AVAHI_PROTO_INET;
    }
    // The address and the text above belong to the resolver.
    avahi_service_resolver_free(resolver);
    // An IPv4 address is all discovery uses, so it need not wait for the IPv6 lookup.
    if (haveIPv4 || resolve->pending.empty()) resolve->owner->finish(resolve);
}

void AvahiBrowser::timeoutCallback(AvahiTimeout*, void* userdata) {
    CallbackScope scope;
    auto* resolve = static_cast<Resolve*>(userdata);
    resolve->owner->finish(resolve);
}

}  // namespace

std::unique_ptr<DnsSdBrowser> makeAvahiBrowser(ConsoleSink console) {
    return std::make_unique<AvahiBrowser>(std::move(console));
}

}  // namespace lumora
