#pragma once
// What the event stream says about a change of the bridge's state: the
// model is compared before and after each change, so every way of changing
// it (a client's request, a schedule firing, the control API, a fixture)
// yields the same events without each of them having to report.

#include <random>
#include <string>

#include "simulator/replies.h"

namespace lumora::sim {

// The part of the state the stream reports: each light's state and name,
// each group's action, name and type (group 0 included), each scene's name.
// A group's "on" is whether any of its lights is on, not what its action
// last set: a light switched alone switches its groups too.
Json streamView(const Json& lights, const Json& groups, const Json& groupZeroAction,
                const Json& scenes);

// The event containers that take a stream client from `before` to `after`
// (both streamView()s): an "update" with the changed members of each light
// and group, "add" and "delete" for resources that appear or go. An empty
// list when nothing the stream shows has changed.
Json changeEvents(const Json& before, const Json& after, const std::string& bridgeId,
                  const std::string& creationTime, std::mt19937_64& random);

// The same id for the same resource of the same bridge, every run: a
// client may keep it across reconnects and restarts.
std::string resourceUuid(const std::string& bridgeId, const std::string& type,
                         const std::string& idV1);
std::string randomUuid(std::mt19937_64& random);

}  // namespace lumora::sim
