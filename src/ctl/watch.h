#pragma once
// lumora-ctl watch: one line per change at the bridge, as it happens where
// the bridge has an event stream, by reading every few seconds where not.

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "bridge/bridge_endpoint.h"
#include "bridge/records.h"

namespace lumora::ctl {

struct WatchSetup {
    HttpTransport transport;
    BridgeEndpoint bridge;  // linked, with its user name
    std::string model;      // as the configuration read named it
    bool json = false;
    std::chrono::milliseconds pollPeriod{3500};
    std::chrono::milliseconds safetyPeriod{60000};
};

// Runs until SIGINT or SIGTERM, or until writing to `out` fails (a closed
// pipe: SIGPIPE is ignored meanwhile); 0 then. 1, said on `err`, when the
// first read fails.
int watch(const WatchSetup& setup, std::ostream& out, std::ostream& err);

// The lines for what differs between two reads: one per light or group that
// changed, came or went, with only the members that changed.
std::vector<std::string> changeLines(const std::vector<HueLight>& beforeLights,
                                     const std::vector<HueGroup>& beforeGroups,
                                     const std::vector<HueLight>& afterLights,
                                     const std::vector<HueGroup>& afterGroups, bool json);

}  // namespace lumora::ctl
