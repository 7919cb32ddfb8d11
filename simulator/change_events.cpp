#include "simulator/change_events.h"

#include <openssl/sha.h>

#include <cmath>
#include <cstdio>

namespace lumora::sim {

namespace {

std::string formatUuid(const unsigned char* bytes) {
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

const Json* member(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// Same presence and value.
bool same(const Json& a, const Json& b, const char* key) {
    const Json* x = member(a, key);
    const Json* y = member(b, key);
    return x == nullptr ? y == nullptr : y != nullptr && *x == *y;
}

// v1 bri (1-254) as percent with two decimals: enough that bri comes back exactly.
double brightnessPercent(const Json& bri) {
    return std::round(bri.get<double>() / 2.54 * 100.0) / 100.0;
}

// The v2 members of a light state or group action that differ between `a`
// and `b`, written into `item`.
void stateMembers(const Json& a, const Json& b, Json& item) {
    if (!same(a, b, "on")) {
        if (const Json* on = member(b, "on"); on && on->is_boolean()) item["on"] = {{"on", *on}};
    }
    if (!same(a, b, "bri")) {
        if (const Json* bri = member(b, "bri"); bri && bri->is_number()) {
            item["dimming"] = {{"brightness", brightnessPercent(*bri)}};
        }
    }
    if (!same(a, b, "ct")) {
        if (const Json* ct = member(b, "ct"); ct && ct->is_number_integer()) {
            item["color_temperature"] = {{"mirek", *ct}};
        }
    }
    // The stream knows colour only as xy: a change of hue or saturation is
    // told as the colour the light now has.
    if (!same(a, b, "xy") || !same(a, b, "hue") || !same(a, b, "sat")) {
        const Json* xy = member(b, "xy");
        if (xy && xy->is_array() && xy->size() == 2 && (*xy)[0].is_number() &&
            (*xy)[1].is_number()) {
            item["color"] = {{"xy", {{"x", (*xy)[0]}, {"y", (*xy)[1]}}}};
        }
    }
    if (!same(a, b, "effect")) {
        if (const Json* effect = member(b, "effect"); effect && effect->is_string()) {
            item["effects"] = {{"status", *effect == "colorloop" ? "colorloop" : "no_effect"}};
        }
    }
}

class Builder {
  public:
    Builder(const std::string& bridgeId, const std::string& creationTime, std::mt19937_64& random)
        : bridgeId_(bridgeId), creationTime_(creationTime), random_(random) {}

    Json item(const std::string& type, const std::string& idV1) const {
        Json item = Json::object();
        item["id"] = resourceUuid(bridgeId_, type, idV1);
        item["id_v1"] = idV1;
        item["type"] = type;
        return item;
    }

    // An item is kept only when it says more than which resource it is.
    void update(Json item) {
        if (item.size() > 3) updates_.push_back(std::move(item));
    }
    void add(Json item) { adds_.push_back(std::move(item)); }
    void remove(Json item) { deletes_.push_back(std::move(item)); }

    Json containers() {
        Json list = Json::array();
        for (const auto& [kind, items] : {std::pair<const char*, Json*>{"add", &adds_},
                                          {"update", &updates_},
                                          {"delete", &deletes_}}) {
            if (items->empty()) continue;
            Json container = Json::object();
            container["creationtime"] = creationTime_;
            container["data"] = std::move(*items);
            container["id"] = randomUuid(random_);
            container["type"] = kind;
            list.push_back(std::move(container));
        }
        return list;
    }

  private:
    const std::string& bridgeId_;
    const std::string& creationTime_;
    std::mt19937_64& random_;
    Json adds_ = Json::array();
    Json updates_ = Json::array();
    Json deletes_ = Json::array();
};

std::string groupType(const Json& group) {
    const Json* type = member(group, "type");
    if (type && *type == "Room") return "room";
    if (type && *type == "Zone") return "zone";
    return "grouped_light";
}

Json nameMember(const Json& view) {
    const Json* name = member(view, "name");
    return Json{{"name", name ? *name : Json("")}};
}

void compareLights(const Json& before, const Json& after, Builder& out) {
    for (const auto& [id, light] : after.items()) {
        const std::string idV1 = "/lights/" + id;
        auto old = before.find(id);
        if (old == before.end()) {
            Json item = out.item("light", idV1);
            item["metadata"] = nameMember(light);
            stateMembers(Json::object(), light["state"], item);
            out.add(std::move(item));
            continue;
        }
        Json item = out.item("light", idV1);
        if (!same(*old, light, "name")) item["metadata"] = nameMember(light);
        stateMembers((*old)["state"], light["state"], item);
        out.update(std::move(item));
        if (!same((*old)["state"], light["state"], "reachable")) {
            Json link = out.item("zigbee_connectivity", idV1);
            const Json* reachable = member(light["state"], "reachable");
            link["status"] = reachable && *reachable == false ? "connectivity_issue" : "connected";
            out.update(std::move(link));
        }
    }
    for (const auto& [id, light] : before.items()) {
        if (!after.contains(id)) out.remove(out.item("light", "/lights/" + id));
    }
}

void compareGroups(const Json& before, const Json& after, Builder& out) {
    for (const auto& [id, group] : after.items()) {
        const std::string idV1 = "/groups/" + id;
        auto old = before.find(id);
        if (old == before.end()) {
            Json item = out.item(groupType(group), idV1);
            item["metadata"] = nameMember(group);
            out.add(std::move(item));
            continue;
        }
        Json item = out.item("grouped_light", idV1);
        stateMembers((*old)["action"], group["action"], item);
        out.update(std::move(item));
        if (!same(*old, group, "name") || !same(*old, group, "lights")) {
            Json described = out.item(groupType(group), idV1);
            described["metadata"] = nameMember(group);
            out.update(std::move(described));
        }
    }
    for (const auto& [id, group] : before.items()) {
        if (!after.contains(id)) out.remove(out.item(groupType(group), "/groups/" + id));
    }
}

void compareScenes(const Json& before, const Json& after, Builder& out) {
    for (const auto& [id, scene] : after.items()) {
        const std::string idV1 = "/scenes/" + id;
        auto old = before.find(id);
        if (old == before.end() || *old != scene) {
            Json item = out.item("scene", idV1);
            item["metadata"] = nameMember(scene);
            if (old == before.end()) {
                out.add(std::move(item));
            } else {
                out.update(std::move(item));
            }
        }
    }
    for (const auto& [id, scene] : before.items()) {
        if (!after.contains(id)) out.remove(out.item("scene", "/scenes/" + id));
    }
}

}  // namespace

Json streamView(const Json& lights, const Json& groups, const Json& groupZeroAction,
                const Json& scenes) {
    Json view = {
        {"lights", Json::object()}, {"groups", Json::object()}, {"scenes", Json::object()}};
    for (const auto& [id, light] : lights.items()) {
        const Json* state = member(light, "state");
        const Json* name = member(light, "name");
        view["lights"][id] = {{"state", state && state->is_object() ? *state : Json::object()},
                              {"name", name ? *name : Json()}};
    }
    // A group is on when any of its lights is, whatever its action last said.
    bool anyOn = false;
    for (const auto& [id, light] : view["lights"].items()) {
        anyOn = anyOn || boolOr(light["state"], "on", false);
    }
    Json zero = groupZeroAction.is_object() ? groupZeroAction : Json::object();
    zero["on"] = anyOn;
    view["groups"]["0"] = {{"action", std::move(zero)}, {"name", "Group 0"}};
    for (const auto& [id, group] : groups.items()) {
        const Json* action = member(group, "action");
        Json entry = {{"action", action && action->is_object() ? *action : Json::object()}};
        if (const Json* state = member(group, "state"); state && state->is_object()) {
            entry["action"]["on"] = boolOr(*state, "any_on", false);
        }
        for (const char* key : {"name", "type", "lights"}) {
            if (const Json* value = member(group, key)) entry[key] = *value;
        }
        view["groups"][id] = std::move(entry);
    }
    for (const auto& [id, scene] : scenes.items()) {
        Json entry = Json::object();
        for (const char* key : {"name", "lights", "lightstates"}) {
            if (const Json* value = member(scene, key)) entry[key] = *value;
        }
        view["scenes"][id] = std::move(entry);
    }
    return view;
}

Json changeEvents(const Json& before, const Json& after, const std::string& bridgeId,
                  const std::string& creationTime, std::mt19937_64& random) {
    Builder out(bridgeId, creationTime, random);
    compareLights(before["lights"], after["lights"], out);
    compareGroups(before["groups"], after["groups"], out);
    compareScenes(before["scenes"], after["scenes"], out);
    return out.containers();
}

std::string resourceUuid(const std::string& bridgeId, const std::string& type,
                         const std::string& idV1) {
    const std::string name = bridgeId + " " + type + " " + idV1;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest);
    digest[6] = static_cast<unsigned char>((digest[6] & 0x0f) | 0x50);  // name-based
    digest[8] = static_cast<unsigned char>((digest[8] & 0x3f) | 0x80);
    return formatUuid(digest);
}

std::string randomUuid(std::mt19937_64& random) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 8) {
        const auto value = random();
        for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<unsigned char>(value >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    return formatUuid(bytes);
}

}  // namespace lumora::sim
