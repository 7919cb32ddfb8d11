#pragma once
// The bridge's event stream: server-sent events read as the bytes arrive,
// and what each event says about the records the program keeps.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

struct ServerSentEvent {
    std::string id;    // the last `id:` seen so far, as the stream defines it
    std::string type;  // `event:`, "message" when none was given
    std::string data;  // the `data:` lines joined by "\n"
};

// An incremental reader: bytes may be split anywhere, an event may span many
// reads and one read may hold many events. Lines end in LF, CRLF or CR.
// An event whose lines come to more than `maxEventBytes` is dropped whole
// (counted in `dropped()`) and the reader goes on at the next event: a
// misbehaving peer costs at most that much memory.
class EventStreamParser {
  public:
    explicit EventStreamParser(std::size_t maxEventBytes = 1u << 20);

    void feed(std::string_view bytes, const std::function<void(const ServerSentEvent&)>& onEvent);

    // What a reconnect sends as Last-Event-ID.
    const std::string& lastEventId() const { return lastId_; }
    // The wait the server asked for before a reconnect, if it did.
    std::optional<std::int64_t> retryMillis() const { return retry_; }
    std::size_t dropped() const { return dropped_; }

  private:
    void process(std::string_view bytes,
                 const std::function<void(const ServerSentEvent&)>& onEvent);
    void line(std::string_view text, const std::function<void(const ServerSentEvent&)>& onEvent);
    void endOfEvent(const std::function<void(const ServerSentEvent&)>& onEvent);

    std::size_t cap_;
    std::string line_;
    bool lineTooLong_ = false;
    bool afterCR_ = false;
    bool started_ = false;
    std::string hold_;
    std::string data_;
    std::string type_;
    bool hasData_ = false;
    std::size_t eventBytes_ = 0;
    bool discarding_ = false;
    std::string lastId_;
    std::optional<std::int64_t> retry_;
    std::size_t dropped_ = 0;
};

enum class StreamResource { light, group };

// One change the event describes exactly: a light's or group's on state,
// brightness (1–254) or colour temperature (mired), by its id.
struct StreamChange {
    StreamResource resource = StreamResource::light;
    std::string id;
    std::optional<bool> on;
    std::optional<std::int64_t> bri;
    std::optional<std::int64_t> ct;
};

// What one event's data means for the records: exact changes to apply as a
// read would, and the kinds of record that must be read again because the
// event says something it cannot say exactly (a colour as xy, a light added
// or deleted, a scene, membership, reachability, a name).
struct StreamEventMeaning {
    bool readable = false;  // a JSON list of event containers
    std::vector<StreamChange> changes;
    bool readLights = false;
    bool readGroups = false;
    bool readScenes = false;
};

StreamEventMeaning readStreamEvent(std::string_view data);

}  // namespace lumora
