// Any bytes as the bridge's event stream: the events read do not depend on how
// the bytes were split, none is larger than the cap, and what each says about
// the records stays within the records' ranges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/event_stream.h"

namespace {

constexpr std::size_t kCap = 4096;

struct Read {
    std::vector<lumora::ServerSentEvent> events;
    std::size_t dropped = 0;
    std::string lastId;
};

Read readAll(std::string_view bytes, std::size_t step) {
    lumora::EventStreamParser parser(kCap);
    Read read;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        parser.feed(bytes.substr(at, step),
                    [&](const lumora::ServerSentEvent& e) { read.events.push_back(e); });
    read.dropped = parser.dropped();
    read.lastId = parser.lastEventId();
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t step = 1 + data[0] % 7;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Read whole = readAll(bytes, bytes.size() + 1);
    const Read split = readAll(bytes, step);
    if (whole.events.size() != split.events.size() || whole.dropped != split.dropped ||
        whole.lastId != split.lastId)
        std::abort();
    for (std::size_t i = 0; i < whole.events.size(); ++i) {
        const auto& a = whole.events[i];
        const auto& b = split.events[i];
        if (a.data != b.data || a.id != b.id || a.type != b.type) std::abort();
        if (a.data.size() > kCap) std::abort();
        const lumora::StreamEventMeaning meaning = lumora::readStreamEvent(a.data);
        for (const auto& change : meaning.changes) {
            if (change.id.empty() || change.id.find_first_not_of("0123456789") != std::string::npos)
                std::abort();
            if (!change.on && !change.bri && !change.ct) std::abort();
            if (change.bri && (*change.bri < 1 || *change.bri > 254)) std::abort();
            if (change.ct && (*change.ct < 1 || *change.ct > 65535)) std::abort();
        }
    }
    return 0;
}
