#pragma once
// Fixtures: the bridge states the simulator starts from. The JSON files under
// simulator/fixtures/ are compiled into the library, so that a fixture is
// found by name from any working directory.

#include <string>
#include <string_view>
#include <vector>

#include "simulator/replies.h"

namespace lumora::sim {

struct EmbeddedFixture {
    std::string_view name;  // the file name without ".json"
    std::string_view text;
};

// Generated at build time from simulator/fixtures/*.json.
const std::vector<EmbeddedFixture>& embeddedFixtures();

// An embedded fixture's name, else a file path. Sets *error and returns a
// discarded value when the fixture cannot be found or read.
Json readFixture(const std::string& nameOrPath, std::string* error);

}  // namespace lumora::sim
