#include "bridge/bridge_link.h"

#include <nlohmann/json.hpp>

#include "base/letter_case.h"
#include "base/utf8.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"

namespace lumora {
namespace {

// Longer than a read's: a busy bridge that is slow to answer must still be
// found, and this happens once per connection, not on every refresh.
constexpr auto kLinkTimeout = std::chrono::seconds(10);

struct Config {
    bool read = false;  // a JSON object came back
    std::string bridgeId, model;
};

Config configOf(const HttpResponse& res) {
    Config c;
    if (!res.ok() || res.status != 200 || !res.body || !isValidUtf8(*res.body)) return c;
    const auto j = nlohmann::json::parse(*res.body, nullptr, false);
    if (!j.is_object()) return c;
    c.read = true;
    if (auto it = j.find("bridgeid"); it != j.end() && it->is_string())
        c.bridgeId = normalizedBridgeId(it->get<std::string>());
    if (auto it = j.find("modelid"); it != j.end() && it->is_string())
        c.model = it->get<std::string>();
    return c;
}

HttpResponse getConfig(const HttpTransport& transport, const std::string& base,
                       std::optional<TlsIdentity> tls) {
    HttpRequest req;
    req.url = base + "/api/config";
    req.timeout = kLinkTimeout;
    req.tls = std::move(tls);
    return transport(req);
}

bool judged(const HttpResponse& res) {
    return res.error == HttpError::tlsFailed && res.tls.reason != TlsFailure::handshakeFailed;
}

// One HTTPS address: linked, refused, or no TLS there (`refusedConnection`
// when nothing listened at all).
struct Attempt {
    std::optional<LinkResult> result;
    bool refusedConnection = false;
};

LinkResult refused(const TlsRefusal& refusal, const std::string& at) {
    LinkResult r;
    r.outcome = LinkOutcome::certificateRefused;
    r.refusal = refusal;
    r.refusedAt = at;
    return r;
}

LinkResult secureLink(const std::string& hostPort, const Config& c, const std::string& id,
                      const std::string& pin, const LinkRequest& request) {
    LinkResult r;
    r.outcome = LinkOutcome::linked;
    r.model = c.model;
    r.endpoint.hostPort = hostPort;
    r.endpoint.secure = true;
    r.endpoint.bridgeId = id;
    r.endpoint.pin = pin;
    r.endpoint.anchors = request.anchors;
    return r;
}

// A connection proven for `id`: linked when the bridge reports that id too,
// refused when it names another; none when it said nothing readable.
std::optional<LinkResult> provenLink(const std::string& hostPort, const Config& c,
                                     const std::string& id, const TlsRefusal& seen,
                                     const LinkRequest& request) {
    if (!c.read) return std::nullopt;
    if (c.bridgeId != id) {
        // The certificate names one bridge and the bridge says it is another.
        TlsRefusal r;
        r.reason = TlsFailure::wrongBridge;
        r.expected = c.bridgeId.empty() ? "none reported" : c.bridgeId;
        r.got = id;
        r.fingerprint = seen.fingerprint;
        return refused(r, hostPort);
    }
    return secureLink(hostPort, c, id, {}, request);
}

Attempt tryHttps(const LinkRequest& request, const HttpTransport& transport,
                 const std::string& hostPort) {
    const std::string base = "https://" + hostPort;
    Attempt a;
    if (!request.offeredPin.empty()) {
        const HttpResponse res =
            getConfig(transport, base, TlsIdentity::pinned(request.offeredPin));
        if (judged(res)) {
            a.result = refused(res.tls, hostPort);
        } else if (const Config c = configOf(res); c.read && !c.bridgeId.empty()) {
            a.result = secureLink(hostPort, c, c.bridgeId,
                                  normalizedFingerprint(request.offeredPin), request);
        } else {
            a.refusedConnection = res.error == HttpError::connectionFailed;
        }
        return a;
    }
    // No id is known yet: the first connection demands none, so a certificate
    // whose chain holds is refused only for its name, and that name is the id
    // the second connection must be proven for. No path is sent on the first.
    // An id discovery named is demanded at once.
    const std::string discovered = normalizedBridgeId(request.discoveredId);
    const HttpResponse first =
        getConfig(transport, base, TlsIdentity::bridge(discovered, request.anchors));
    if (!judged(first)) {
        a.refusedConnection = first.error == HttpError::connectionFailed;
        if (!discovered.empty() && first.ok())
            a.result = provenLink(hostPort, configOf(first), discovered, first.tls, request);
        return a;
    }
    const std::string id = discovered.empty() && first.tls.reason == TlsFailure::wrongBridge &&
                                   first.tls.expected.empty()
                               ? normalizedBridgeId(first.tls.got)
                               : std::string();
    if (id.empty()) {
        // Self-signed, another maker's, another bridge than discovery named, or
        // no id for a name: the person may trust a known fingerprint, never on
        // their own.
        const std::string knownId = discovered.empty() ? request.storedId : discovered;
        const KnownBridge known =
            request.known && !knownId.empty() ? request.known(knownId) : KnownBridge{};
        if (!known.pin.empty() && normalizedFingerprint(known.pin) == first.tls.fingerprint) {
            LinkRequest again = request;
            again.offeredPin = known.pin;
            return tryHttps(again, transport, hostPort);
        }
        a.result = refused(first.tls, hostPort);
        return a;
    }
    const HttpResponse second =
        getConfig(transport, base, TlsIdentity::bridge(id, request.anchors));
    if (judged(second)) {
        a.result = refused(second.tls, hostPort);
        return a;
    }
    a.result = provenLink(hostPort, configOf(second), id, first.tls, request);
    return a;
}

// The host of a HOST[:PORT] and whether a port was given.
struct Authority {
    std::string host;  // as it goes in a URL (IPv6 in brackets)
    int port = 0;      // 0 when none was given
};

Authority authorityOf(const std::string& hostPort) {
    Authority a;
    a.host = hostPort;
    const auto colon = hostPort.rfind(':');
    const auto bracket = hostPort.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        a.host = hostPort.substr(0, colon);
        a.port = std::atoi(hostPort.c_str() + colon + 1);
    }
    return a;
}

// The HTTPS HOST[:PORT] a plain redirect points to, when it is https on the
// same host; empty otherwise.
std::string redirectTarget(const HttpResponse& res, const Authority& from) {
    if (res.status != 301 && res.status != 308) return {};
    const auto location = res.header("Location");
    if (!location) return {};
    const auto url = parseUrl(*location);
    if (!url || url->scheme != "https") return {};
    const std::string host =
        url->host.find(':') != std::string::npos ? "[" + url->host + "]" : url->host;
    if (asciiLowerCased(host) != asciiLowerCased(from.host)) return {};
    return url->port == 443 ? host : host + ":" + std::to_string(url->port);
}

LinkResult plainLink(const std::string& hostPort, const Config& c) {
    LinkResult r;
    r.outcome = LinkOutcome::linked;
    r.model = c.model;
    r.endpoint.hostPort = hostPort;
    r.endpoint.bridgeId = c.bridgeId;
    return r;
}

LinkResult unreachable() {
    return {};
}

}  // namespace

std::string normalizedBridgeId(std::string_view id) {
    if (id.size() != 16) return {};
    std::string out;
    for (char ch : id) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
        out.push_back(c);
    }
    return out;
}

LinkResult linkToBridge(const LinkRequest& request, const HttpTransport& transport) {
    const std::string& hostPort = request.address.hostPort;
    if (!request.address.ok()) return unreachable();
    auto known = [&](const std::string& id) {
        return request.known && !id.empty() ? request.known(id) : KnownBridge{};
    };

    // A bridge that answered securely before is reached that way or not at all.
    const std::string storedId = normalizedBridgeId(request.storedId);
    if (const KnownBridge k = known(storedId); k.answeredSecurely) {
        BridgeEndpoint e;
        e.hostPort = hostPort;
        e.secure = true;
        e.bridgeId = storedId;
        e.pin = request.offeredPin.empty() ? k.pin : normalizedFingerprint(request.offeredPin);
        e.anchors = request.anchors;
        const HttpResponse res = getConfig(transport, e.base(), e.identity());
        if (judged(res)) return refused(res.tls, hostPort);
        if (const Config c = configOf(res); c.read) {
            if (!c.bridgeId.empty() && c.bridgeId != storedId) {
                TlsRefusal r;
                r.reason = TlsFailure::wrongBridge;
                r.expected = storedId;
                r.got = c.bridgeId;
                return refused(r, hostPort);
            }
            LinkResult r;
            r.outcome = LinkOutcome::linked;
            r.model = c.model;
            r.endpoint = e;
            return r;
        }
        if (res.ok()) return unreachable();
        // No TLS there any more. If plain HTTP answers, say so rather than
        // "unreachable": the person should know why it is not used.
        const HttpResponse plain = getConfig(transport, "http://" + hostPort, std::nullopt);
        if (plain.ok() && plain.status >= 200 && plain.status < 300) {
            LinkResult r;
            r.outcome = LinkOutcome::plainAfterSecure;
            r.bridgeId = storedId;
            return r;
        }
        return unreachable();
    }

    const Authority authority = authorityOf(hostPort);
    const bool tlsFirst = request.address.https || authority.port == 0 || authority.port == 443;
    bool tlsRefusedConnection = false;
    if (tlsFirst) {
        Attempt a = tryHttps(request, transport, hostPort);
        if (a.result) return *a.result;
        if (request.address.https) return unreachable();
        tlsRefusedConnection = a.refusedConnection;
    }
    const std::string plainAt = authority.port == 443 ? authority.host : hostPort;
    const HttpResponse plain = getConfig(transport, "http://" + plainAt, std::nullopt);
    if (const std::string to = redirectTarget(plain, authority); !to.empty()) {
        if (tlsFirst && to == hostPort) return unreachable();
        Attempt a = tryHttps(request, transport, to);
        return a.result ? *a.result : unreachable();
    }
    if (!plain.ok()) {
        // Nothing plain there: perhaps an HTTPS port typed without its scheme.
        if (tlsFirst) return unreachable();
        Attempt a = tryHttps(request, transport, hostPort);
        return a.result ? *a.result : unreachable();
    }
    const Config c = configOf(plain);
    if (known(c.bridgeId).answeredSecurely) {
        LinkResult r;
        r.outcome = LinkOutcome::plainAfterSecure;
        r.bridgeId = c.bridgeId;
        return r;
    }
    if (c.model == "BSB001") return plainLink(plainAt, c);
    if (!tlsFirst) {
        Attempt a = tryHttps(request, transport, authority.host);
        if (a.result) return *a.result;
        tlsRefusedConnection = a.refusedConnection;
    }
    // Only a bridge with nothing listening on its HTTPS port stays on plain HTTP.
    return tlsRefusedConnection ? plainLink(plainAt, c) : unreachable();
}

}  // namespace lumora
