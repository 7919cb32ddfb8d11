#pragma once
// What the bridge's event stream changes in the program's records, and the
// one-request read of everything that stands in for the refresh while the
// stream is healthy.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_endpoint.h"
#include "bridge/event_stream.h"
#include "bridge/event_stream_client.h"
#include "bridge/records.h"

namespace lumora {

class AppSettings;

// The kinds of record that must be read again.
struct ReadsWanted {
    bool lights = false;
    bool groups = false;
    bool scenes = false;
    bool any() const { return lights || groups || scenes; }
    ReadsWanted& operator|=(const ReadsWanted& o) {
        lights = lights || o.lights;
        groups = groups || o.groups;
        scenes = scenes || o.scenes;
        return *this;
    }
};

// The reads an event asks for, without its exact changes.
ReadsWanted readsOf(const StreamEventMeaning& meaning);

// Applies the exact changes to the lights and groups the settings hold, so
// that they show what a read would: a record a read leaves out (an
// unreachable light, a group that is no room or zone) is not added; a
// brightness reaches only a light that dims; a colour temperature only a
// light that has nothing but colour temperature, clamped to its range (the
// bridge recomputes a colour light's hue and saturation, which only a read
// tells); a group's on is whether any light is, while a read's is what the
// group was last told. What cannot be applied exactly comes back as a read
// to make.
ReadsWanted applyStreamChanges(AppSettings& settings, const std::vector<StreamChange>& changes);
// The same on lists of one's own; the flags tell which list changed.
ReadsWanted applyStreamChanges(std::vector<HueLight>& lights, std::vector<HueGroup>& groups,
                               const std::vector<StreamChange>& changes,
                               bool* lightsTouched = nullptr, bool* groupsTouched = nullptr);

// How long the stream may stay silent before it is opened again. The bridge
// sends nothing while nothing changes, and each reopening is a request and a
// handshake; a stream that died unnoticed meanwhile costs at most what the
// full read every minute does not catch.
inline constexpr auto kStreamSilence = std::chrono::minutes(5);

// Bridges whose configuration names one of these models serve the stream.
bool modelHasEventStream(std::string_view model);

// Where the stream of the bridge behind `endpoint` is read, as whom.
EventStreamTarget eventStreamTarget(const BridgeEndpoint& endpoint);

struct FullState {
    std::vector<HueLight> lights;
    std::vector<HueGroup> groups;
    std::vector<HueScene> scenes;
};

// The bridge's whole state ("/api/USER") read into records with the same
// rules as the three reads; no value when the reply is not that object.
// A part written as it was last time gives back the records decoded then,
// so an unchanged bridge compares equal and nothing redraws (the whole
// reply never repeats: it carries the bridge's clock). Reads on several
// workers may share one.
class FullStateReader {
  public:
    std::optional<FullState> decode(std::string_view body, const std::string& bridgeIP,
                                    const std::string& apiKey);

  private:
    std::mutex mutex_;
    std::string owner_;  // address and user the parts below were read for
    std::string lights_, groups_, scenes_;
    FullState last_;
};

}  // namespace lumora
