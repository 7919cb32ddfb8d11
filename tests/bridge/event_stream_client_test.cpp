// The stream reader against a peer on loopback: events as they come, the
// reconnect with the last event id, refusals backed off, and a prompt stop.
#include "bridge/event_stream_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "test_peer.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::TestPeer;

struct Seen {
    std::mutex mutex;
    std::vector<StreamChange> changes;
    std::vector<bool> health;
    std::vector<std::string> log;
    std::atomic<int> lightReads{0};

    EventStreamClient::Callbacks callbacks() {
        return {[this](const StreamEventMeaning& m) {
                    std::lock_guard<std::mutex> lock(mutex);
                    changes.insert(changes.end(), m.changes.begin(), m.changes.end());
                    if (m.readLights) ++lightReads;
                },
                [this](bool live) {
                    std::lock_guard<std::mutex> lock(mutex);
                    health.push_back(live);
                },
                [this](const std::string& line) {
                    std::lock_guard<std::mutex> lock(mutex);
                    log.push_back(line);
                }};
    }
    std::size_t changeCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return changes.size();
    }
};

std::string event(const std::string& id, const std::string& items) {
    return "id: " + id + "\ndata: [{\"type\":\"update\",\"data\":[" + items + "]}]\n\n";
}

EventStreamClient::Timing quick() {
    EventStreamClient::Timing t;
    t.connectTimeout = 2s;
    t.idleTimeout = 5s;
    t.backoff = [](int) { return 20ms; };
    return t;
}

TEST(EventStreamClient, ReadsEventsAsTheyComeAndResumesFromTheLastId) {
    std::atomic<int> served{0};
    std::mutex requestsMutex;
    std::vector<std::string> requests;
    TestPeer peer([&](TestPeer::Conn& c) {
        const auto request = c.readRequest();
        if (!request) return;
        {
            std::lock_guard<std::mutex> lock(requestsMutex);
            requests.push_back(*request);
        }
        const int n = served++;
        c.write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\n: hi\n\n");
        if (n == 0) {
            // Split inside an event, then the peer goes away.
            const std::string e =
                event("7:0", R"({"id_v1":"/lights/1","type":"light","on":{"on":true}})");
            c.write(e.substr(0, 20));
            eventually([] { return false; }, 50ms);
            c.write(
                e.substr(20) + "data: not json\n\n" +
                event("8:0",
                      R"({"id_v1":"/lights/2","type":"light","color":{"xy":{"x":0.3,"y":0.3}}})"));
            return;
        }
        c.write(event("9:0", R"({"id_v1":"/groups/1","type":"grouped_light","on":{"on":false}})"));
        while (c.open()) eventually([] { return false; }, 50ms);
    });
    Seen seen;
    {
        EventStreamClient client({peer.url("/eventstream/clip/v2"), "secretkey", std::nullopt},
                                 seen.callbacks(), quick());
        ASSERT_TRUE(eventually([&] { return seen.changeCount() == 2; }));
        EXPECT_EQ(client.lastEventId(), "9:0");
        EXPECT_EQ(seen.lightReads, 1);
    }  // stops while the second connection is open
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("GET /eventstream/clip/v2 HTTP/1.1"), std::string::npos);
    EXPECT_NE(requests[0].find("hue-application-key: secretkey"), std::string::npos);
    EXPECT_NE(requests[0].find("Accept: text/event-stream"), std::string::npos);
    EXPECT_EQ(requests[0].find("Last-Event-ID"), std::string::npos);
    EXPECT_NE(requests[1].find("Last-Event-ID: 8:0"), std::string::npos);
    EXPECT_EQ(seen.changes[0].id, "1");
    EXPECT_EQ(seen.changes[1].resource, StreamResource::group);
    EXPECT_EQ(seen.health, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(std::count(seen.log.begin(), seen.log.end(),
                         "Event stream: an event that cannot be read was dropped"),
              1);
}

TEST(EventStreamClient, ARefusalIsBackedOffAndNothingIsLive) {
    TestPeer peer(TestPeer::serveAll(test::reply(403, "[]")));
    Seen seen;
    std::atomic<int> waits{0};
    auto timing = quick();
    timing.backoff = [&](int failures) {
        EXPECT_EQ(failures, waits + 1);  // the count grows while nothing is delivered
        ++waits;
        return 5ms;
    };
    {
        EventStreamClient client({peer.url("/eventstream/clip/v2"), "k", std::nullopt},
                                 seen.callbacks(), timing);
        ASSERT_TRUE(eventually([&] { return waits >= 3; }));
    }
    EXPECT_EQ(seen.changeCount(), 0u);
    EXPECT_EQ(std::count(seen.health.begin(), seen.health.end(), true), 0);
    EXPECT_EQ(seen.log.front(), "Event stream refused: HTTP 403");
    EXPECT_EQ(EventStreamClient::defaultBackoff(1), 2s);
    EXPECT_EQ(EventStreamClient::defaultBackoff(500), 600s);
}

}  // namespace
}  // namespace lumora
