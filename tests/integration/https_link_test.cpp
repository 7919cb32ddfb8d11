// The controller against the simulator's HTTPS: which bridges are talked to
// securely, which certificates are refused before the user name travels,
// no way back to plain HTTP, the pin of a software bridge, and one kept-alive
// connection for the refresh. Background work runs on the test thread when
// pumped; every exchange is real.
#include <gtest/gtest.h>

#include <thread>

#include "app/bridge_controller.h"
#include "base/letter_case.h"
#include "base/setting_keys.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;

namespace {

sim::ServerOptions options(sim::Generation model,
                           sim::CertificateKind kind = sim::CertificateKind::bridge) {
    sim::ServerOptions o;
    o.model = model;
    o.certificate = kind;
    o.linkButtonPressed = true;
    return o;
}

class HttpsLinkTest : public ::testing::Test {
  protected:
    void start(sim::ServerOptions o) {
        server_ = std::make_unique<sim::SimServer>(std::move(o));
        ASSERT_TRUE(server_->start());
        makeController();
    }
    // A controller as a program starts it: on the store so far, trusting the
    // simulator's root as the shipped program trusts the makers'.
    void makeController() {
        controller_.reset();
        Services services = servicesWith(exec_, store_);
        services.bridgeAnchors = TrustAnchors::fromPem(server_->trustAnchorPem());
        controller_ = std::make_unique<BridgeController>(std::move(services));
        s().setHueIP(store_->string(keys::bridgeIP).value_or(""));
        s().setHueKey(store_->string(keys::bridgeUser).value_or(""));
    }
    void TearDown() override {
        exec_->runPending();
        controller_.reset();
    }
    AppSettings& s() { return controller_->settings(); }
    void connect(const std::string& address, const std::string& user = sim::kDemoUser) {
        s().setHueIP(address);
        s().setHueKey(user);
        controller_->connectToBridge();
        exec_->runPending();
    }
    std::string id() const { return asciiLowerCased(server_->bridgeId()); }
    // Requests that carried the user name, in the path or the body.
    int withUserName() const {
        int n = 0;
        for (const auto& r : server_->requestLog())
            if (r.path.find(sim::kDemoUser) != std::string::npos ||
                r.body.find(sim::kDemoUser) != std::string::npos)
                ++n;
        return n;
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<sim::SimServer> server_;
    std::unique_ptr<BridgeController> controller_;
};

}  // namespace

TEST_F(HttpsLinkTest, ANewestBridgeIsPairedOverHttpsAfterItsRedirectAndKeptByItsId) {
    start(options(sim::Generation::BSB003));
    // As typed: the plain port, which answers every request with a redirect.
    connect(server_->address(), "");
    ASSERT_TRUE(s().bridgeConnected()) << s().log().back();
    EXPECT_EQ(s().hueIP(), server_->httpsAddress());
    EXPECT_EQ(s().bridgeLink(), (BridgeLink{BridgeLink::Kind::secure, id(), false}));
    EXPECT_EQ(store_->string(keys::bridgeIP), server_->httpsAddress());
    EXPECT_EQ(store_->string(keys::bridgeID), id());
    EXPECT_TRUE(store_->boolean(keys::bridgeSecure(id())));
    EXPECT_FALSE(store_->string(keys::bridgeUser).value_or("").empty());
    // Over plain HTTP only the one unauthenticated read that got the
    // redirect; nothing followed it, pairing went over HTTPS.
    int plain = 0;
    bool pairedSecurely = false;
    for (const auto& r : server_->requestLog()) {
        if (r.scheme == "http") {
            ++plain;
            EXPECT_EQ(r.method + " " + r.path, "GET /api/config");
        }
        pairedSecurely = pairedSecurely || (r.scheme == "https" && r.method == "POST");
    }
    EXPECT_EQ(plain, 1);
    EXPECT_TRUE(pairedSecurely);
}

TEST_F(HttpsLinkTest, AFirstGenerationBridgeStaysOnPlainHttp) {
    start(options(sim::Generation::BSB001));
    connect(server_->address(), "");
    ASSERT_TRUE(s().bridgeConnected()) << s().log().back();
    EXPECT_EQ(s().bridgeLink().kind, BridgeLink::Kind::plain);
    EXPECT_EQ(store_->string(keys::bridgeID), id());
    EXPECT_FALSE(store_->boolean(keys::bridgeSecure(id())));
    EXPECT_EQ(s().hueIP(), server_->address());
    for (const auto& r : server_->requestLog()) EXPECT_EQ(r.scheme, "http");
}

TEST_F(HttpsLinkTest, CertificatesThatDoNotProveTheBridgeAreRefusedBeforeTheUserName) {
    const struct {
        sim::CertificateKind kind;
        TlsFailure reason;
    } cases[] = {
        {sim::CertificateKind::otherRoot, TlsFailure::untrustedIssuer},
        {sim::CertificateKind::selfSigned, TlsFailure::untrustedIssuer},
        {sim::CertificateKind::otherBridge, TlsFailure::wrongBridge},
        {sim::CertificateKind::expired, TlsFailure::expired},
        {sim::CertificateKind::signedByLeaf, TlsFailure::untrustedIssuer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(sim::toString(c.kind));
        // First contact (no id known) and a bridge paired before (its id
        // stored): both refuse.
        for (bool known : {false, true}) {
            SCOPED_TRACE(known ? "known" : "first contact");
            store_ = std::make_shared<InMemoryDefaultsStore>();
            start(options(sim::Generation::BSB003, c.kind));
            if (known) {
                store_->setString(keys::bridgeIP, server_->httpsAddress());
                store_->setString(keys::bridgeID, id());
                store_->setBool(keys::bridgeSecure(id()), true);
                makeController();
            }
            connect(server_->httpsAddress());
            EXPECT_FALSE(s().bridgeConnected());
            const ConnectionError& e = s().connectionError();
            EXPECT_EQ(e.problem, ConnectionProblem::certificateRefused);
            EXPECT_EQ(e.certificate.reason, c.reason) << describe(e.certificate);
            EXPECT_EQ(e.address, server_->httpsAddress());
            if (c.reason == TlsFailure::wrongBridge) {
                EXPECT_NE(describe(e.certificate).find("expected id " + id()), std::string::npos)
                    << describe(e.certificate);
            }
            if (c.reason == TlsFailure::expired) {
                EXPECT_EQ(e.certificate.date.size(), 10u) << e.certificate.date;
            }
            // Only a certificate from no maker at all may be trusted by hand.
            EXPECT_EQ(e.offersTrust(), c.reason == TlsFailure::untrustedIssuer);
            EXPECT_EQ(withUserName(), 0);
            EXPECT_FALSE(store_->string(keys::bridgeID).has_value() && !known);
        }
    }
}

TEST_F(HttpsLinkTest, ABridgeThatAnsweredSecurelyIsNeverUsedOverPlainHttpAgain) {
    start(options(sim::Generation::BSB002));
    connect(server_->httpsAddress());
    ASSERT_TRUE(s().bridgeConnected()) << s().log().back();
    ASSERT_TRUE(store_->boolean(keys::bridgeSecure(id())));
    const int securePort = server_->httpsPort();

    // The same bridge id, now plain HTTP only: at the address it had, and
    // typed afresh at another.
    controller_.reset();
    server_.reset();
    for (int port : {securePort, 0}) {
        SCOPED_TRACE(port);
        auto plainOnly = options(sim::Generation::BSB001);
        plainOnly.port = port;
        server_ = std::make_unique<sim::SimServer>(plainOnly);
        ASSERT_TRUE(server_->start());
        makeController();
        connect("http://" + server_->address());
        EXPECT_FALSE(s().bridgeConnected());
        EXPECT_EQ(
            s().connectionError(),
            (ConnectionError{ConnectionProblem::plainAfterSecure, server_->address(), {}, id()}));
        EXPECT_EQ(withUserName(), 0);
        controller_.reset();
    }
}

TEST_F(HttpsLinkTest, ASoftwareBridgeIsTrustedByItsFingerprintAndOnlyWithIt) {
    start(options(sim::Generation::BSB002, sim::CertificateKind::selfSigned));
    connect(server_->httpsAddress());
    ASSERT_TRUE(s().connectionError().offersTrust());
    const std::string fingerprint = s().connectionError().certificate.fingerprint;
    EXPECT_EQ(fingerprint, server_->certificateFingerprint());
    EXPECT_FALSE(store_->contains(keys::bridgePin(id()))) << "nothing trusted on its own";

    controller_->trustCertificate(fingerprint);
    exec_->runPending();
    ASSERT_TRUE(s().bridgeConnected()) << s().log().back();
    EXPECT_EQ(s().bridgeLink(), (BridgeLink{BridgeLink::Kind::secure, id(), true}));
    EXPECT_EQ(store_->string(keys::bridgePin(id())), fingerprint);

    // The next start goes straight in with the pin.
    makeController();
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_TRUE(s().bridgeConnected());

    // A changed certificate is refused like any other, kept connections too.
    server_->clearLog();
    ASSERT_TRUE(server_->presentCertificate(sim::CertificateKind::selfSigned));
    server_->closeIdleConnections();
    controller_->connectToBridge();
    exec_->runPending();
    EXPECT_FALSE(s().bridgeConnected());
    EXPECT_EQ(s().connectionError().certificate.reason, TlsFailure::fingerprintMismatch);
    EXPECT_EQ(s().connectionError().certificate.fingerprint, server_->certificateFingerprint());
    EXPECT_EQ(withUserName(), 0);
    EXPECT_EQ(store_->string(keys::bridgePin(id())), fingerprint);
}

TEST_F(HttpsLinkTest, TheRefreshKeepsOneConnectionAndReconnectsAfterAnIdleClose) {
    start(options(sim::Generation::BSB003));
    // The reads every tick, as without the event stream.
    s().setLiveUpdates(false);
    connect(server_->httpsAddress());
    ASSERT_TRUE(s().bridgeConnected());
    const auto before = server_->connectionStats().https.handshakes;
    server_->clearLog();
    for (int tick = 0; tick < 40; ++tick) {
        exec_->advance(kRefreshPeriod);
        exec_->runPending();
    }
    ASSERT_TRUE(s().bridgeConnected());
    EXPECT_GE(server_->requestLog().size(), 80u) << "lights and groups on every tick";
    EXPECT_LE(server_->connectionStats().https.handshakes - before, 1u)
        << "40 ticks of reads and commands share the kept connection";
    EXPECT_GE(controller_->httpSession().handshakes(), 1u);

    // The bridge closes idle connections; the next tick makes a new one.
    // The bridge's side of the last exchange may still be winding down.
    std::size_t closed = 0;
    for (auto until = std::chrono::steady_clock::now() + 5s;
         closed == 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms))
        closed = server_->closeIdleConnections();
    ASSERT_GE(closed, 1u);
    const auto afterClose = server_->connectionStats().https.handshakes;
    server_->clearLog();
    exec_->advance(kRefreshPeriod);
    exec_->runPending();
    EXPECT_TRUE(s().bridgeConnected());
    EXPECT_EQ(server_->connectionStats().https.handshakes, afterClose + 1);
    EXPECT_GE(server_->requestLog().size(), 2u);
}
