// The simulator's connections: keep-alive, pipelining, one write per reply,
// room for new connections while others idle or send slowly, a prompt stop.

#include <httplib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "client.h"
#include "sim_test_support.h"
#include "simulator/http_transport.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using SimTransportTest = SimServerTest;

TEST_F(SimTransportTest, OneConnectionCarriesManyRequestsInTurnAndPipelined) {
    Client client(plain, server_->port());
    ASSERT_GE(client.fd(), 0);
    const Json light1 = server_->call("GET", api("/lights/1"));
    for (int i = 0; i < 30; ++i) {
        const bool discovery = i % 3 == 2;
        ASSERT_TRUE(client.send(requestBytes("GET", discovery ? "/discovery" : api("/lights/1"))));
        RawReply reply = client.read();
        ASSERT_EQ(reply.status, 200) << "request " << i;
        EXPECT_NE(reply.headers["connection"], "close") << "request " << i;
        Json body = Json::parse(reply.body, nullptr, false);
        if (discovery) {
            EXPECT_EQ(body[0]["port"], server_->port());
        } else {
            EXPECT_EQ(body, light1);
        }
    }

    // Three requests in one write are answered in order, each on its own.
    ASSERT_TRUE(client.send(requestBytes("PUT", api("/lights/1/state"), R"({"on":false})") +
                            requestBytes("GET", api("/lights/1")) +
                            requestBytes("GET", "/no/such/page")));
    RawReply put = client.read();
    ASSERT_EQ(put.status, 200);
    EXPECT_EQ(successValue(Json::parse(put.body)[0], "/lights/1/state/on"), false);
    RawReply get = client.read();
    ASSERT_EQ(get.status, 200);
    EXPECT_EQ(Json::parse(get.body)["state"]["on"], false);
    EXPECT_EQ(client.read().status, 404);

    const auto logged = server_->requestLog();
    ASSERT_EQ(logged.size(), 33u);
    EXPECT_EQ(logged[30].method + " " + logged[30].path, "PUT " + api("/lights/1/state"));
    EXPECT_EQ(logged[32].method + " " + logged[32].path, "GET /no/such/page");
}

TEST_F(SimTransportTest, EachReplyLeavesInOneSegment) {
    // Headers and body written apart would arrive as two segments, the second
    // one held back until the client acknowledged the first.
    Client client(plain, server_->port());
    ASSERT_GE(client.fd(), 0);
    ASSERT_GE(dataSegmentsIn(client.fd()), 0) << "the kernel does not count segments";
    for (const std::string& path : {api("/lights"), std::string("/no/such/page"),
                                    std::string("/sim/state"), api("/groups/0")}) {
        const long before = dataSegmentsIn(client.fd());
        ASSERT_TRUE(client.send(requestBytes("GET", path)));
        RawReply reply = client.read();
        ASSERT_NE(reply.status, 0) << path;
        // Loopback carries up to 64 KiB in one segment.
        ASSERT_LT(reply.bytes.size(), 60000u) << path;
        EXPECT_EQ(dataSegmentsIn(client.fd()) - before, 1) << path;
    }
}

TEST_F(SimTransportTest, ExpectContinueIsAnsweredOnceBeforeTheBodyIsSent) {
    Client client(plain, server_->port());
    ASSERT_GE(client.fd(), 0);
    int bri = 70;
    for (const char* name : {"Expect", "expect"}) {
        const std::string body = R"({"bri":)" + std::to_string(++bri) + "}";
        const std::string head = requestBytes("PUT", api("/lights/2/state"), body,
                                              std::string(name) + ": 100-continue\r\n");
        ASSERT_TRUE(client.send(head.substr(0, head.size() - body.size())));
        ASSERT_EQ(client.read(3s).status, 100) << name;
        ASSERT_TRUE(client.send(body));
        // The final reply comes next, not a second "100 Continue".
        RawReply reply = client.read();
        ASSERT_EQ(reply.status, 200) << name;
        EXPECT_EQ(successValue(Json::parse(reply.body)[0], "/lights/2/state/bri"), bri);
    }
    // Sent whole, the request needs no "100 Continue" at all.
    ASSERT_TRUE(client.send(
        requestBytes("PUT", api("/lights/2/state"), R"({"bri":5})", "Expect: 100-continue\r\n")));
    EXPECT_EQ(client.read(3s).status, 200);
}

TEST_F(SimTransportTest, IdleKeepAliveConnectionsLeaveRoomForNewOnesAndStopEndsThem) {
    // More connections that had a reply and now sit idle than a small fixed
    // pool of workers would hold.
    constexpr int kIdle = 40;
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < kIdle; ++i) {
        idle.push_back(std::make_unique<Client>(plain, server_->port()));
        ASSERT_TRUE(idle.back()->send(requestBytes("GET", "/discovery")));
        ASSERT_EQ(idle.back()->read(3s).status, 200) << "connection " << i;
    }
    EXPECT_EQ(rawRequest(server_->port(), "GET", api("/config"), {}, 3s).status, 200);
    // Nobody was put out to make room.
    for (int i = 0; i < kIdle; ++i) {
        ASSERT_TRUE(idle[i]->send(requestBytes("GET", api("/lights/3"))));
        EXPECT_EQ(idle[i]->read(3s).status, 200) << "connection " << i;
    }
    // An idle connection is kept for 5 s; stop() must not sit that out.
    const auto start = Clock::now();
    server_->stop();
    EXPECT_LT(Clock::now() - start, 2s);
    for (auto& client : idle) EXPECT_TRUE(client->closedByServer(1s));
}

TEST_F(SimTransportTest, OrdinaryRequestsGoOnBesideManySlowClients) {
    // More half-sent requests than there are workers: none of them holds one.
    constexpr int kSlow = 300;
    std::vector<std::unique_ptr<Client>> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(std::make_unique<Client>(plain, server_->port()));
        ASSERT_TRUE(slow.back()->send("GET " + api("/lights/1") + " HTTP/1.1\r\nX-Slow: "));
    }
    for (int i = 0; i < 7; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(rawRequest(server_->port(), "GET", api("/config"), {}, 3s).status, 200);
        // Well under 100 ms when the machine is quiet; room here for a busy one.
        EXPECT_LT(Clock::now() - start, 1s) << "request " << i;
    }
    // A slow client that completes its request in time is answered.
    ASSERT_TRUE(slow[0]->send("1\r\n\r\n"));
    EXPECT_EQ(slow[0]->read(3s).status, 200);
}

using SimHttpServerTest = TransportTest;

TEST_F(SimHttpServerTest, UnfinishedRequestsAndIdleConnectionsCloseAfterTheirTime) {
    TransportLimits limits;
    limits.requestTimeout = 300ms;
    start(limits);
    Client partial(plain, port_), idle(plain, port_), answered(plain, port_);
    ASSERT_TRUE(partial.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    ASSERT_TRUE(answered.send(requestBytes("GET", "/")));
    ASSERT_EQ(answered.read().body, "ok");
    // A request in pieces is fine while it is whole in time.
    Client pieces(plain, port_);
    const std::string request = requestBytes("GET", "/");
    for (char c : request) ASSERT_TRUE(pieces.send(std::string(1, c)));
    EXPECT_EQ(pieces.read().body, "ok");

    // Part of a request is told why it is closed; the others just close.
    const auto start = Clock::now();
    EXPECT_EQ(partial.read(3s).status, 408);
    EXPECT_TRUE(partial.closedByServer(3s));
    EXPECT_TRUE(idle.closedByServer(3s));
    EXPECT_TRUE(answered.closedByServer(3s));
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(SimHttpServerTest, AWorkerIsTakenOnlyWhileARequestIsAnswered) {
    TransportLimits limits;
    limits.maxWorkers = 1;
    start(limits);
    // Idle, half-sent and slow connections, more than the one worker.
    std::vector<std::unique_ptr<Client>> waiting;
    for (int i = 0; i < 20; ++i) {
        waiting.push_back(std::make_unique<Client>(plain, port_));
        if (i % 2 == 1) {
            ASSERT_TRUE(waiting.back()->send("GET / HTTP/1.1\r\nHost: x\r\n"));
        }
    }
    for (int i = 0; i < 5; ++i) {
        RawReply reply = rawRequest(port_, "GET", "/", {}, 2s);
        EXPECT_EQ(reply.body, "ok") << "request " << i;
    }
    // Each waiting one is still served once it sends its request.
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        ASSERT_TRUE(waiting[i]->send(i % 2 == 1 ? "\r\n" : requestBytes("GET", "/")));
        EXPECT_EQ(waiting[i]->read(2s).body, "ok") << "connection " << i;
    }
}

// A reply that goes on (an event stream) outlives the time limit that closes
// idle connections and the closing of idle ones; stopping ends it (TearDown).
TEST_F(SimHttpServerTest, ALongReplyIsNeitherTimedOutNorClosedAsIdle) {
    TransportLimits limits;
    limits.requestTimeout = 200ms;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    auto provider = [wake](std::size_t, httplib::DataSink& sink) {
        for (const char* piece : {"first;", "second;"}) {
            if (!sink.write(piece, std::strlen(piece)) || !SimHttpServer::flushReply())
                return false;
            if (SimHttpServer::waitDuringReply(wake) != SimHttpServer::ReplyWait::woken) {
                return false;
            }
        }
        return false;
    };
    start(limits, [&](SimHttpServer& http) {
        http.Get("/long", [provider](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", provider);
        });
    });
    Client idle(plain, port_), stream(plain, port_);
    ASSERT_TRUE(stream.send(requestBytes("GET", "/long")));
    const auto receiveUntil = [&](const std::string& text) {
        const auto deadline = Clock::now() + 3s;
        while (stream.received().find(text) == std::string::npos) {
            if (!stream.receive(deadline)) return false;
        }
        return true;
    };
    ASSERT_TRUE(receiveUntil("first;"));
    EXPECT_TRUE(idle.closedByServer(3s));
    EXPECT_EQ(http_->closeIdle(), 0u);
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_TRUE(receiveUntil("second;"));
    http_->stopAll();
    EXPECT_TRUE(stream.closedByServer(2s));
    ::close(wake);
}

}  // namespace
}  // namespace lumora::sim::test
