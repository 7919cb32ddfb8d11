#pragma once
// Finding out how a bridge is talked to before anything secret is sent: over
// HTTPS, proven by its certificate, or over plain HTTP for a first-generation
// bridge that has no HTTPS at all. Blocks for a few requests: run it on a
// worker.

#include <functional>
#include <memory>
#include <string>

#include "bridge/bridge_address.h"
#include "bridge/bridge_endpoint.h"

namespace lumora {

// What the program remembers of a bridge id.
struct KnownBridge {
    bool answeredSecurely = false;  // never again over plain HTTP
    std::string pin;                // the certificate fingerprint the user trusted
};
using KnownBridges = std::function<KnownBridge(const std::string& bridgeId)>;

struct LinkRequest {
    BridgeAddress address;
    // The id stored beside the address: when it answered securely before,
    // only HTTPS under that id (or its pin) is tried.
    std::string storedId;
    // The id discovery named for this address: the certificate must carry it
    // from the first connection on.
    std::string discoveredId;
    // A fingerprint the user has just chosen to trust (lumora-ctl
    // --trust-fingerprint, the connection pane's offer); it stands for the
    // bridge's proof at the first HTTPS address tried.
    std::string offeredPin;
    std::shared_ptr<const TrustAnchors> anchors;  // the roots; none means the built-in ones
    KnownBridges known;                           // none knows nothing
};

enum class LinkOutcome {
    linked,              // `endpoint` says how (its user is empty)
    unreachable,         // nothing that answers like a bridge
    certificateRefused,  // `refusal` says why, `refusedAt` where
    plainAfterSecure,    // the bridge `bridgeId` answered securely before, now only over HTTP
};

struct LinkResult {
    LinkOutcome outcome = LinkOutcome::unreachable;
    BridgeEndpoint endpoint;
    std::string model;  // "BSB002", when the bridge said
    TlsRefusal refusal;
    std::string refusedAt;  // the HOST[:PORT] that presented the certificate
    std::string bridgeId;   // plainAfterSecure: the id it named
};

// The unauthenticated configuration read decides. HTTPS first where the
// address names no other port; a plain 301 or 308 to https on the same host
// means HTTPS at that port, never followed with a request; plain HTTP only
// for a bridge that refuses connections on the HTTPS port or says it is a
// BSB001. An id is learned only from a certificate whose chain the roots
// prove, and the bridge must then report the same id over a connection
// that demanded it.
LinkResult linkToBridge(const LinkRequest& request, const HttpTransport& transport);

// "c42996fffec4e2d8" from any case; empty unless 16 hex digits.
std::string normalizedBridgeId(std::string_view id);

}  // namespace lumora
