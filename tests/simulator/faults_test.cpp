// Injected faults, seen from a raw client that shows every byte sent.

#include <thread>

#include "base/utf8.h"
#include "sim_test_support.h"
#include "support/demo_desktop.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

class FaultsTest : public SimServerTest {
  protected:
    RawReply lights() { return rawRequest(server_->port(), "GET", api("/lights")); }
    Json normalLights() { return server_->call("GET", api("/lights")); }
};

TEST_F(FaultsTest, DelayWaitsThenAnswersNormally) {
    server_->injectFault(Fault::delay, 1, 300ms);
    auto start = std::chrono::steady_clock::now();
    RawReply reply = lights();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(Json::parse(reply.body), normalLights());
}

TEST_F(FaultsTest, TruncatedSendsHalfOfWhatContentLengthPromises) {
    server_->injectFault(Fault::truncatedBody, 1);
    RawReply reply = lights();
    const std::string whole = normalLights().dump();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-length"], std::to_string(whole.size()));
    EXPECT_EQ(reply.body, whole.substr(0, whole.size() / 2));
}

TEST_F(FaultsTest, HttpErrorsComeWithAnHtmlPage) {
    for (auto [fault, status] : {std::pair{Fault::http500, 500}, std::pair{Fault::http503, 503},
                                 std::pair{Fault::http429, 429}}) {
        server_->injectFault(fault, 1);
        RawReply reply = lights();
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(reply.headers["content-type"], "text/html");
        EXPECT_NE(reply.body.find("<html>"), std::string::npos);
        EXPECT_NE(reply.body.find(std::to_string(status)), std::string::npos);
    }
}

TEST_F(FaultsTest, MovedPointsToTheSamePathOverHttpsAndChangesNothing) {
    server_->injectFault(Fault::moved, 1);
    RawReply reply = rawRequest(server_->port(), "PUT", api("/lights/1/state"), R"({"on":false})");
    EXPECT_EQ(reply.status, 301);
    EXPECT_EQ(reply.headers["location"], "https://127.0.0.1" + api("/lights/1/state"));
    EXPECT_EQ(normalLights()["1"]["state"]["on"], true);
}

TEST_F(FaultsTest, HugeBodyIsSeventeenMebibytesOfValidJson) {
    server_->injectFault(Fault::hugeBody, 1);
    RawReply reply = rawRequest(server_->port(), "GET", api("/lights"), {}, 10s);
    EXPECT_EQ(reply.status, 200);
    EXPECT_GE(reply.body.size(), 17u * 1024u * 1024u);
    EXPECT_LT(reply.body.size(), 18u * 1024u * 1024u);
    EXPECT_EQ(reply.headers["content-length"], std::to_string(reply.body.size()));
    Json parsed = Json::parse(reply.body, nullptr, false);
    ASSERT_TRUE(parsed.is_object());
    EXPECT_EQ(parsed["1"]["type"], "Dimmable light");
}

TEST_F(FaultsTest, NotUtf8SpoilsOneStringOfTheRealReply) {
    server_->injectFault(Fault::notUtf8, 1);
    RawReply reply = lights();
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(isValidUtf8(reply.body));
    std::string repaired = reply.body;
    repaired.erase(repaired.find("\xff\xfe"), 2);
    EXPECT_EQ(Json::parse(repaired), normalLights());
}

TEST_F(FaultsTest, FaultsHitTheNextApiRequestsInOrderAndAreLogged) {
    server_->injectFault(Fault::http503, 2);
    server_->injectFault(Fault::garbageBody, 1);
    // Neither the control API nor discovery takes a fault.
    EXPECT_EQ(rawRequest(server_->port(), "GET", "/sim/state").status, 200);
    EXPECT_EQ(rawRequest(server_->port(), "GET", "/discovery").status, 200);
    EXPECT_EQ(lights().status, 503);
    EXPECT_EQ(rawRequest(server_->port(), "POST", "/api", "{}").status, 503);
    // Garbage: not JSON, yet labelled so.
    RawReply garbage = lights();
    EXPECT_EQ(garbage.status, 200);
    EXPECT_EQ(garbage.headers["content-type"], "application/json");
    EXPECT_FALSE(garbage.body.empty());
    EXPECT_TRUE(Json::parse(garbage.body, nullptr, false).is_discarded());
    EXPECT_EQ(Json::parse(lights().body), normalLights());

    // A faulted write does not reach the lights.
    server_->injectFault(Fault::http500, 1);
    rawRequest(server_->port(), "PUT", api("/lights/1/state"), R"({"on":false})");
    EXPECT_EQ(normalLights()["1"]["state"]["on"], true);

    std::vector<std::string> faults;
    for (const auto& entry : server_->requestLog()) faults.push_back(entry.fault);
    EXPECT_EQ(faults,
              (std::vector<std::string>{"", "http503", "http503", "garbage", "", "http500"}));

    server_->injectFault(Fault::http429, 5);
    server_->clearFaults();
    EXPECT_EQ(lights().status, 200);
}

TEST_F(FaultsTest, InProcessRequestsAnswerAsOverHttpFaultsIncluded) {
    for (const std::string& path : {api("/lights"), std::string("/discovery"),
                                    std::string("/no/such/page"), std::string("/sim/state")}) {
        RawReply http = rawRequest(server_->port(), "GET", path);
        const auto direct = server_->handle("GET", path);
        EXPECT_EQ(direct.status, http.status) << path;
        EXPECT_EQ(direct.contentType, http.headers["content-type"]) << path;
        // The state holds the time, which moves between the two.
        if (path != "/sim/state") {
            EXPECT_EQ(direct.body, http.body) << path;
        }
    }
    server_->injectFault(Fault::truncatedBody, 1);
    const std::string whole = normalLights().dump();
    EXPECT_EQ(server_->handle("GET", api("/lights")).body, whole.substr(0, whole.size() / 2));
    EXPECT_EQ(server_->requestLog().back().fault, "truncated");
}

TEST_F(FaultsTest, StoppingCutsALongDelayShort) {
    server_->injectFault(Fault::delay, 1, 20s);
    std::thread client(
        [port = server_->port()] { rawRequest(port, "GET", api("/lights"), {}, 5s); });
    // Wait (bounded) until the request is in, so stop() meets the delay.
    lumora::testing::eventually([&] { return !server_->requestLog().empty(); }, 1000, 5ms);
    auto start = std::chrono::steady_clock::now();
    server_->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    client.join();
}

}  // namespace
}  // namespace lumora::sim::test
