// The generations of bridge and HTTPS: which ports answer what, the redirect
// of a BSB003, the certificates presented, handshakes over kept-alive
// connections, idle closes, and clients that stall in the handshake.

#include <openssl/bn.h>
#include <openssl/x509v3.h>

#include <vector>

#include "client.h"
#include "sim_test_support.h"
#include "simulator/bridge_certificate.h"
#include "simulator/http_transport.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSmallId = "001788FFFE0A0B0C";

std::string commonName(X509* cert) {
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, name, sizeof name);
    return name;
}

// The serial number in 16 hex digits, as a bridge id is written.
std::string serialHex(X509* cert) {
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get_serialNumber(cert), nullptr);
    char* hex = BN_bn2hex(serial);
    std::string out = hex;
    if (out.size() < 16) out.insert(0, 16 - out.size(), '0');
    OPENSSL_free(hex);
    BN_free(serial);
    return out;
}

Json configOver(const RawReply& reply) {
    return reply.status == 200 ? Json::parse(reply.body) : Json();
}

TEST(Generations, EachServesItsPortsAndSaysWhatItIs) {
    struct Case {
        Generation model;
        bool plainApi;
        bool https;
        const char* apiVersion;
    };
    for (const Case& c : {Case{Generation::BSB001, true, false, "1.16.0"},
                          Case{Generation::BSB002, true, true, "1.62.0"},
                          Case{Generation::BSB003, false, true, "1.73.0"}}) {
        SCOPED_TRACE(toString(c.model));
        auto server = startServer(c.model);
        EXPECT_EQ(server->httpsPort() != 0, c.https);
        EXPECT_EQ(server->certificatePem().empty(), !c.https);

        const std::string root = server->trustAnchorPem();
        Json config = c.plainApi
                          ? configOver(rawRequest(server->port(), "GET", "/api/config"))
                          : configOver(tlsRequest(server->httpsPort(), root, "GET", "/api/config"));
        ASSERT_TRUE(config.is_object());
        EXPECT_EQ(config["bridgeid"], kSmallId);
        EXPECT_EQ(config["modelid"], toString(c.model));
        EXPECT_EQ(config["apiversion"], c.apiVersion);
        for (const char* key : {"swversion", "name", "mac"}) {
            EXPECT_TRUE(config[key].is_string()) << key;
        }
        if (c.https) {
            // Both ports that serve the API give the same answers.
            Json full = configOver(tlsRequest(server->httpsPort(), root, "GET",
                                              std::string("/api/") + kDemoUser + "/config"));
            EXPECT_EQ(full["modelid"], toString(c.model));
            EXPECT_EQ(full["bridgeid"], kSmallId);
            EXPECT_TRUE(full.contains("whitelist"));
        }
        if (c.plainApi && c.https) {
            EXPECT_EQ(configOver(tlsRequest(server->httpsPort(), root, "GET", "/api/config")),
                      config);
        }

        // Discovery, at either path, names the id in lower case and the port
        // that serves the API.
        for (const char* path : {"/discovery", "/"}) {
            const auto discovery = server->handle("GET", path);
            EXPECT_EQ(discovery.contentType, "application/json");
            const int port = c.plainApi ? server->port() : server->httpsPort();
            EXPECT_EQ(Json::parse(discovery.body),
                      Json::array({Json{{"id", "001788fffe0a0b0c"},
                                        {"internalipaddress", "127.0.0.1"},
                                        {"port", port}}}));
        }
        Json stats = Json::parse(server->handle("GET", "/sim/stats").body);
        EXPECT_EQ(stats["https"].is_null(), !c.https);
    }
}

TEST(Generations, ABsb003RedirectsEveryPlainRequestAndProcessesNone) {
    auto server = startServer(Generation::BSB003);
    server->pressLinkButton();
    const std::string https = std::to_string(server->httpsPort());
    const std::size_t users = server->state()["config"]["whitelist"].size();

    struct Case {
        std::string request;
        std::string location;
    };
    const std::string pair = R"({"devicetype":"app#plain"})";
    const std::vector<Case> cases = {
        {"GET /api/u/lights?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
         "https://127.0.0.1:" + https + "/api/u/lights?x=1"},
        {"POST /api HTTP/1.1\r\nHost: bridge.local:80\r\nContent-Length: " +
             std::to_string(pair.size()) + "\r\n\r\n" + pair,
         "https://bridge.local:" + https + "/api"},
        {"PUT /sim/linkbutton HTTP/1.1\r\nHost: [::1]:80\r\nContent-Length: 0\r\n\r\n",
         "https://[::1]:" + https + "/sim/linkbutton"},
        // A host that is no name is not sent back.
        {"GET /x HTTP/1.1\r\nHost: evil.example/a?\r\n\r\n", "https://127.0.0.1:" + https + "/x"},
    };
    for (const Case& c : cases) {
        Client client(plain, server->port());
        ASSERT_TRUE(client.send(c.request));
        RawReply reply = client.read();
        EXPECT_EQ(reply.status, 301) << c.request;
        EXPECT_EQ(reply.headers["location"], c.location) << c.request;
    }
    EXPECT_EQ(server->state()["config"]["whitelist"].size(), users);
    const auto log = server->requestLog();
    ASSERT_EQ(log.size(), cases.size());
    EXPECT_EQ(log[1].method, "POST");
    EXPECT_EQ(log[1].scheme, "http");

    // The same pairing over HTTPS works, and is logged as such.
    RawReply paired =
        tlsRequest(server->httpsPort(), server->trustAnchorPem(), "POST", "/api", pair);
    EXPECT_TRUE(Json::parse(paired.body)[0].contains("success")) << paired.body;
    EXPECT_EQ(server->requestLog().back().scheme, "https");
}

TEST(Certificates, TheMadeOneIsLikeABridgesAndChainsToTheExposedRoot) {
    auto server = startServer(Generation::BSB002);
    for (int version : {0, TLS1_2_VERSION}) {
        Client client(server->httpsPort(), server->trustAnchorPem(), version);
        ASSERT_TRUE(client.handshaken());
        EXPECT_EQ(client.version(), version ? "TLSv1.2" : "TLSv1.3");
        EXPECT_EQ(client.verifyResult(), X509_V_OK);
        X509* leaf = client.leaf();
        EXPECT_EQ(commonName(leaf), kSmallId);
        EXPECT_EQ(serialHex(leaf), kSmallId);
        EXPECT_EQ(X509_get_ext_d2i(leaf, NID_subject_alt_name, nullptr, nullptr), nullptr);
        EXPECT_EQ(sk_X509_num(client.chain()), 1);
        // Only the bridge id, in any case, names it; never the address.
        EXPECT_TRUE(client.hostMatches("001788fffe0a0b0c"));
        EXPECT_NE(X509_check_ip_asc(leaf, "127.0.0.1", 0), 1);
        EXPECT_EQ(fingerprintOf(pemOf(leaf)), server->certificateFingerprint());
        ASSERT_TRUE(client.send(requestBytes("GET", "/api/config")));
        EXPECT_EQ(client.read().status, 200);
    }
    // Another bridge's fixture: the certificate follows its id.
    ASSERT_TRUE(server->loadFixture("demo"));
    Client client(server->httpsPort(), server->trustAnchorPem());
    EXPECT_EQ(client.verifyResult(), X509_V_OK);
    EXPECT_EQ(commonName(client.leaf()), "001788FFFE4A7C21");
    EXPECT_EQ(server->bridgeId(), "001788FFFE4A7C21");
}

TEST(Certificates, FaultyKindsPresentWhatTheySayAndSwapWhileRunning) {
    auto server = startServer(Generation::BSB002);
    const std::string root = server->trustAnchorPem();
    Client before(server->httpsPort(), root);
    ASSERT_EQ(before.verifyResult(), X509_V_OK);

    struct Case {
        const char* kind;
        long verify;
        bool namesTheBridge;
        int chainLength;
    };
    std::string lastFingerprint = server->certificateFingerprint();
    for (const Case& c : {Case{"other-root", X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, true, 1},
                          Case{"self-signed", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, 1},
                          Case{"other-bridge", X509_V_OK, false, 1},
                          Case{"expired", X509_V_ERR_CERT_HAS_EXPIRED, true, 1},
                          Case{"signed-by-leaf", X509_V_ERR_INVALID_CA, true, 2},
                          Case{"bridge", X509_V_OK, true, 1}}) {
        SCOPED_TRACE(c.kind);
        RawReply swapped =
            rawRequest(server->port(), "POST", "/sim/certificate", Json{{"kind", c.kind}}.dump());
        ASSERT_EQ(swapped.status, 200) << swapped.body;
        const Json answer = Json::parse(swapped.body);
        EXPECT_EQ(answer["kind"], c.kind);
        EXPECT_EQ(answer["root"], root);
        EXPECT_EQ(answer["fingerprint"], server->certificateFingerprint());
        EXPECT_NE(answer["fingerprint"], lastFingerprint);
        lastFingerprint = answer["fingerprint"];

        Client client(server->httpsPort(), root);
        ASSERT_TRUE(client.handshaken());
        EXPECT_EQ(client.verifyResult(), c.verify)
            << X509_verify_cert_error_string(client.verifyResult());
        EXPECT_EQ(client.hostMatches(kSmallId), c.namesTheBridge);
        EXPECT_EQ(serialHex(client.leaf()) == kSmallId, c.namesTheBridge);
        EXPECT_EQ(sk_X509_num(client.chain()), c.chainLength);
        EXPECT_EQ(fingerprintOf(pemOf(client.leaf())), lastFingerprint);
    }
    EXPECT_EQ(rawRequest(server->port(), "POST", "/sim/certificate", R"({"kind":"odd"})").status,
              400);
    // A connection made before the swaps goes on with the certificate it began with.
    ASSERT_TRUE(before.send(requestBytes("GET", "/api/config")));
    EXPECT_EQ(before.read().status, 200);
}

TEST(Certificates, AGivenCertificateIsPresentedAndABadOneRefused) {
    const Certificate root = makeRootCertificate("Given root");
    const Certificate leaf = makeBridgeCertificate(root, kSmallId);
    SimServer server(ServerOptions{.certificatePem = leaf.certificatePem,
                                   .privateKeyPem = leaf.privateKeyPem,
                                   .fixture = LUMORA_SMALL_FIXTURE});
    ASSERT_TRUE(server.start());
    Client client(server.httpsPort(), root.certificatePem);
    EXPECT_EQ(client.verifyResult(), X509_V_OK);
    EXPECT_EQ(server.certificateFingerprint(), fingerprintOf(leaf.certificatePem));

    // A key that is not the certificate's changes nothing.
    const Certificate other = makeBridgeCertificate(root, kSmallId);
    std::string error;
    EXPECT_FALSE(server.presentCertificate(leaf.certificatePem, other.privateKeyPem, {}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(server.certificateFingerprint(), fingerprintOf(leaf.certificatePem));
    Client after(server.httpsPort(), root.certificatePem);
    EXPECT_EQ(after.verifyResult(), X509_V_OK);
}

TEST(Connections, KeptAliveConnectionsHandshakeOnceAndReconnectAfterAnIdleClose) {
    auto server = startServer(Generation::BSB003);
    const std::string root = server->trustAnchorPem();
    const std::string lights = std::string("/api/") + kDemoUser + "/lights";
    Client first(server->httpsPort(), root);
    for (int tick = 0; tick < 20; ++tick) {
        ASSERT_TRUE(first.send(requestBytes("GET", lights)));
        ASSERT_EQ(first.read().status, 200) << "tick " << tick;
    }
    ConnectionStats stats = server->connectionStats();
    EXPECT_EQ(stats.https.connections, 1u);
    EXPECT_EQ(stats.https.handshakes, 1u);
    EXPECT_EQ(stats.https.open, 1u);
    EXPECT_EQ(stats.http.connections, 0u);

    // Closed while idle: the client sees the end and its next connection is
    // a new handshake. The connection asking to close stays.
    ASSERT_TRUE(first.send(requestBytes("DELETE", "/sim/connections")));
    EXPECT_EQ(first.read().status, 200);
    Client idle(server->httpsPort(), root);
    ASSERT_TRUE(idle.handshaken());
    RawReply closed = rawRequest(server->port(), "GET", "/");  // a plain idle one is not there
    EXPECT_EQ(closed.status, 301);
    // A worker may still be putting a connection back to wait.
    std::size_t closedNow = 0;
    for (auto until = Clock::now() + 2s; closedNow < 2 && Clock::now() < until;) {
        closedNow += server->closeIdleConnections();
    }
    EXPECT_EQ(closedNow, 2u);
    EXPECT_TRUE(first.closedByServer(2s));
    EXPECT_TRUE(idle.closedByServer(2s));
    EXPECT_EQ(server->connectionStats().https.open, 0u);

    Client second(server->httpsPort(), root);
    ASSERT_TRUE(second.send(requestBytes("GET", "/sim/stats")));
    const Json json = Json::parse(second.read().body);
    EXPECT_EQ(json["https"]["handshakes"], 3);
    EXPECT_EQ(json["https"]["connections"], 3);
    EXPECT_EQ(json["https"]["port"], server->httpsPort());
    EXPECT_EQ(json["http"]["connections"], 1);
}

// More than the socket buffers hold, so that writing it waits for the reader.
std::string bigBody() {
    std::string body(16 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < body.size(); i += 997) body[i] = static_cast<char>('a' + i % 26);
    return body;
}

class TlsTransportTest : public TransportTest {
  protected:
    void start(const TransportLimits& limits) {
        root_ = makeRootCertificate();
        const ServedCertificate served =
            makeServedCertificate(root_, kSmallId, CertificateKind::bridge);
        const TlsIdentity identity{served.leaf.certificatePem, served.chainPem,
                                   served.leaf.privateKeyPem};
        TransportTest::start(
            limits,
            [](SimHttpServer& http) {
                http.Get("/big", [](const httplib::Request&, httplib::Response& response) {
                    response.set_content(bigBody(), "text/plain");
                });
            },
            &identity);
    }
    Certificate root_;
};

TEST_F(TlsTransportTest, ClientsStalledInTheHandshakeHoldNoWorkerAndLoseTheirSlot) {
    TransportLimits limits;
    limits.maxWorkers = 1;
    limits.requestTimeout = 300ms;
    start(limits);
    // Silent ones, and ones that announce a ClientHello and send one byte of it.
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 40; ++i) {
        stalled.push_back(std::make_unique<Client>(plain, port_));
        ASSERT_TRUE(stalled.back()->handshaken());
        if (i % 2) {
            ASSERT_TRUE(stalled.back()->send(std::string("\x16\x03\x01\x02\x00\x01", 6)));
        }
    }
    const auto begin = Clock::now();
    for (int i = 0; i < 5; ++i) {
        RawReply reply = tlsRequest(port_, root_.certificatePem, "GET", "/");
        EXPECT_EQ(reply.body, "ok") << "request " << i;
    }
    EXPECT_LT(Clock::now() - begin, 1s);

    for (auto& client : stalled) EXPECT_TRUE(client->closedByServer(3s));
    EXPECT_LT(Clock::now() - begin, 3s);
    const TransportStats stats = http_->stats();
    EXPECT_EQ(stats.handshakes, 5u);
    EXPECT_EQ(stats.failedHandshakes, 40u);
    EXPECT_EQ(stats.accepted, 45u);
}

TEST_F(TlsTransportTest, LargeRepliesPipelinedRequestsAndBoundsCrossTls) {
    start(TransportLimits{});
    Client client(port_, root_.certificatePem);
    ASSERT_TRUE(client.send(requestBytes("GET", "/") + requestBytes("GET", "/big") +
                            requestBytes("GET", "/")));
    EXPECT_EQ(client.read().body, "ok");
    const RawReply big = client.read();
    EXPECT_TRUE(big.body == bigBody()) << big.body.size() << " bytes";
    EXPECT_EQ(client.read().body, "ok");

    // The bounds hold inside TLS: a head past them is refused and closed.
    Client oversized(port_, root_.certificatePem);
    ASSERT_TRUE(oversized.send("GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(70000, 'a') +
                               "\r\n\r\n"));
    EXPECT_EQ(oversized.read().status, 431);
    EXPECT_TRUE(oversized.closedByServer(2s));
}

}  // namespace
}  // namespace lumora::sim::test
