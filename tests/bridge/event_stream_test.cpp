// The event stream reader against the ways a stream may arrive, and what its
// events mean for the records.
#include "bridge/event_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

std::vector<ServerSentEvent> readInPieces(EventStreamParser& parser, std::string_view bytes,
                                          std::size_t at) {
    std::vector<ServerSentEvent> events;
    const auto take = [&](const ServerSentEvent& e) { events.push_back(e); };
    parser.feed(bytes.substr(0, at), take);
    parser.feed(bytes.substr(at), take);
    return events;
}

TEST(EventStream, TheSameEventsWhereverTheBytesAreSplit) {
    // A byte-order mark, every line ending, a comment, an event of two data
    // lines, an id that carries over to the next event, an event with no data.
    const std::string stream =
        "\xEF\xBB\xBF: hello\r\n"
        "id: 1\r\n"
        "data: [1]\r\ndata: [2]\r\n\r\n"
        "event: note\rdata:two\rdata:  lines\r\r"
        "retry: 2500\n"
        "id: 9\n\n"
        "data\n\n";
    for (std::size_t at = 0; at <= stream.size(); ++at) {
        EventStreamParser parser;
        const auto events = readInPieces(parser, stream, at);
        ASSERT_EQ(events.size(), 3u) << "split at " << at;
        EXPECT_EQ(events[0].id, "1");
        EXPECT_EQ(events[0].type, "message");
        EXPECT_EQ(events[0].data, "[1]\n[2]");
        EXPECT_EQ(events[1].id, "1");
        EXPECT_EQ(events[1].type, "note");
        EXPECT_EQ(events[1].data, "two\n lines");
        EXPECT_EQ(events[2].data, "");  // `data` alone is a field with an empty value
        EXPECT_EQ(parser.lastEventId(), "9");
        EXPECT_EQ(parser.retryMillis(), 2500);
    }
}

TEST(EventStream, AnEventOverTheCapIsDroppedWholeAndTheNextIsRead) {
    const std::string longLine = std::string(5000, 'x');  // one line, no end in sight
    const std::string manyLines =
        "1\ndata: " + std::string(2500, 'y') + "\ndata: " + std::string(2500, 'z');
    for (const std::string* big : {&longLine, &manyLines}) {
        const std::string stream = "id: 5\ndata: " + *big + "\ndata: after\n\ndata: ok\n\n";
        // In small pieces, as a flood would come, and in one read.
        for (const std::size_t piece : {std::size_t{100}, stream.size()}) {
            EventStreamParser parser(4096);
            std::vector<ServerSentEvent> events;
            for (std::size_t at = 0; at < stream.size(); at += piece)
                parser.feed(stream.substr(at, piece),
                            [&](const ServerSentEvent& e) { events.push_back(e); });
            EXPECT_EQ(parser.dropped(), 1u);
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].data, "ok");  // "after" belonged to the dropped event
        }
    }
}

std::string container(const std::string& kind, const std::string& items) {
    return R"([{"creationtime":"2026-12-08T08:00:00Z","id":"c1","type":")" + kind +
           R"(","data":[)" + items + "]}]";
}

TEST(EventStream, ExactChangesAreAppliedTheRestAsksForARead) {
    const auto m = readStreamEvent(container(
        "update",
        R"({"id":"u","id_v1":"/lights/3","type":"light","on":{"on":true},"dimming":{"brightness":52.76},"owner":{"rid":"d","rtype":"device"}},)"
        R"({"id_v1":"/lights/4","type":"light","dimming":{"brightness":100}},)"
        R"({"id_v1":"/lights/5","type":"light","dimming":{"brightness":0.1}},)"
        R"({"id_v1":"/lights/6","type":"light","color_temperature":{"mirek":366,"mirek_valid":true}},)"
        R"({"id_v1":"/groups/2","type":"grouped_light","on":{"on":false}})"));
    ASSERT_TRUE(m.readable);
    ASSERT_EQ(m.changes.size(), 5u);
    EXPECT_EQ(m.changes[0].id, "3");
    EXPECT_EQ(m.changes[0].on, true);
    EXPECT_EQ(m.changes[0].bri, 134);  // 52.76 % of 254
    EXPECT_EQ(m.changes[1].bri, 254);
    EXPECT_EQ(m.changes[2].bri, 1);  // never 0: that would read as off
    EXPECT_EQ(m.changes[3].ct, 366);
    EXPECT_EQ(m.changes[4].resource, StreamResource::group);
    EXPECT_EQ(m.changes[4].on, false);
    EXPECT_FALSE(m.readLights || m.readGroups || m.readScenes);

    struct Case {
        std::string data;
        bool lights, groups, scenes;
    };
    const Case reads[] = {
        // A colour as xy has no exact hue and saturation.
        {container("update",
                   R"({"id_v1":"/lights/1","type":"light","color":{"xy":{"x":0.4,"y":0.4}}})"),
         true, false, false},
        {container(
             "update",
             R"({"id_v1":"/lights/1","type":"light","color_temperature":{"mirek":null,"mirek_valid":false}})"),
         true, false, false},
        {container("add", R"({"id_v1":"/lights/7","type":"light","on":{"on":true}})"), true, false,
         false},
        {container("delete", R"({"id_v1":"/groups/3","type":"room"})"), false, true, false},
        {container("update",
                   R"({"id_v1":"/scenes/AbC","type":"scene","status":{"active":"static"}})"),
         false, false, true},
        // Reachability and names come in other resources that name the light.
        {container(
             "update",
             R"({"id_v1":"/lights/2","type":"zigbee_connectivity","status":"connectivity_issue"})"),
         true, false, false},
        {container("update", R"({"id_v1":"/lights/2","type":"light","metadata":{"name":"Desk"}})"),
         true, false, false},
        {container("update", R"({"id_v1":"/lights/x1","type":"light","on":{"on":true}})"), true,
         false, false},
    };
    for (const auto& c : reads) {
        const auto r = readStreamEvent(c.data);
        EXPECT_TRUE(r.readable) << c.data;
        EXPECT_TRUE(r.changes.empty()) << c.data;
        EXPECT_EQ(r.readLights, c.lights) << c.data;
        EXPECT_EQ(r.readGroups, c.groups) << c.data;
        EXPECT_EQ(r.readScenes, c.scenes) << c.data;
    }

    // Not the stream's shape: nothing read, nothing thrown.
    for (std::string_view bad :
         {"not json", "{}", R"([{"type":7,"data":[]}])",
          R"([{"type":"update","data":[{"type":5,"id_v1":3}]}])",
          R"([{"type":"error","data":[{"id_v1":"/lights/1","type":"light","on":{"on":true}}]}])"}) {
        const auto r = readStreamEvent(bad);
        EXPECT_TRUE(r.changes.empty() && !r.readLights && !r.readGroups && !r.readScenes) << bad;
    }
}

}  // namespace
}  // namespace lumora
