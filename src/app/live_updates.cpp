#include "app/live_updates.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/app_settings.h"
#include "bridge/decode.h"

namespace lumora {

ReadsWanted readsOf(const StreamEventMeaning& meaning) {
    return {meaning.readLights, meaning.readGroups, meaning.readScenes};
}

namespace {

// True when it changed the light; `wanted` gets what needs a read instead.
bool applyToLight(HueLight& l, const StreamChange& c, ReadsWanted& wanted) {
    const HueLight before = l;
    if (c.on) l.is_on = *c.on;
    // A light that does not dim reads with no brightness at all.
    if (c.bri && l.allows_brightness) l.brightness = *c.bri;
    if (c.ct) {
        if (l.allows_ambient && !l.allows_color)
            l.color_temperature = clamped(*c.ct, l.ct_min, l.ct_max);
        else
            wanted.lights = true;
    }
    return !(l == before);
}

bool applyToGroup(HueGroup& g, const StreamChange& c, ReadsWanted& wanted) {
    const HueGroup before = g;
    if (c.on) {
        // The stream's on of a group is whether any of its lights is; a
        // read's is what the group was last told, and whether all are on.
        // Only a read says those.
        g.any_on = *c.on;
        if (!*c.on) g.all_on = false;
        wanted.groups = true;
    }
    if (c.bri) g.brightness = *c.bri;
    if (c.ct) g.color_temperature = *c.ct;
    return !(g == before);
}

}  // namespace

ReadsWanted applyStreamChanges(std::vector<HueLight>& lights, std::vector<HueGroup>& groups,
                               const std::vector<StreamChange>& changes, bool* lightsTouched,
                               bool* groupsTouched) {
    ReadsWanted wanted;
    bool lightsChanged = false, groupsChanged = false;
    for (const StreamChange& c : changes) {
        if (c.resource == StreamResource::light) {
            for (HueLight& l : lights)
                if (l.lamp_id == c.id) lightsChanged |= applyToLight(l, c, wanted);
        } else {
            for (HueGroup& g : groups)
                if (g.group_id == c.id) groupsChanged |= applyToGroup(g, c, wanted);
        }
    }
    if (lightsTouched) *lightsTouched = lightsChanged;
    if (groupsTouched) *groupsTouched = groupsChanged;
    return wanted;
}

ReadsWanted applyStreamChanges(AppSettings& settings, const std::vector<StreamChange>& changes) {
    std::vector<HueLight> lights = settings.lights();
    std::vector<HueGroup> groups = settings.groups();
    bool lightsTouched = false, groupsTouched = false;
    const ReadsWanted wanted =
        applyStreamChanges(lights, groups, changes, &lightsTouched, &groupsTouched);
    // One change per list, and none when nothing differs: an echo of what the
    // panel already shows redraws nothing.
    if (lightsTouched) settings.setLights(std::move(lights));
    if (groupsTouched) settings.setGroups(std::move(groups));
    return wanted;
}

bool modelHasEventStream(std::string_view model) {
    return model == "BSB002" || model == "BSB003";
}

EventStreamTarget eventStreamTarget(const BridgeEndpoint& endpoint) {
    EventStreamTarget t;
    t.url = endpoint.base() + "/eventstream/clip/v2";
    t.applicationKey = endpoint.user;
    t.tls = endpoint.identity();
    return t;
}

std::optional<FullState> FullStateReader::decode(std::string_view body, const std::string& bridgeIP,
                                                 const std::string& apiKey) {
    const auto all = nlohmann::json::parse(body, nullptr, false);
    if (all.is_discarded() || !all.is_object()) return std::nullopt;
    // Each part goes through the reader of its collection, so the rules are
    // those of that read; a missing part is an empty one.
    auto part = [&](const char* key) {
        const auto it = all.find(key);
        return it == all.end() || it->is_null() ? std::string("{}") : it->dump();
    };
    std::string lightsPart = part("lights"), groupsPart = part("groups"),
                scenesPart = part("scenes");
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string owner = bridgeIP + "\n" + apiKey;
    if (owner != owner_) {
        owner_ = owner;
        lights_.clear();
        groups_.clear();
        scenes_.clear();
    }
    FullState out;
    if (lightsPart == lights_) {
        out.lights = last_.lights;
    } else {
        auto lights = decodeLights(lightsPart, bridgeIP, apiKey);
        if (!lights) return std::nullopt;
        // The part was written out again with its members by name; the
        // bridge lists its lights by number, and new ones join the panel in
        // that order.
        std::stable_sort(lights->begin(), lights->end(), [](const HueLight& a, const HueLight& b) {
            return a.lamp_id.size() != b.lamp_id.size() ? a.lamp_id.size() < b.lamp_id.size()
                                                        : a.lamp_id < b.lamp_id;
        });
        out.lights = std::move(*lights);
    }
    if (groupsPart == groups_) {
        out.groups = last_.groups;
    } else {
        auto groups = decodeGroups(groupsPart, bridgeIP, apiKey);
        if (!groups) return std::nullopt;
        out.groups = std::move(*groups);
    }
    if (scenesPart == scenes_) {
        out.scenes = last_.scenes;
    } else {
        auto scenes = decodeScenes(scenesPart, bridgeIP, apiKey);
        if (!scenes) return std::nullopt;
        out.scenes = std::move(*scenes);
    }
    lights_ = std::move(lightsPart);
    groups_ = std::move(groupsPart);
    scenes_ = std::move(scenesPart);
    last_ = out;
    return out;
}

}  // namespace lumora
