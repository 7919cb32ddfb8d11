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

// An embedded fixture by name only.
Json readEmbeddedFixture(const std::string& name, std::string* error);

// A fixture file that lies inside `folder` once every link is followed:
// `path` relative to the folder or absolute. A regular file of at most
// kMaxFixtureBytes. Sets *outside when the file lies elsewhere.
inline constexpr std::size_t kMaxFixtureBytes = 16u * 1024u * 1024u;
Json readFixtureIn(const std::string& folder, const std::string& path, std::string* error,
                   bool* outside);

}  // namespace lumora::sim
