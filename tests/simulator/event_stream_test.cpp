// The event stream: who may open it and where, the events a change of state
// makes whoever made it, replay after a reconnect, clients that do not read,
// and the client's own reader on what the simulator writes.

#include "bridge/event_stream.h"

#include <limits>
#include <vector>

#include "client.h"
#include "sim_test_support.h"
#include "support/demo_desktop.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kStreamPath = "/eventstream/clip/v2";

std::string keyHeader(const std::string& key = kDemoUser) {
    return "hue-application-key: " + key + "\r\nAccept: text/event-stream\r\n";
}

struct Event {
    std::string id;
    Json data;
};

// One stream connection over TLS: the head, then the body taken out of its
// chunks and split into events as it arrives.
class StreamClient {
  public:
    explicit StreamClient(int port, const std::string& headers = keyHeader(), int receiveBuffer = 0)
        : tls_(port, {}, 0, receiveBuffer) {
        tls_.send(requestBytes("GET", kStreamPath, {}, headers));
    }

    // The status once the head is in, 0 when it did not come in time.
    int status(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        while (bodyAt_ == std::string::npos) {
            bodyAt_ = parseHead(tls_.received(), head_);
            if (bodyAt_ == std::string::npos && !tls_.receive(deadline)) return 0;
        }
        return head_.status;
    }
    const RawReply& head() const { return head_; }

    // Reads until `count` events have come (true) or `timeout` passes.
    bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        if (status(timeout) != 200) return false;
        for (;;) {
            unchunk();
            split();
            if (events.size() >= count) return true;
            if (!tls_.receive(deadline)) return false;
        }
    }
    // Reads what has come within `timeout`, however little.
    void drain(std::chrono::milliseconds timeout) {
        waitForEvents(std::numeric_limits<std::size_t>::max(), timeout);
    }
    // The server ended the connection within `timeout`.
    bool closed(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (!tls_.receive(deadline) && Clock::now() < deadline) return true;
        }
        return false;
    }

    std::vector<Event> events;
    std::string body;  // the stream as the server wrote it

  private:
    void unchunk() {
        std::string& raw = tls_.received();
        std::size_t at = bodyAt_;
        for (;;) {
            const auto line = raw.find("\r\n", at);
            if (line == std::string::npos) break;
            const std::size_t size = std::stoul(raw.substr(at, line - at), nullptr, 16);
            if (raw.size() < line + 2 + size + 2) break;
            body.append(raw, line + 2, size);
            at = line + 2 + size + 2;
        }
        raw.erase(bodyAt_, at - bodyAt_);
    }

    void split() {
        for (std::size_t end; (end = body.find("\n\n", used_)) != std::string::npos;) {
            Event event;
            std::size_t at = used_;
            while (at < end) {
                const std::size_t stop = body.find('\n', at);
                const std::string line = body.substr(at, stop - at);
                if (line.rfind("id: ", 0) == 0) event.id = line.substr(4);
                if (line.rfind("data: ", 0) == 0) event.data = Json::parse(line.substr(6));
                at = stop + 1;
            }
            used_ = end + 2;
            if (!event.data.is_null()) events.push_back(std::move(event));
        }
    }

    Client tls_;
    RawReply head_;
    std::size_t bodyAt_ = std::string::npos;
    std::size_t used_ = 0;
};

// Every item of every container of `event` with that id_v1 and type.
std::vector<Json> itemsFor(const Event& event, const std::string& idV1, const std::string& type,
                           const std::string& kind = "update") {
    std::vector<Json> found;
    for (const auto& container : event.data) {
        if (container["type"] != kind) continue;
        for (const auto& item : container["data"]) {
            if (item["id_v1"] == idV1 && item["type"] == type) found.push_back(item);
        }
    }
    return found;
}

// The item's members other than the ones that name it.
Json changed(Json item) {
    for (const char* key : {"id", "id_v1", "type"}) item.erase(key);
    return item;
}

class EventStreamTest : public SimServerTest {
  protected:
    std::unique_ptr<StreamClient> open(const std::string& headers = keyHeader()) {
        auto client = std::make_unique<StreamClient>(server_->httpsPort(), headers);
        EXPECT_EQ(client->status(), 200);
        return client;
    }
};

TEST_F(EventStreamTest, AChangeByAnotherClientReachesTheStreamWithOnlyWhatChanged) {
    auto stream = open();
    EXPECT_EQ(stream->head().headers.at("content-type"), "text/event-stream");
    // Over plain HTTP, as another client would.
    put(api("/lights/1/state"), R"({"bri":128,"ct":250,"xy":[0.4,0.35]})");
    ASSERT_TRUE(stream->waitForEvents(1));
    const Event first = stream->events[0];
    ASSERT_EQ(first.data.size(), 1u);
    const Json& container = first.data[0];
    EXPECT_EQ(container["type"], "update");
    EXPECT_EQ(container["id"].get<std::string>().size(), 36u);
    EXPECT_TRUE(container["creationtime"].get<std::string>().ends_with("Z"));
    auto light = itemsFor(first, "/lights/1", "light");
    ASSERT_EQ(light.size(), 1u);
    EXPECT_EQ(changed(light[0]), Json::parse(R"({"dimming":{"brightness":50.39},
        "color_temperature":{"mirek":250},"color":{"xy":{"x":0.4,"y":0.35}}})"));
    const std::string lightUuid = light[0]["id"];

    // A group action: its lights, each with what changed for it, and the group.
    put(api("/groups/1/action"), R"({"on":false})");
    ASSERT_TRUE(stream->waitForEvents(2));
    const Event second = stream->events[1];
    EXPECT_GT(std::stoll(second.id), std::stoll(first.id));
    EXPECT_EQ(changed(itemsFor(second, "/lights/1", "light").at(0)),
              Json::parse(R"({"on":{"on":false}})"));
    EXPECT_EQ(itemsFor(second, "/lights/1", "light")[0]["id"], lightUuid);
    EXPECT_EQ(itemsFor(second, "/lights/2", "light").size(), 1u);
    EXPECT_TRUE(itemsFor(second, "/lights/3", "light").empty());  // off already
    EXPECT_EQ(changed(itemsFor(second, "/groups/1", "grouped_light").at(0)),
              Json::parse(R"({"on":{"on":false}})"));

    // A write that changes nothing tells nothing; the next change comes alone.
    put(api("/lights/1/state"), R"({"ct":250})");
    put(api("/lights/2/state"), R"({"on":true})");
    ASSERT_TRUE(stream->waitForEvents(3));
    EXPECT_EQ(itemsFor(stream->events[2], "/lights/2", "light").size(), 1u);
    const StreamStats stats = server_->streamStats();
    EXPECT_EQ(stats.clients, 1u);
    EXPECT_EQ(stats.events, 3u);
}

TEST_F(EventStreamTest, SchedulesTheControlApiAndFixturesMakeEventsToo) {
    auto stream = open();
    const Json created =
        post(api("/schedules"), R"({"command":{"address":")" + api("/lights/2/state") +
                                    R"(","method":"PUT","body":{"bri":254}},
                                                     "localtime":"PT00:10:00"})");
    ASSERT_TRUE(created[0].contains("success")) << created.dump();
    server_->advanceClock(600s);
    ASSERT_TRUE(stream->waitForEvents(1));
    EXPECT_EQ(changed(itemsFor(stream->events[0], "/lights/2", "light").at(0)),
              Json::parse(R"({"dimming":{"brightness":100.0}})"));

    post("/sim/clock", R"({"advance_s":1})");  // nothing due: no event
    put("/sim/lights/3", R"({"reachable":false})");
    ASSERT_TRUE(stream->waitForEvents(2));
    EXPECT_EQ(changed(itemsFor(stream->events[1], "/lights/3", "zigbee_connectivity").at(0)),
              Json::parse(R"({"status":"connectivity_issue"})"));

    // Another home: what it lacks is deleted, what it adds is added.
    Json fixture = smallFixture();
    fixture["lights"].erase("6");
    fixture["scenes"]["evening"] = {{"name", "Evening"}, {"lights", {"1"}}};
    ASSERT_TRUE(server_->loadFixtureJson(fixture));
    ASSERT_TRUE(stream->waitForEvents(3));
    const Event& swap = stream->events[2];
    EXPECT_EQ(itemsFor(swap, "/lights/6", "light", "delete").size(), 1u);
    auto scene = itemsFor(swap, "/scenes/evening", "scene", "add");
    ASSERT_EQ(scene.size(), 1u);
    EXPECT_EQ(scene[0]["metadata"]["name"], "Evening");
    // The light the control API made unreachable is reachable again.
    EXPECT_EQ(itemsFor(swap, "/lights/3", "zigbee_connectivity").size(), 1u);
    EXPECT_EQ(stream->events.size(), 3u);
}

TEST_F(EventStreamTest, OnlyAPairedUserOverHttpsOnABridgeThatHasIt) {
    for (const std::string& headers :
         {std::string("Accept: text/event-stream\r\n"), keyHeader("not-a-user-of-this-bridge")}) {
        StreamClient refused(server_->httpsPort(), headers);
        EXPECT_EQ(refused.status(), 403) << headers;
    }
    // The plain port of a bridge that has HTTPS, and a bridge without it.
    EXPECT_EQ(rawRequest(server_->port(), "GET", kStreamPath).status, 404);
    EXPECT_EQ(rawRequest(startServer(Generation::BSB001)->port(), "GET", kStreamPath).status, 404);
    // A second-generation bridge whose firmware predates the stream.
    Json old = smallFixture();
    old["config"]["swversion"] = "1941132080";
    ASSERT_TRUE(server_->loadFixtureJson(old));
    StreamClient tooOld(server_->httpsPort());
    EXPECT_EQ(tooOld.status(), 404);
    EXPECT_EQ(server_->streamStats().clients, 0u);
}

TEST_F(EventStreamTest, AReconnectWithLastEventIdGetsWhatItMissedThenLiveEvents) {
    auto stream = open();
    put(api("/lights/1/state"), R"({"bri":10})");
    ASSERT_TRUE(stream->waitForEvents(1));
    const std::string seen = stream->events.back().id;

    EXPECT_EQ(del("/sim/streams")["closed"], 1);
    EXPECT_TRUE(stream->closed());
    put(api("/lights/1/state"), R"({"bri":20})");
    put(api("/lights/1/state"), R"({"bri":30})");

    auto back = open(keyHeader() + "Last-Event-ID: " + seen + "\r\n");
    put(api("/lights/1/state"), R"({"bri":40})");
    ASSERT_TRUE(back->waitForEvents(3));
    std::vector<Json> brightness;
    for (const auto& event : back->events) {
        brightness.push_back(itemsFor(event, "/lights/1", "light").at(0)["dimming"]["brightness"]);
        EXPECT_GT(std::stoll(event.id), std::stoll(seen));
    }
    EXPECT_EQ(Json(brightness), Json::parse("[7.87, 11.81, 15.75]"));

    // An id it never gave, or one so old that events after it are
    // forgotten: only what happens from now on.
    for (int i = 0; i < 300; ++i) {
        server_->call("PUT", api("/lights/2/state"), i % 2 ? R"({"on":true})" : R"({"on":false})");
    }
    for (const std::string& id : {std::string("junk"), std::string("99999"), seen}) {
        auto live = open(keyHeader() + "Last-Event-ID: " + id + "\r\n");
        put(api("/lights/1/state"), R"({"bri":)" + std::to_string(50 + id.size()) + "}");
        ASSERT_TRUE(live->waitForEvents(1)) << id;
        live->drain(50ms);
        EXPECT_EQ(live->events.size(), 1u) << id;
        EXPECT_EQ(itemsFor(live->events[0], "/lights/1", "light").size(), 1u) << id;
    }
}

TEST_F(EventStreamTest, AClientThatLeavesOrDoesNotReadFreesItsPlaceAndStoppingEndsTheRest) {
    // Eight at most; a stream outlives the closing of idle connections.
    std::vector<std::unique_ptr<StreamClient>> readers;
    for (int i = 0; i < 7; ++i) readers.push_back(open());
    // One that leaves frees its place for the eighth.
    open().reset();
    EXPECT_TRUE(lumora::testing::eventually([&] { return server_->streamStats().clients == 7; },
                                            5000, 1ms));
    StreamClient stalled(server_->httpsPort(), keyHeader(), 4096);
    ASSERT_EQ(stalled.status(), 200);
    StreamClient ninth(server_->httpsPort());
    EXPECT_EQ(ninth.status(), 503);
    server_->closeIdleConnections();
    EXPECT_EQ(server_->streamStats().clients, 8u);

    // Group 0 flips every light: large events, quickly.
    int changes = 0;
    while (server_->streamStats().dropped == 0 && changes < 20000) {
        for (int i = 0; i < 100; ++i, ++changes) {
            server_->call("PUT", api("/groups/0/action"),
                          changes % 2 ? R"({"on":true})" : R"({"on":false})");
        }
        for (auto& reader : readers) reader->drain(5ms);
    }
    ASSERT_EQ(server_->streamStats().dropped, 1u) << changes << " changes";
    EXPECT_TRUE(stalled.closed());
    EXPECT_EQ(server_->streamStats().clients, 7u);
    put(api("/lights/4/state"), R"({"bri":77})");
    for (auto& reader : readers) {
        ASSERT_TRUE(reader->waitForEvents(static_cast<std::size_t>(changes) + 1));
        EXPECT_EQ(itemsFor(reader->events.back(), "/lights/4", "light").size(), 1u);
    }
    const auto before = Clock::now();
    server_->stop();
    EXPECT_LT(Clock::now() - before, 2s);
    for (auto& reader : readers) EXPECT_TRUE(reader->closed(1s));
}

// Both ends: the client's own reader takes what the simulator writes as
// exact changes, and keeps the id it would send on a reconnect.
TEST_F(EventStreamTest, TheClientsReaderUnderstandsTheSimulatorsStream) {
    auto stream = open();
    put(api("/lights/1/state"), R"({"on":false,"bri":128,"ct":350})");
    put(api("/groups/2/action"), R"({"on":true,"bri":1})");
    ASSERT_TRUE(stream->waitForEvents(2));

    EventStreamParser parser;
    std::vector<StreamChange> changes;
    parser.feed(stream->body, [&](const ServerSentEvent& event) {
        const StreamEventMeaning meaning = readStreamEvent(event.data);
        EXPECT_TRUE(meaning.readable);
        changes.insert(changes.end(), meaning.changes.begin(), meaning.changes.end());
    });
    EXPECT_EQ(parser.lastEventId(), stream->events.back().id);
    auto find = [&](StreamResource resource, const std::string& id) -> const StreamChange* {
        for (const auto& change : changes) {
            if (change.resource == resource && change.id == id) return &change;
        }
        return nullptr;
    };
    const StreamChange* light = find(StreamResource::light, "1");
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->on, false);
    EXPECT_EQ(light->bri, 128);
    EXPECT_EQ(light->ct, 350);
    const StreamChange* group = find(StreamResource::group, "2");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->on, true);
    EXPECT_EQ(group->bri, 1);
    EXPECT_EQ(find(StreamResource::light, "4")->bri, 1);
}

}  // namespace
}  // namespace lumora::sim::test
