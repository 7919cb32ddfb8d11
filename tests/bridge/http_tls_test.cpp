#include <gtest/gtest.h>

#include "bridge/http.h"
#include "simulator/bridge_certificate.h"
#include "test_peer.h"

using namespace lumora;
using lumora::test::TestPeer;
using namespace std::chrono_literals;

namespace {

constexpr const char* kBridgeId = "0A1B2CFFFE3D4E5F";
constexpr const char* kBody = R"({"name":"Bridge"})";
const std::string kReply = test::reply(200, kBody);

// One root and its bridge certificate for the whole run: keys take a moment.
struct Pki {
    sim::Certificate root = sim::makeRootCertificate();
    sim::Certificate bridge = sim::makeBridgeCertificate(root, kBridgeId);
    std::shared_ptr<const TrustAnchors> anchors = TrustAnchors::fromPem(root.certificatePem);
};
const Pki& pki() {
    static const Pki p;
    return p;
}

HttpRequest toBridge(const TestPeer& peer, TlsIdentity identity) {
    HttpRequest r;
    r.url = peer.url("/api/secret-user/lights");
    r.timeout = 3s;
    r.tls = std::move(identity);
    return r;
}

sim::Certificate signedBy(const sim::Certificate& issuer, sim::CertificateOptions o) {
    return sim::makeCertificate(o, &issuer);
}

sim::CertificateOptions bridgeLeaf(std::string id = kBridgeId) {
    sim::CertificateOptions o;
    o.commonName = id;
    o.serialHex = id;
    return o;
}

}  // namespace

TEST(HttpTls, BridgeCertificatesAreCheckedBeforeAnyRequestIsSent) {
    const Pki& p = pki();
    const sim::Certificate otherRoot = sim::makeRootCertificate("Another root");
    sim::CertificateOptions leafAsCa = bridgeLeaf("1111222233334444");
    const sim::Certificate notCa = signedBy(p.root, leafAsCa);
    sim::CertificateOptions expired = bridgeLeaf();
    expired.validFrom = -std::chrono::hours(24 * 400);
    expired.validUntil = -std::chrono::hours(24 * 2);
    sim::CertificateOptions early = bridgeLeaf();
    early.validFrom = std::chrono::hours(24 * 3);
    sim::CertificateOptions client = bridgeLeaf();
    client.serverAuth = false;

    const struct {
        const char* name;
        TestPeer::Tls tls;
        TlsFailure reason;
        const char* says;
    } cases[] = {
        {"another root",
         {sim::makeBridgeCertificate(otherRoot, kBridgeId), {}},
         TlsFailure::untrustedIssuer,
         "not from the bridge's maker"},
        {"self-signed",
         {sim::makeCertificate(bridgeLeaf()), {}},
         TlsFailure::untrustedIssuer,
         "not from the bridge's maker"},
        {"signed by a leaf",
         {sim::makeBridgeCertificate(notCa, kBridgeId), notCa.certificatePem},
         TlsFailure::untrustedIssuer,
         "not from the bridge's maker"},
        {"another bridge",
         {sim::makeBridgeCertificate(p.root, "FFFF0000FFFF0000"), {}},
         TlsFailure::wrongBridge,
         "a different bridge: expected id 0A1B2CFFFE3D4E5F, got FFFF0000FFFF0000"},
        {"expired", {signedBy(p.root, expired), {}}, TlsFailure::expired, "expired on 20"},
        {"not yet valid",
         {signedBy(p.root, early), {}},
         TlsFailure::notYetValid,
         "not valid before 20"},
        {"for clients only",
         {signedBy(p.root, client), {}},
         TlsFailure::notForServer,
         "not for a server"},
    };
    for (const auto& c : cases) {
        TestPeer peer(TestPeer::serveAll(kReply), c.tls);
        const HttpResponse res =
            httpSend(toBridge(peer, TlsIdentity::bridge(kBridgeId, p.anchors)));
        EXPECT_EQ(res.error, HttpError::tlsFailed) << c.name;
        EXPECT_EQ(res.tls.reason, c.reason) << c.name;
        EXPECT_NE(describe(res.tls).find(c.says), std::string::npos)
            << c.name << ": " << describe(res.tls);
        // Offered to the user to trust, so it must be the leaf's own.
        EXPECT_EQ(res.tls.fingerprint, sim::fingerprintOf(c.tls.leaf.certificatePem)) << c.name;
        EXPECT_FALSE(res.body) << c.name;
        // The user name never travels to a peer that failed.
        EXPECT_EQ(peer.received(), "") << c.name;
    }
}

TEST(HttpTls, TheRightBridgeIsAcceptedWhateverTheCaseOfItsId) {
    const Pki& p = pki();
    for (const char* presented : {"0A1B2CFFFE3D4E5F", "0a1b2cfffe3d4e5f"}) {
        TestPeer peer(TestPeer::serveAll(kReply),
                      TestPeer::Tls{sim::makeBridgeCertificate(p.root, presented), {}});
        const HttpResponse res =
            httpSend(toBridge(peer, TlsIdentity::bridge("0a1b2cFFFE3D4E5F", p.anchors)));
        EXPECT_EQ(res.error, HttpError::none) << presented << ": " << describe(res.tls);
        EXPECT_EQ(res.body, kBody);
        EXPECT_NE(peer.received().find("GET /api/secret-user/lights HTTP/1.1\r\n"),
                  std::string::npos);
    }
}

TEST(HttpTls, OnlyTheCompiledRootsAndTheSystemsAreTrustedByDefault) {
    const Pki& p = pki();
    ASSERT_TRUE(TrustAnchors::bridgeRoots());
    TestPeer peer(TestPeer::serveAll(kReply), TestPeer::Tls{p.bridge, {}});
    // Our test root is in neither: the bridge's own roots, nor the system's
    // (the web mode, checked against the address as any client would).
    for (const TlsIdentity& id : {TlsIdentity::bridge(kBridgeId), TlsIdentity::web()}) {
        const HttpResponse res = httpSend(toBridge(peer, id));
        EXPECT_EQ(res.error, HttpError::tlsFailed);
        EXPECT_EQ(res.tls.reason, TlsFailure::untrustedIssuer);
    }
    EXPECT_EQ(peer.received(), "");
    EXPECT_FALSE(TrustAnchors::fromPem("not a certificate"));
}

TEST(HttpTls, APinnedCertificateIsTheOnlyOneAccepted) {
    // A software bridge: self-signed, trusted by the fingerprint the user accepted.
    const sim::Certificate first = sim::makeCertificate(bridgeLeaf());
    const std::string pin = sim::fingerprintOf(first.certificatePem);
    std::string lowerNoColons;
    for (char c : pin)
        if (c != ':') lowerNoColons.push_back(static_cast<char>(std::tolower(c)));
    {
        TestPeer peer(TestPeer::serveAll(kReply), TestPeer::Tls{first, {}});
        EXPECT_EQ(httpSend(toBridge(peer, TlsIdentity::pinned(lowerNoColons))).error,
                  HttpError::none);
    }
    // Same name, new key: refused, with the new fingerprint to offer.
    const sim::Certificate changed = sim::makeCertificate(bridgeLeaf());
    TestPeer peer(TestPeer::serveAll(kReply), TestPeer::Tls{changed, {}});
    const HttpResponse res = httpSend(toBridge(peer, TlsIdentity::pinned(pin)));
    EXPECT_EQ(res.tls.reason, TlsFailure::fingerprintMismatch);
    EXPECT_EQ(res.tls.fingerprint, sim::fingerprintOf(changed.certificatePem));
    EXPECT_EQ(peer.received(), "");
}

TEST(HttpTls, ASessionShakesHandsOnceForManyRequests) {
    const Pki& p = pki();
    TestPeer peer(TestPeer::serveAll(kReply), TestPeer::Tls{p.bridge, {}});
    HttpSession session;
    const TlsIdentity id = TlsIdentity::bridge(kBridgeId, p.anchors);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(session.send(toBridge(peer, id)).body, kBody) << i;
    EXPECT_EQ(session.handshakes(), 1u);
    EXPECT_EQ(session.connections(), 1u);
    EXPECT_EQ(peer.accepted(), 1);

    // Another identity never borrows a connection checked for this one.
    const HttpResponse other =
        session.send(toBridge(peer, TlsIdentity::bridge("FFFF0000FFFF0000", p.anchors)));
    EXPECT_EQ(other.tls.reason, TlsFailure::wrongBridge);
    EXPECT_EQ(peer.accepted(), 2);
}
