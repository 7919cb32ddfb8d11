#include "simulator/light_values.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace lumora::sim {

namespace {

struct KeyInfo {
    StateKey key;
    const char* name;
    const char* member;
    bool needsOn;
    ColourMode mode;
};

constexpr std::array<KeyInfo, 15> kKeys{{
    {StateKey::on, "on", "on", false, ColourMode::none},
    {StateKey::bri, "bri", "bri", true, ColourMode::none},
    {StateKey::hue, "hue", "hue", true, ColourMode::hs},
    {StateKey::sat, "sat", "sat", true, ColourMode::hs},
    {StateKey::xy, "xy", "xy", true, ColourMode::xy},
    {StateKey::ct, "ct", "ct", true, ColourMode::ct},
    {StateKey::alert, "alert", "alert", false, ColourMode::none},
    {StateKey::effect, "effect", "effect", true, ColourMode::none},
    {StateKey::transitiontime, "transitiontime", nullptr, false, ColourMode::none},
    {StateKey::bri_inc, "bri_inc", "bri", true, ColourMode::none},
    {StateKey::sat_inc, "sat_inc", "sat", true, ColourMode::hs},
    {StateKey::hue_inc, "hue_inc", "hue", true, ColourMode::hs},
    {StateKey::ct_inc, "ct_inc", "ct", true, ColourMode::ct},
    {StateKey::xy_inc, "xy_inc", "xy", true, ColourMode::xy},
    {StateKey::scene, "scene", nullptr, false, ColourMode::none},
}};

const KeyInfo& info(StateKey key) {
    return kKeys[static_cast<std::size_t>(key)];
}

std::optional<std::int64_t> asInteger(const Json& value) {
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

std::optional<std::int64_t> integerIn(const Json& value, std::int64_t low, std::int64_t high) {
    auto v = asInteger(value);
    if (!v || *v < low || *v > high) return std::nullopt;
    return v;
}

double round4(double v) {
    return std::round(v * 10000.0) / 10000.0;
}

std::optional<Json> pairIn(const Json& value, double low, double high) {
    if (!value.is_array() || value.size() != 2) return std::nullopt;
    Json result = Json::array();
    for (const auto& entry : value) {
        if (!entry.is_number()) return std::nullopt;
        double v = entry.get<double>();
        if (!(v >= low && v <= high)) return std::nullopt;
        result.push_back(round4(v));
    }
    return result;
}

std::int64_t memberOr(const Json& state, const char* member, std::int64_t fallback) {
    auto it = state.find(member);
    if (it == state.end()) return fallback;
    return asInteger(*it).value_or(fallback);
}

}  // namespace

std::optional<StateKey> stateKeyFromName(std::string_view name) {
    for (const auto& k : kKeys) {
        if (name == k.name) return k.key;
    }
    return std::nullopt;
}

const char* nameOf(StateKey key) {
    return info(key).name;
}
const char* memberOf(StateKey key) {
    return info(key).member;
}
bool needsLightOn(StateKey key) {
    return info(key).needsOn;
}
ColourMode colourModeOf(StateKey key) {
    return info(key).mode;
}

bool isIncrement(StateKey key) {
    switch (key) {
        case StateKey::bri_inc:
        case StateKey::sat_inc:
        case StateKey::hue_inc:
        case StateKey::ct_inc:
        case StateKey::xy_inc:
            return true;
        default:
            return false;
    }
}

const char* nameOf(ColourMode mode) {
    switch (mode) {
        case ColourMode::hs:
            return "hs";
        case ColourMode::ct:
            return "ct";
        case ColourMode::xy:
            return "xy";
        case ColourMode::none:
            break;
    }
    return "";
}

std::optional<Json> normaliseValue(StateKey key, const Json& value) {
    switch (key) {
        case StateKey::on:
            if (value.is_boolean()) return value;
            return std::nullopt;
        case StateKey::bri:
            if (auto v = integerIn(value, 0, 255)) return std::clamp<std::int64_t>(*v, 1, 254);
            return std::nullopt;
        case StateKey::sat:
            if (auto v = integerIn(value, 0, 255)) return std::min<std::int64_t>(*v, 254);
            return std::nullopt;
        case StateKey::hue:
        case StateKey::ct:
        case StateKey::transitiontime:
            if (auto v = integerIn(value, 0, 65535)) return *v;
            return std::nullopt;
        case StateKey::bri_inc:
        case StateKey::sat_inc:
            if (auto v = integerIn(value, -254, 254)) return *v;
            return std::nullopt;
        case StateKey::hue_inc:
        case StateKey::ct_inc:
            if (auto v = integerIn(value, -65534, 65534)) return *v;
            return std::nullopt;
        case StateKey::xy:
            return pairIn(value, 0.0, 1.0);
        case StateKey::xy_inc:
            return pairIn(value, -0.5, 0.5);
        case StateKey::alert:
            if (value == "none" || value == "select" || value == "lselect") return value;
            return std::nullopt;
        case StateKey::effect:
            if (value == "none" || value == "colorloop") return value;
            return std::nullopt;
        case StateKey::scene:
            if (value.is_string() && !value.get_ref<const std::string&>().empty()) return value;
            return std::nullopt;
    }
    return std::nullopt;
}

std::pair<int, int> ctRange(const Json& light) {
    int low = 153;
    int high = 500;
    if (!light.is_object()) return {low, high};
    const Json* ct = &light;
    for (const char* step : {"capabilities", "control", "ct"}) {
        auto it = ct->find(step);
        if (it == ct->end() || !it->is_object()) return {low, high};
        ct = &*it;
    }
    auto min = ct->find("min");
    auto max = ct->find("max");
    if (min != ct->end() && min->is_number_integer()) low = min->get<int>();
    if (max != ct->end() && max->is_number_integer()) high = max->get<int>();
    if (low > high) return {153, 500};
    return {low, high};
}

Json resultingValue(const Json& light, StateKey key, const Json& value) {
    static const Json kNoState = Json::object();
    auto stateIt = light.find("state");
    const Json& state = stateIt != light.end() && stateIt->is_object() ? *stateIt : kNoState;
    auto [ctLow, ctHigh] = ctRange(light);
    switch (key) {
        case StateKey::ct:
            return std::clamp<std::int64_t>(value.get<std::int64_t>(), ctLow, ctHigh);
        case StateKey::bri_inc:
            return std::clamp<std::int64_t>(memberOr(state, "bri", 1) + value.get<std::int64_t>(),
                                            1, 254);
        case StateKey::sat_inc:
            return std::clamp<std::int64_t>(memberOr(state, "sat", 0) + value.get<std::int64_t>(),
                                            0, 254);
        case StateKey::hue_inc: {
            std::int64_t sum = memberOr(state, "hue", 0) + value.get<std::int64_t>();
            return ((sum % 65536) + 65536) % 65536;
        }
        case StateKey::ct_inc:
            return std::clamp<std::int64_t>(
                memberOr(state, "ct", ctLow) + value.get<std::int64_t>(), ctLow, ctHigh);
        case StateKey::xy_inc: {
            Json current = Json::array({0.0, 0.0});
            if (auto it = state.find("xy"); it != state.end() && pairIn(*it, 0.0, 1.0)) {
                current = *it;
            }
            Json result = Json::array();
            for (std::size_t i = 0; i < 2; ++i) {
                double sum = current[i].get<double>() + value[i].get<double>();
                result.push_back(round4(std::clamp(sum, 0.0, 1.0)));
            }
            return result;
        }
        default:
            return value;
    }
}

std::string rawToken(std::string_view body, std::string_view key, const Json& value) {
    std::string quoted = "\"" + std::string(key) + "\"";
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (auto at = body.find(quoted); at != std::string_view::npos;
         at = body.find(quoted, at + 1)) {
        std::size_t p = at + quoted.size();
        while (p < body.size() && isSpace(body[p])) ++p;
        if (p >= body.size() || body[p] != ':') continue;
        ++p;
        while (p < body.size() && isSpace(body[p])) ++p;
        if (p >= body.size()) break;
        std::size_t end = p;
        if (body[p] == '"') {
            for (end = p + 1; end < body.size() && body[end] != '"'; ++end) {
                if (body[end] == '\\') ++end;
            }
            return std::string(body.substr(p + 1, std::min(end, body.size()) - p - 1));
        }
        if (body[p] == '[' || body[p] == '{') {
            int depth = 0;
            bool inString = false;
            for (; end < body.size(); ++end) {
                char c = body[end];
                if (inString) {
                    if (c == '\\')
                        ++end;
                    else if (c == '"')
                        inString = false;
                } else if (c == '"') {
                    inString = true;
                } else if (c == '[' || c == '{') {
                    ++depth;
                } else if ((c == ']' || c == '}') && --depth == 0) {
                    break;
                }
            }
            return std::string(body.substr(p, std::min(end + 1, body.size()) - p));
        }
        // A scalar: up to and including the delimiter that ends it.
        while (end < body.size() && body[end] != ',' && body[end] != '}' && body[end] != ']' &&
               !isSpace(body[end])) {
            ++end;
        }
        return std::string(body.substr(p, std::min(end + 1, body.size()) - p));
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace lumora::sim
