#pragma once
// The keys a light state or group action accepts: their value checks, the
// bridge's clamping, and how each one changes a light.

#include <optional>
#include <string>
#include <string_view>

#include "simulator/replies.h"

namespace lumora::sim {

enum class StateKey {
    on,
    bri,
    hue,
    sat,
    xy,
    ct,
    alert,
    effect,
    transitiontime,
    bri_inc,
    sat_inc,
    hue_inc,
    ct_inc,
    xy_inc,
    scene,  // group actions only
};

enum class ColourMode { none, hs, ct, xy };  // in rising priority

std::optional<StateKey> stateKeyFromName(std::string_view name);
const char* nameOf(StateKey key);
// The state member a key changes: "bri" for bri_inc; nullptr for
// transitiontime and scene, which change no member.
const char* memberOf(StateKey key);
bool isIncrement(StateKey key);
// Keys refused while the light is off (unless the same body switches it on).
bool needsLightOn(StateKey key);
ColourMode colourModeOf(StateKey key);
const char* nameOf(ColourMode mode);  // "hs", "ct", "xy"

// Checks a value without regard to any light and applies the bridge's
// light-independent clamping (bri 0 -> 1, bri and sat 255 -> 254, xy rounded
// to 4 decimals). nullopt: invalid value (error 7).
std::optional<Json> normaliseValue(StateKey key, const Json& value);

// The member's new value for one light (`light` is the whole light object,
// for its colour temperature range): the checked value itself, clamped to
// the light's range, or for increments the saturated or wrapped result.
Json resultingValue(const Json& light, StateKey key, const Json& value);

// The colour temperature range of a light: capabilities.control.ct, else 153-500.
std::pair<int, int> ctRange(const Json& light);

// The raw text of a member's value in a JSON body, up to and including the
// delimiter that ends it ("300}" or "-1,"), for type 7 descriptions. Falls
// back to the value's JSON text.
std::string rawToken(std::string_view body, std::string_view key, const Json& value);

}  // namespace lumora::sim
