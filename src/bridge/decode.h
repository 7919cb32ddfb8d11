#pragma once
// Turning the bridge's read replies into records, with the program's
// leniency, filtering, capability and sorting rules.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/collation.h"
#include "bridge/records.h"

namespace lumora {

// How every reply reads an integer: a JSON integer that fits, or a number
// written with a zero fraction part (254.0). No value for anything else.
std::optional<std::int64_t> wholeNumber(const nlohmann::json& v);

// Each returns no value when the reply cannot be read at all: not JSON, not
// an object (the bridge's error list), or a member that is not an object.
std::optional<std::vector<HueLight>> decodeLights(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey);
std::optional<std::vector<HueGroup>> decodeGroups(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey);
std::optional<std::vector<HueScene>> decodeScenes(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey);

}  // namespace lumora
