#pragma once
// Certificates made in memory for the tests and the demo: a root of our own
// and leaves made like a bridge's (common name and serial number = the bridge
// id, no subjectAltName, for server authentication), plus the faulty kinds a
// client must refuse. Keys live only as long as the process; none is stored.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumora::sim {

struct Certificate {
    std::string certificatePem;
    std::string privateKeyPem;
};

struct CertificateOptions {
    std::string commonName;
    std::string serialHex;  // empty: a random one
    // Valid from and until, counted from now.
    std::chrono::seconds validFrom = -std::chrono::hours(1);
    std::chrono::seconds validUntil = std::chrono::hours(24 * 365);
    bool ca = false;         // may sign others (basic constraints CA:TRUE)
    bool serverAuth = true;  // extended key usage: serverAuth, else clientAuth only
};

// Self-signed when `issuer` is null.
Certificate makeCertificate(const CertificateOptions& options, const Certificate* issuer = nullptr);

// A root that may sign bridge certificates.
Certificate makeRootCertificate(std::string_view commonName = "Lumora test root");

// A leaf as a bridge has it, signed by `issuer`.
Certificate makeBridgeCertificate(const Certificate& issuer, std::string_view bridgeId);

// What a server presents for the bridge: a leaf as a bridge has it, or one of
// the kinds a careful client refuses.
enum class CertificateKind {
    bridge,        // CN and serial = the bridge id, signed by the given root
    otherRoot,     // the same leaf, signed by a root the client does not trust
    selfSigned,    // CN and serial = the bridge id, signed by its own key
    otherBridge,   // signed by the given root, for another bridge's id
    expired,       // signed by the given root, its validity ended a day ago
    signedByLeaf,  // CN and serial = the bridge id, signed by a leaf of the root
};

// "bridge", "other-root", "self-signed", "other-bridge", "expired", "signed-by-leaf".
const char* toString(CertificateKind kind);
std::optional<CertificateKind> certificateKindFromString(std::string_view name);

struct ServedCertificate {
    Certificate leaf;
    std::string chainPem;  // sent after the leaf: the signing leaf for signedByLeaf, else empty
};

ServedCertificate makeServedCertificate(const Certificate& root, std::string_view bridgeId,
                                        CertificateKind kind);

// The SHA-256 fingerprint of a PEM certificate, "AB:CD:…".
std::string fingerprintOf(std::string_view certificatePem);

}  // namespace lumora::sim
