#pragma once
// Which bridge, as whom, and how a request reaches it. Every request of the
// program to its bridge is built from an endpoint and sent through a
// transport, so the address, the identity and the client are each in one
// place.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/http.h"

namespace lumora {

// Sends one request and blocks for the reply; `httpSend` unless a program or
// test gives another.
using HttpTransport = std::function<HttpResponse(const HttpRequest&)>;

struct BridgeEndpoint {
    BridgeEndpoint() = default;
    BridgeEndpoint(std::string hostPortIn, std::string userIn = {})
        : hostPort(std::move(hostPortIn)), user(std::move(userIn)) {}

    std::string hostPort;  // the bare HOST[:PORT]
    std::string user;      // the user name the bridge issued; empty before pairing
    // Over HTTPS, proven by the certificate: the bridge id it must name
    // (small letters) and the roots it must come from, or the fingerprint of
    // the one certificate the user chose to trust.
    bool secure = false;
    std::string bridgeId;
    std::string pin;
    std::shared_ptr<const TrustAnchors> anchors;

    // "http://HOST[:PORT]" or "https://HOST[:PORT]".
    std::string base() const { return (secure ? "https://" : "http://") + hostPort; }
    // base() + "/api/USER" followed by `path` ("/lights").
    std::string url(std::string_view path) const {
        return base() + "/api/" + user + std::string(path);
    }
    // Who the peer must prove to be; none over plain HTTP.
    std::optional<TlsIdentity> identity() const;
    // A request to `url` that checks the peer as this endpoint says.
    HttpRequest request(std::string method, std::string url) const;
    bool operator==(const BridgeEndpoint&) const = default;
};

// Enough of a user name to tell two apart in a log, never the whole secret.
std::string userNameHint(std::string_view user);

// `text` (a URL, a log line) with the user name in each bridge path
// "/api/USER" shown as its hint.
std::string withUserNameMasked(std::string text, std::string_view user);

}  // namespace lumora
