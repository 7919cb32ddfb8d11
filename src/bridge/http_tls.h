#pragma once
// Who an https peer must be. A bridge proves its id with a certificate from
// the roots that sign bridge certificates (its common name is the id; it has
// no subjectAltName, so it is never matched against the address); a software
// bridge with a self-signed certificate is trusted by the fingerprint the user
// accepted; the web discovery service is checked as any HTTPS client would.

#include <memory>
#include <string>
#include <string_view>

namespace lumora {

// Certificates a chain must end in, loaded once and shared by every
// connection that trusts them.
class TrustAnchors {
  public:
    // Null when the text holds no certificate or one that does not parse.
    static std::shared_ptr<const TrustAnchors> fromPem(std::string_view pem);
    // The two roots that sign bridge certificates, compiled into the program.
    static std::shared_ptr<const TrustAnchors> bridgeRoots();

    ~TrustAnchors();
    TrustAnchors(const TrustAnchors&) = delete;
    TrustAnchors& operator=(const TrustAnchors&) = delete;

    struct Impl;
    const Impl& impl() const { return *impl_; }

  private:
    explicit TrustAnchors(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

struct TlsIdentity {
    enum class Mode { web, bridge, pinned };

    Mode mode = Mode::web;
    std::string bridgeId;                         // bridge: the id the certificate must name
    std::string fingerprint;                      // pinned: SHA-256 of the certificate, hex
    std::shared_ptr<const TrustAnchors> anchors;  // bridge: the roots (default: bridgeRoots())

    static TlsIdentity web() { return {}; }
    static TlsIdentity bridge(std::string id, std::shared_ptr<const TrustAnchors> anchors = {});
    static TlsIdentity pinned(std::string sha256);

    // Equal for identities that accept exactly the same certificates, so
    // connections made under one can serve the other.
    std::string key() const;
};

enum class TlsFailure {
    none,
    untrustedIssuer,      // not from the bridge's maker (or no trusted chain at all)
    wrongBridge,          // a valid certificate for another bridge
    wrongHost,            // web: a certificate for another host name
    expired,              // `date` holds when
    notYetValid,          // `date` holds from when
    notForServer,         // its key usage does not allow serving
    fingerprintMismatch,  // pinned: not the certificate the user accepted
    handshakeFailed,      // no certificate to judge: the TLS exchange itself failed
};

struct TlsRefusal {
    TlsFailure reason = TlsFailure::none;
    std::string expected;     // wrongBridge, wrongHost: the id or name asked for
    std::string got;          // wrongBridge, wrongHost: what the certificate names
    std::string date;         // expired, notYetValid: YYYY-MM-DD, UTC
    std::string fingerprint;  // the presented certificate's SHA-256, "AB:CD:…"
    std::string detail;       // handshakeFailed: the library's words
};

// "presented a certificate that is not from the bridge's maker", "is a
// different bridge: expected id …, got …": the peer's name goes before it.
std::string describe(const TlsRefusal& refusal);

// SHA-256 fingerprints written as hex, with or without colons, in either
// case, compare equal; anything else is not a fingerprint.
std::string normalizedFingerprint(std::string_view text);

}  // namespace lumora
