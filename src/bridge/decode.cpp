#include "bridge/decode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "base/letter_case.h"
#include "base/utf8.h"

namespace lumora {

std::optional<std::int64_t> wholeNumber(const nlohmann::json& v) {
    if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer()) return v.get<std::int64_t>();
    if (v.is_number_float()) {
        // A whole number written with a fraction part (254.0) still reads as one.
        double d = v.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d || d < -9.2e18 || d > 9.2e18)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

namespace {

// Replies are read into the map-based json: its ordered variant looks keys up
// linearly, so an object with very many members (a bridge talking nonsense)
// would take quadratic time. The reply's own member order comes from a
// separate pass that records the top-level keys.
using Json = nlohmann::json;

// A member read as one kind: absent when missing or null; `bad` when present
// with another kind. The bridge's null means "not there".
enum class Read { absent, ok, bad };

const Json* member(const Json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return nullptr;
    return &*it;
}

Read readString(const Json& obj, const char* key, std::string& out) {
    const Json* v = member(obj, key);
    if (!v) return Read::absent;
    if (!v->is_string()) return Read::bad;
    out = v->get<std::string>();
    return Read::ok;
}

Read readBool(const Json& obj, const char* key, bool& out) {
    const Json* v = member(obj, key);
    if (!v) return Read::absent;
    if (!v->is_boolean()) return Read::bad;
    out = v->get<bool>();
    return Read::ok;
}

bool asInteger(const Json& v, std::int64_t& out) {
    auto n = wholeNumber(v);
    if (n) out = *n;
    return n.has_value();
}

Read readInt(const Json& obj, const char* key, std::int64_t& out) {
    const Json* v = member(obj, key);
    if (!v) return Read::absent;
    return asInteger(*v, out) ? Read::ok : Read::bad;
}

Read readStringList(const Json& obj, const char* key, std::vector<std::string>& out) {
    const Json* v = member(obj, key);
    if (!v) return Read::absent;
    if (!v->is_array()) return Read::bad;
    std::vector<std::string> list;
    list.reserve(v->size());
    for (const auto& e : *v) {
        if (!e.is_string()) return Read::bad;
        list.push_back(e.get<std::string>());
    }
    out = std::move(list);
    return Read::ok;
}

Read readFloatList(const Json& obj, const char* key, std::vector<float>& out) {
    const Json* v = member(obj, key);
    if (!v) return Read::absent;
    if (!v->is_array()) return Read::bad;
    std::vector<float> list;
    for (const auto& e : *v) {
        if (!e.is_number()) return Read::bad;
        double d = e.get<double>();
        if (std::fabs(d) > std::numeric_limits<float>::max()) return Read::bad;
        list.push_back(static_cast<float>(d));
    }
    out = std::move(list);
    return Read::ok;
}

// Nested objects (state, capabilities, action) are all-or-nothing: a member
// of the wrong kind anywhere inside makes the whole nested object absent.
struct DeviceState {
    std::optional<bool> reachable, on;
    std::optional<std::string> colormode;
    std::optional<std::vector<float>> xy;
    std::optional<std::int64_t> ct, bri, hue, sat;
};

template <typename T>
bool take(Read r, T& tmp, std::optional<T>& out) {
    if (r == Read::bad) return false;
    if (r == Read::ok) out = std::move(tmp);
    return true;
}

std::optional<DeviceState> readDeviceState(const Json* v) {
    if (!v || !v->is_object()) return std::nullopt;
    DeviceState s;
    bool b;
    std::string str;
    std::int64_t i;
    std::vector<float> xy;
    if (!take(readBool(*v, "reachable", b), b, s.reachable)) return std::nullopt;
    if (!take(readString(*v, "colormode", str), str, s.colormode)) return std::nullopt;
    if (!take(readFloatList(*v, "xy", xy), xy, s.xy)) return std::nullopt;
    if (!take(readInt(*v, "ct", i), i, s.ct)) return std::nullopt;
    if (!take(readInt(*v, "bri", i), i, s.bri)) return std::nullopt;
    if (!take(readInt(*v, "hue", i), i, s.hue)) return std::nullopt;
    if (!take(readInt(*v, "sat", i), i, s.sat)) return std::nullopt;
    if (!take(readBool(*v, "on", b), b, s.on)) return std::nullopt;
    return s;
}

struct CtRange {
    std::optional<std::int64_t> min, max;
};

// capabilities.control.ct, or no value when capabilities is absent or unreadable.
std::optional<std::optional<CtRange>> readCapabilities(const Json* v) {
    if (!v || !v->is_object()) return std::nullopt;
    std::optional<CtRange> range;
    const Json* control = member(*v, "control");
    if (!control) return range;
    if (!control->is_object()) return std::nullopt;
    std::int64_t i;
    std::string s;
    std::optional<std::int64_t> unusedInt;
    std::optional<std::string> unusedStr;
    if (!take(readInt(*control, "mindimlevel", i), i, unusedInt)) return std::nullopt;
    if (!take(readInt(*control, "maxlumen", i), i, unusedInt)) return std::nullopt;
    if (!take(readString(*control, "colorgamuttype", s), s, unusedStr)) return std::nullopt;
    const Json* ct = member(*control, "ct");
    if (ct) {
        if (!ct->is_object()) return std::nullopt;
        CtRange r;
        if (!take(readInt(*ct, "min", i), i, r.min)) return std::nullopt;
        if (!take(readInt(*ct, "max", i), i, r.max)) return std::nullopt;
        range = r;
    }
    return range;
}

bool contains(const std::string& hay, const char* needle) {
    return hay.find(needle) != std::string::npos;
}

class TopLevelKeys : public nlohmann::json_sax<Json> {
  public:
    std::vector<std::string> keys;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return ++depth_, true; }
    bool key(string_t& k) override {
        if (depth_ == 1) keys.push_back(k);
        return true;
    }
    bool end_object() override { return --depth_, true; }
    bool start_array(std::size_t) override { return ++depth_, true; }
    bool end_array() override { return --depth_, true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    int depth_ = 0;
};

struct Reply {
    Json object;
    std::vector<std::string> order;  // member keys as they stand in the reply, first occurrence
};

std::optional<Reply> parseObjectReply(std::string_view body) {
    Reply r;
    r.object = Json::parse(body.begin(), body.end(), nullptr, false);
    if (r.object.is_discarded() || !r.object.is_object()) return std::nullopt;
    for (const auto& [k, v] : r.object.items())
        if (!v.is_object()) return std::nullopt;
    TopLevelKeys keys;
    Json::sax_parse(body.begin(), body.end(), &keys);
    std::unordered_set<std::string> seen;
    r.order.reserve(keys.keys.size());
    for (auto& k : keys.keys)
        if (seen.insert(k).second) r.order.push_back(std::move(k));
    return r;
}

template <typename T>
T valueOr(Read r, T& tmp, T fallback) {
    return r == Read::ok ? tmp : fallback;
}

}  // namespace

std::optional<std::vector<HueLight>> decodeLights(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey) {
    auto reply = parseObjectReply(body);
    if (!reply) return std::nullopt;
    std::vector<HueLight> out;
    out.reserve(reply->order.size());
    for (const auto& id : reply->order) {
        const Json& dev = reply->object.at(id);
        auto state = readDeviceState(member(dev, "state"));
        if (!state || !state->reachable.value_or(false)) continue;

        HueLight l;
        l.lamp_id = id;
        std::string s;
        l.name = valueOr(readString(dev, "name", s), s, std::string("No name"));
        l.product_name = valueOr(readString(dev, "productname", s), s, std::string());
        l.model_id = valueOr(readString(dev, "modelid", s), s, std::string());
        l.unique_id = valueOr(readString(dev, "uniqueid", s), s, std::string());
        std::optional<std::string> type;
        if (readString(dev, "type", s) == Read::ok) type = s;

        l.is_on = state->on.value_or(false);
        l.brightness = state->bri.value_or(0);
        l.hue = state->hue.value_or(0);
        l.saturation = state->sat.value_or(0);
        l.color_temperature = state->ct.value_or(0);
        l.hue_ip = bridgeIP;
        l.hue_key = apiKey;
        if (state->xy && state->xy->size() == 2) {
            l.xy_x = (*state->xy)[0];
            l.xy_y = (*state->xy)[1];
        }

        const std::string cm =
            state->colormode ? asciiLowerCased(*state->colormode) : std::string();
        const bool colorMode = state->colormode && (cm == "hs" || cm == "xy");
        const bool tempMode = state->colormode && cm == "ct";
        const std::string t = type ? asciiLowerCased(*type) : std::string();
        bool color = false, ambient = false, brightness = false;
        bool refine = type.has_value();
        if (colorMode) {
            color = true;
            brightness = true;
            ambient = false;
        } else if (!type) {
            color = false;
            ambient = tempMode;
            brightness = true;
        } else {
            color = contains(t, "color light") && !contains(t, "ambient");
            ambient = (tempMode && !contains(t, "color light")) || contains(t, "ambient");
        }
        if (refine) {
            if (contains(t, "on/off")) {
                color = ambient = brightness = false;
            } else {
                const bool white = contains(t, "color temperature light");
                ambient = ambient || white;
                brightness = true;
                color = color && !white;
            }
        }
        l.allows_color = color;
        l.allows_ambient = ambient;
        l.allows_brightness = brightness;

        if (auto caps = readCapabilities(member(dev, "capabilities")); caps && *caps) {
            if ((*caps)->min) l.ct_min = *(*caps)->min;
            if ((*caps)->max) l.ct_max = *(*caps)->max;
        }
        if (l.model_id == "TRADFRI bulb E27 WS opal 980lm") {
            l.ct_min = 250;
            l.ct_max = 454;
            l.allows_color = false;
            l.allows_ambient = true;
        }
        out.push_back(std::move(l));
    }
    return out;
}

std::optional<std::vector<HueGroup>> decodeGroups(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey) {
    auto reply = parseObjectReply(body);
    if (!reply) return std::nullopt;
    std::vector<HueGroup> out;
    for (const auto& id : reply->order) {
        const Json& g = reply->object.at(id);
        // state: {all_on, any_on}, all-or-nothing.
        const Json* stateJson = member(g, "state");
        if (!stateJson || !stateJson->is_object()) continue;
        bool b;
        std::optional<bool> allOn, anyOn;
        if (!take(readBool(*stateJson, "all_on", b), b, allOn)) continue;
        if (!take(readBool(*stateJson, "any_on", b), b, anyOn)) continue;

        bool recycle = false;
        if (readBool(g, "recycle", recycle) == Read::ok && recycle) continue;

        std::string s;
        std::string type;
        if (readString(g, "type", s) == Read::ok) {
            const std::string lt = asciiLowerCased(s);
            if (lt != "room" && lt != "zone") continue;
            type = s;
        } else {
            type = "unknown";
        }

        HueGroup r;
        r.group_id = id;
        r.type = type;
        r.name = valueOr(readString(g, "name", s), s, std::string("No name"));
        std::vector<std::string> lights;
        r.lights = valueOr(readStringList(g, "lights", lights), lights, std::vector<std::string>());
        r.group_class = valueOr(readString(g, "class", s), s, std::string());
        r.all_on = allOn.value_or(false);
        r.any_on = anyOn.value_or(false);

        // action: {on, bri, sat, hue, ct}, all-or-nothing.
        if (const Json* a = member(g, "action"); a && a->is_object()) {
            std::int64_t i;
            std::optional<bool> on;
            std::optional<std::int64_t> bri, sat, hue, ct;
            if (take(readBool(*a, "on", b), b, on) && take(readInt(*a, "bri", i), i, bri) &&
                take(readInt(*a, "sat", i), i, sat) && take(readInt(*a, "hue", i), i, hue) &&
                take(readInt(*a, "ct", i), i, ct)) {
                r.is_on = on.value_or(false);
                r.brightness = bri.value_or(0);
                r.saturation = sat.value_or(0);
                r.hue = hue.value_or(0);
                r.color_temperature = ct.value_or(0);
            }
        }
        r.hue_ip = bridgeIP;
        r.hue_key = apiKey;
        out.push_back(std::move(r));
    }
    std::stable_sort(out.begin(), out.end(), [](const HueGroup& a, const HueGroup& b) {
        return localizedCaseInsensitiveLess(a.name, b.name);
    });
    return out;
}

std::optional<std::vector<HueScene>> decodeScenes(std::string_view body,
                                                  const std::string& bridgeIP,
                                                  const std::string& apiKey) {
    auto reply = parseObjectReply(body);
    if (!reply) return std::nullopt;
    std::vector<HueScene> out;
    for (const auto& id : reply->order) {
        const Json& sc = reply->object.at(id);
        std::int64_t version = 0;
        if (readInt(sc, "version", version) != Read::ok || version < 2) continue;
        bool recycle = false;
        if (readBool(sc, "recycle", recycle) == Read::ok && recycle) continue;

        HueScene r;
        r.scene_id = id;
        std::string s;
        r.name = valueOr(readString(sc, "name", s), s, std::string("No name"));
        std::vector<std::string> lights;
        r.lights =
            valueOr(readStringList(sc, "lights", lights), lights, std::vector<std::string>());
        r.type = valueOr(readString(sc, "type", s), s, std::string("unknown"));
        r.group = valueOr(readString(sc, "group", s), s, std::string());
        r.hue_ip = bridgeIP;
        r.hue_key = apiKey;
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace lumora
