#pragma once
// Turning the bridge's read replies into records, with the program's
// leniency, filtering, capability and sorting rules.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Locale-aware, case-insensitive ordering of names: true when `a` sorts
// strictly before `b`. Letters with diacritics sort with their base letter.
// The collation of the user's locale (LC_ALL, LC_COLLATE, LANG).
bool localizedCaseInsensitiveLess(std::string_view a, std::string_view b);
// The same for a given locale ("de_DE", "sv_SE"; "" for the root order).
bool collatedLess(std::string_view a, std::string_view b, const std::string& locale);

}  // namespace lumora
