#include "bridge/http.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "test_peer.h"

using namespace lumora;

TEST(Url, AcceptsBridgeAddressesWithAndWithoutPort) {
    const struct {
        const char* url;
        const char* host;
        int port;
        const char* target;
    } cases[] = {
        {"http://192.168.1.20/api/key/lights", "192.168.1.20", 80, "/api/key/lights"},
        {"http://127.0.0.1:8080/api", "127.0.0.1", 8080, "/api"},
        {"https://bridge.local", "bridge.local", 443, "/"},
        {"http://[::1]:81/x?y=1#frag", "::1", 81, "/x?y=1"},  // no fragment on the wire
    };
    for (const auto& c : cases) {
        const auto u = parseUrl(c.url);
        ASSERT_TRUE(u) << c.url;
        EXPECT_EQ(u->host, c.host) << c.url;
        EXPECT_EQ(u->port, c.port) << c.url;
        EXPECT_EQ(u->target, c.target) << c.url;
    }
}

TEST(Url, RefusesWhatCannotBeAnAddress) {
    for (const char* bad :
         {"", "http://", "http://my bridge/api", "http://1.2.3.4 /api",
          "http://1.2.3.4/api/a key/lights", "ftp://1.2.3.4/", "1.2.3.4/api", "http://1.2.3.4:0/",
          "http://1.2.3.4:70000/", "http://1.2.3.4:/", "http://1.2.3.4:8o/", "http://user@1.2.3.4/",
          "http://1.2.3.4/\"x\"", "http://h\xc3\xa9.local/", "http://1.2.3.4/\n"}) {
        EXPECT_FALSE(parseUrl(bad)) << bad;
    }
}

TEST(Http, AnInvalidAddressOrNothingListeningFailsWithoutAReply) {
    for (const auto& [url, error] : {std::pair{"http://no such host/", HttpError::invalidUrl},
                                     {"http://127.0.0.1:1/", HttpError::connectionFailed}}) {
        HttpRequest r;
        r.url = url;
        r.timeout = std::chrono::seconds(2);
        const auto res = httpSend(r);
        EXPECT_EQ(res.error, error) << url;
        EXPECT_FALSE(res.body) << url;
    }
}

namespace {

using lumora::test::eventually;
using lumora::test::reply;
using lumora::test::TestPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

HttpRequest get(const std::string& url, std::chrono::milliseconds timeout = 3s) {
    HttpRequest r;
    r.url = url;
    r.timeout = timeout;
    return r;
}

// Sends `first`, then `unit` once every `every`, never the end.
TestPeer::Handler drip(std::string first, std::string unit, std::chrono::milliseconds every) {
    return [first = std::move(first), unit = std::move(unit), every](TestPeer::Conn& c) {
        if (!c.readRequest() || !c.write(first)) return;
        for (int i = 0; i < 40 && c.open(); ++i) {
            std::this_thread::sleep_for(every);
            if (!c.write(unit)) return;
        }
    };
}

// Writes `head`, then `unit` again and again as fast as the client reads.
TestPeer::Handler flood(std::string head, std::string unit) {
    return [head = std::move(head), unit = std::move(unit)](TestPeer::Conn& c) {
        if (!c.readRequest() || !c.write(head)) return;
        std::string block;
        while (block.size() < 256 * 1024) block += unit;
        for (int i = 0; i < 40'000 && c.write(block); ++i) {
        }
    };
}

}  // namespace

TEST(Http, StatusesComeBackAsTheyAreAndRedirectsAreNotFollowed) {
    const struct {
        int status;
        const char* headers;
        const char* header;
        const char* value;
    } cases[] = {
        {503, "Retry-After: 5\r\n", "retry-after", "5"},
        {429, "Retry-After: 1\r\n", "Retry-After", "1"},
        {301, "Location: https://127.0.0.1/api\r\n", "location", "https://127.0.0.1/api"},
        {302, "Location: /elsewhere\r\n", "Location", "/elsewhere"},
    };
    for (const auto& c : cases) {
        TestPeer peer(TestPeer::serveAll(reply(c.status, "[]", c.headers)));
        HttpRequest r = get(peer.url("/api"));
        r.method = "POST";
        r.body = "{}";
        const HttpResponse res = httpSend(r);
        EXPECT_EQ(res.error, HttpError::none) << c.status;
        EXPECT_EQ(res.status, c.status);
        EXPECT_EQ(res.header(c.header), c.value) << c.status;
        EXPECT_EQ(res.body, "[]") << c.status;
        EXPECT_EQ(peer.accepted(), 1) << c.status;
    }
}

TEST(Http, EveryStallEndsWithinTheTimeOut) {
    const struct {
        const char* name;
        TestPeer::Handler handler;
    } cases[] = {
        {"never answers",
         [](TestPeer::Conn& c) {
             c.readRequest();
             eventually([&] { return !c.open(); }, 10s);
         }},
        {"drips header lines", drip("HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 400ms)},
        {"drips the status line", drip("HTTP/1.1 200", "0", 400ms)},
        {"drips the body",
         drip("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\nx\r\n", 400ms)},
    };
    for (const auto& c : cases) {
        TestPeer peer(c.handler);
        const auto start = Clock::now();
        const HttpResponse res = httpSend(get(peer.url(), 1500ms));
        const auto took = Clock::now() - start;
        EXPECT_EQ(res.error, HttpError::timedOut) << c.name;
        EXPECT_GE(took, 1400ms) << c.name;
        EXPECT_LT(took, 2500ms) << c.name;
    }
}

TEST(Http, FloodsStopAtTheirCaps) {
    const struct {
        const char* name;
        TestPeer::Handler handler;
        HttpError error;
    } cases[] = {
        {"headers", flood("HTTP/1.1 200 OK\r\n", "X-Flood: 0123456789abcdef\r\n"),
         HttpError::headersTooLarge},
        {"one endless header", flood("HTTP/1.1 200 OK\r\nX: ", "aaaaaaaaaaaaaaaa"),
         HttpError::headersTooLarge},
        {"chunked body",
         flood("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "4\r\nabcd\r\n"),
         HttpError::bodyTooLarge},
        {"body until close", flood("HTTP/1.1 200 OK\r\n\r\n", "abcd"), HttpError::bodyTooLarge},
    };
    for (const auto& c : cases) {
        TestPeer peer(c.handler);
        HttpRequest r = get(peer.url(), 10s);
        r.maxBodyBytes = 1 << 20;
        const auto start = Clock::now();
        const HttpResponse res = httpSend(r);
        EXPECT_EQ(res.error, c.error) << c.name;
        EXPECT_FALSE(res.body) << c.name;
        // Refused as the cap is reached, not when the time runs out.
        EXPECT_LT(Clock::now() - start, 2s) << c.name;
    }
}

// Peak memory is per process: each request runs in a child of its own, which
// exits 0 when the reply ended with `expected`. Returns its peak in KiB.
long childPeakKiB(const std::string& url, HttpError expected) {
    const pid_t pid = fork();
    if (pid == 0) _exit(httpSend(get(url, 3s)).error == expected ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(Http, HeaderFloodKeepsTheProcessSmall) {
    TestPeer calm(TestPeer::serveAll(reply(200, "{}")));
    // One endless line, so only the byte cap can stop it.
    TestPeer flooding(flood("HTTP/1.1 200 OK\r\nX-Flood: ", "0123456789abcdef"));
    const long baseline = childPeakKiB(calm.url(), HttpError::none);
    const long flooded = childPeakKiB(flooding.url(), HttpError::headersTooLarge);
    ASSERT_GT(baseline, 0);
    ASSERT_GT(flooded, 0);
    EXPECT_LT(flooded - baseline, 20 * 1024);
}

TEST(Http, RequestsThatCannotGoOnTheWireAsGivenAreNotSent) {
    TestPeer peer(TestPeer::serveAll(reply(200, "{}")));
    const std::vector<std::pair<std::string, std::string>> bad[] = {
        {{"X-Key", "a\r\nX-Injected: 1"}},
        {{"Bad Name", "1"}},
        {{"Content-Length", "5"}},
        {{"Transfer-Encoding", "chunked"}},
    };
    for (const auto& headers : bad) {
        HttpRequest r = get(peer.url());
        r.headers = headers;
        EXPECT_EQ(httpSend(r).error, HttpError::invalidRequest) << headers[0].first;
    }
    HttpRequest r = get(peer.url());
    r.method = "GET /x HTTP/1.1\r\n";
    EXPECT_EQ(httpSend(r).error, HttpError::invalidRequest);
    EXPECT_EQ(peer.accepted(), 0);
}

TEST(Http, LocalhostIsFoundWhicheverAddressFamilyAnswers) {
    // The peer listens on 127.0.0.1 only; "localhost" may name ::1 first.
    TestPeer peer(TestPeer::serveAll(reply(200, "{}")));
    const HttpResponse res = httpSend(get("http://localhost:" + std::to_string(peer.port()) + "/"));
    EXPECT_EQ(res.error, HttpError::none);
    EXPECT_EQ(res.body, "{}");
}

TEST(HttpSession, ACommandDoesNotWaitBehindASlowRead) {
    std::atomic<bool> release{false};
    TestPeer peer([&](TestPeer::Conn& c) {
        while (auto req = c.readRequest()) {
            if (req->rfind("GET /slow", 0) == 0) eventually([&] { return release.load(); }, 10s);
            if (!c.write(reply(200, "[]"))) return;
        }
    });
    HttpSession session;
    std::thread slow([&] { session.send(get(peer.url("/slow"), 5s)); });
    ASSERT_TRUE(eventually([&] { return peer.received().find("/slow") != std::string::npos; }));
    HttpRequest put = get(peer.url("/api/k/lights/1/state"), 1s);
    put.method = "PUT";
    put.body = R"({"on":true})";
    EXPECT_EQ(session.send(put).status, 200);
    release = true;
    slow.join();
}

TEST(HttpSession, ReconnectsWhenThePeerClosedAKeptConnection) {
    // Answers the first request on each connection. Then it either reads the
    // next request and hangs up without a word (the race with a server's idle
    // timer), or, once `idle` is short, hangs up after that much silence.
    std::atomic<int> idleMs{10'000};
    TestPeer peer([&](TestPeer::Conn& c) {
        if (!c.readRequest() || !c.write(reply(200, "first"))) return;
        c.readRequest(std::chrono::milliseconds(idleMs.load()));
    });
    HttpSession session;
    ASSERT_EQ(session.send(get(peer.url())).body, "first");

    // A read goes again on a fresh connection.
    EXPECT_EQ(session.send(get(peer.url())).body, "first");
    EXPECT_EQ(peer.accepted(), 2);

    // A command that may have been carried out is not sent twice.
    HttpRequest put = get(peer.url("/api/k/groups/0/action"));
    put.method = "PUT";
    put.body = R"({"bri_inc":10})";
    EXPECT_EQ(session.send(put).error, HttpError::connectionFailed);
    EXPECT_EQ(peer.accepted(), 2);
    EXPECT_EQ(peer.received().find("PUT"), peer.received().rfind("PUT"));

    // Closed while idle: noticed before the command is written.
    idleMs = 100;
    ASSERT_EQ(session.send(get(peer.url())).body, "first");
    ASSERT_TRUE(eventually([&] { return peer.finished() == 3; }));
    EXPECT_EQ(session.send(put).body, "first");
    EXPECT_EQ(peer.accepted(), 4);
}

TEST(HttpStream, HandsOverTheBodyAsItArrivesUntilCancelled) {
    std::atomic<bool> more{false};
    TestPeer peer([&](TestPeer::Conn& c) {
        if (!c.readRequest()) return;
        c.write(
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: "
            "chunked\r\n\r\n");
        c.write("7\r\ndata: 1\r\n");
        eventually([&] { return more.load(); }, 10s);
        c.write("7\r\ndata: 2\r\n");
        eventually([&] { return !c.open(); }, 10s);
    });
    HttpCancel cancel;
    std::mutex m;
    std::string got;
    HttpStreamOptions options;
    options.idleTimeout = 30s;
    options.cancel = &cancel;
    HttpResponse res;
    std::thread reader([&] {
        res = httpStream(
            get(peer.url("/eventstream"), 2s),
            [&](std::string_view piece) {
                std::lock_guard lock(m);
                got += piece;
                return true;
            },
            options);
    });
    const auto seen = [&](const char* what) {
        return eventually([&] {
            std::lock_guard lock(m);
            return got.find(what) != std::string::npos;
        });
    };
    // Past the request's own time-out: only silence ends a stream.
    EXPECT_TRUE(seen("data: 1"));
    more = true;
    EXPECT_TRUE(seen("data: 2"));
    std::this_thread::sleep_for(2500ms);
    const auto cancelledAt = Clock::now();
    cancel.cancel();
    reader.join();
    EXPECT_LT(Clock::now() - cancelledAt, 500ms);
    EXPECT_EQ(res.error, HttpError::cancelled);
    EXPECT_EQ(res.status, 0);
}

TEST(HttpStream, SilenceEndsItAndRefusalsComeBackWithTheirBody) {
    TestPeer silent([](TestPeer::Conn& c) {
        if (!c.readRequest()) return;
        c.write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        eventually([&] { return !c.open(); }, 10s);
    });
    HttpStreamOptions options;
    options.idleTimeout = 300ms;
    const auto start = Clock::now();
    EXPECT_EQ(httpStream(
                  get(silent.url(), 5s), [](std::string_view) { return true; }, options)
                  .error,
              HttpError::timedOut);
    EXPECT_LT(Clock::now() - start, 2s);

    TestPeer refusing(TestPeer::serveAll(reply(403, R"({"error":"forbidden"})")));
    bool called = false;
    const HttpResponse res = httpStream(get(refusing.url(), 2s), [&](std::string_view) {
        called = true;
        return true;
    });
    EXPECT_EQ(res.status, 403);
    EXPECT_EQ(res.body, R"({"error":"forbidden"})");
    EXPECT_FALSE(called);
}
