// How the link to a bridge is decided, against a scripted peer: what is sent
// where, under which identity, and when plain HTTP is (and is not) used.
#include "bridge/bridge_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "made_up_replies.h"

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr const char* kId = "001788fffe0000ab";
constexpr const char* kCertName = "001788FFFE0000AB";

HttpResponse refusedFor(TlsFailure reason, std::string got = {}) {
    HttpResponse r = failed(HttpError::tlsFailed);
    r.tls.reason = reason;
    r.tls.got = std::move(got);
    r.tls.fingerprint = "AA:BB";
    return r;
}
std::string config(const std::string& model, const std::string& id = kCertName) {
    return R"({"modelid":")" + model + R"(","bridgeid":")" + id + R"("})";
}

// Answers each request by its URL and keeps what was asked.
struct Peer {
    std::function<HttpResponse(const HttpRequest&)> answer;
    std::vector<HttpRequest> asked;
    HttpTransport transport() {
        return [this](const HttpRequest& r) {
            asked.push_back(r);
            return answer(r);
        };
    }
};

LinkResult link(Peer& peer, const std::string& typed) {
    LinkRequest request;
    request.address = parseBridgeAddress(typed);
    return linkToBridge(request, peer.transport());
}

}  // namespace

TEST(BridgeLink, TheIdIsLearnedFromAProvenChainAndMustMatchWhatTheBridgeReports) {
    for (const std::string& reported : {std::string(kCertName), std::string("001788fffe0000ff")}) {
        SCOPED_TRACE(reported);
        Peer peer;
        peer.answer = [&](const HttpRequest& r) {
            EXPECT_TRUE(r.url.starts_with("https://10.0.0.2/")) << r.url;
            // Demanding no id, a valid chain is refused only for its name.
            if (r.tls->bridgeId.empty()) return refusedFor(TlsFailure::wrongBridge, kCertName);
            EXPECT_EQ(r.tls->bridgeId, kId);
            return reply(200, config("BSB002", reported));
        };
        const LinkResult got = link(peer, "10.0.0.2");
        ASSERT_EQ(peer.asked.size(), 2u);
        EXPECT_EQ(peer.asked[0].url, "https://10.0.0.2/api/config");
        if (reported == kCertName) {
            ASSERT_EQ(got.outcome, LinkOutcome::linked);
            EXPECT_TRUE(got.endpoint.secure);
            EXPECT_EQ(got.endpoint.bridgeId, kId);
            EXPECT_EQ(got.endpoint.url("/lights"), "https://10.0.0.2/api//lights");
        } else {
            ASSERT_EQ(got.outcome, LinkOutcome::certificateRefused);
            EXPECT_EQ(got.refusal.reason, TlsFailure::wrongBridge);
        }
    }
}

TEST(BridgeLink, AnIdDiscoveryNamedIsDemandedFromTheFirstConnection) {
    // The peer presents a valid chain for kCertName; discovery named `named`.
    for (const std::string named : {std::string(kId), std::string("001788fffe0000ff")}) {
        SCOPED_TRACE(named);
        Peer peer;
        peer.answer = [&](const HttpRequest& r) {
            if (r.tls->bridgeId != kId) return refusedFor(TlsFailure::wrongBridge, kCertName);
            return reply(200, config("BSB002"));
        };
        LinkRequest request;
        request.address = parseBridgeAddress("10.0.0.2");
        request.discoveredId = named;
        const LinkResult got = linkToBridge(request, peer.transport());
        ASSERT_EQ(peer.asked.size(), 1u) << "one connection, under the discovered id";
        EXPECT_EQ(peer.asked[0].tls->bridgeId, named);
        if (named == kId) {
            ASSERT_EQ(got.outcome, LinkOutcome::linked);
            EXPECT_EQ(got.endpoint.bridgeId, kId);
        } else {
            // Another bridge than discovery found is not taken for it.
            ASSERT_EQ(got.outcome, LinkOutcome::certificateRefused);
            EXPECT_EQ(got.refusal.reason, TlsFailure::wrongBridge);
            EXPECT_EQ(got.refusal.got, kCertName);
        }
    }
}

TEST(BridgeLink, PlainHttpOnlyWhereNothingListensForTlsOrTheBridgeIsAFirstGeneration) {
    const struct {
        const char* name;
        HttpResponse tls;
        std::string model;
        bool plain;
    } cases[] = {
        {"refused, BSB002", failed(HttpError::connectionFailed), "BSB002", true},
        {"timed out, BSB002", failed(HttpError::timedOut), "BSB002", false},
        {"timed out, BSB001", failed(HttpError::timedOut), "BSB001", true},
        {"no TLS spoken, BSB002", refusedFor(TlsFailure::handshakeFailed), "BSB002", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer;
        peer.answer = [&](const HttpRequest& r) {
            return r.tls ? c.tls : reply(200, config(c.model));
        };
        const LinkResult got = link(peer, "10.0.0.2");
        EXPECT_EQ(got.outcome, c.plain ? LinkOutcome::linked : LinkOutcome::unreachable);
        EXPECT_FALSE(got.endpoint.secure);
        for (const auto& r : peer.asked) EXPECT_TRUE(r.url.ends_with("/api/config")) << r.url;
    }
}

TEST(BridgeLink, ARedirectIsReadNeverFollowedAndNamesOnlyAPortOfTheSameHost) {
    for (const std::string& location :
         {std::string("https://10.0.0.2:8443/api/config"), std::string("https://10.9.9.9/api"),
          std::string("http://10.0.0.2/api/config")}) {
        SCOPED_TRACE(location);
        Peer peer;
        peer.answer = [&](const HttpRequest& r) {
            if (!r.tls) return reply(301, "", {{"Location", location}});
            if (r.tls->mode == TlsIdentity::Mode::bridge && r.tls->bridgeId.empty())
                return refusedFor(TlsFailure::wrongBridge, kCertName);
            return reply(200, config("BSB003"));
        };
        const LinkResult got = link(peer, "10.0.0.2:80");
        ASSERT_FALSE(peer.asked.empty());
        EXPECT_EQ(peer.asked[0].url, "http://10.0.0.2:80/api/config");
        // Another host or plain HTTP is not taken from the redirect; the
        // host's own HTTPS port is still tried.
        const bool sameHostHttps = location.starts_with("https://10.0.0.2:");
        ASSERT_EQ(got.outcome, LinkOutcome::linked);
        // Nothing plain after the redirect, nothing to another host.
        for (std::size_t i = 1; i < peer.asked.size(); ++i) {
            EXPECT_TRUE(peer.asked[i].tls.has_value());
            EXPECT_TRUE(peer.asked[i].url.starts_with("https://10.0.0.2")) << peer.asked[i].url;
        }
        EXPECT_EQ(got.endpoint.hostPort, sameHostHttps ? "10.0.0.2:8443" : "10.0.0.2");
    }
}

TEST(BridgeLink, AKnownSecureBridgeIsAskedForOnlyUnderItsIdOrPin) {
    Peer peer;
    peer.answer = [&](const HttpRequest& r) {
        if (r.tls) return failed(HttpError::connectionFailed);
        return reply(200, config("BSB002"));
    };
    LinkRequest request;
    request.address = parseBridgeAddress("10.0.0.2");
    request.storedId = kId;
    request.known = [](const std::string& id) {
        return KnownBridge{id == kId, id == kId ? "AA:BB" : ""};
    };
    const LinkResult got = linkToBridge(request, peer.transport());
    EXPECT_EQ(got.outcome, LinkOutcome::plainAfterSecure);
    EXPECT_EQ(got.bridgeId, kId);
    ASSERT_FALSE(peer.asked.empty());
    EXPECT_EQ(peer.asked[0].tls->mode, TlsIdentity::Mode::pinned);
    for (const auto& r : peer.asked) EXPECT_EQ(r.url.find("/api/config"), r.url.size() - 11);
}
