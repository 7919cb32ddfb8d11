#include "app/light_order.h"

#include <algorithm>
#include <set>

#include "base/setting_keys.h"

namespace lumora {

std::vector<std::string> loadDeviceOrder(const DefaultsStore& store) {
    const std::string text = store.string(keys::lightOrder).value_or("");
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

void saveDeviceOrder(const std::vector<HueLight>& lights, DefaultsStore& store) {
    std::string text;
    for (size_t i = 0; i < lights.size(); ++i) {
        if (i) text += ",";
        text += lights[i].lamp_id;
    }
    store.setString(keys::lightOrder, text);
}

std::vector<HueLight> orderedLights(const std::vector<HueLight>& lights,
                                    const DefaultsStore& store) {
    std::vector<HueLight> out;
    std::set<std::string> placed;
    for (const auto& id : loadDeviceOrder(store)) {
        if (id.empty() || placed.count(id)) continue;
        auto it = std::find_if(lights.begin(), lights.end(),
                               [&](const HueLight& l) { return l.lamp_id == id; });
        if (it == lights.end()) continue;
        out.push_back(*it);
        placed.insert(id);
    }
    for (const auto& l : lights) {
        if (placed.count(l.lamp_id)) continue;
        out.push_back(l);
        placed.insert(l.lamp_id);
    }
    return out;
}

std::vector<HueScene> orderedScenes(std::vector<HueScene> scenes) {
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const HueScene& a, const HueScene& b) { return a.scene_id < b.scene_id; });
    return scenes;
}

std::vector<HueLight> mergeOrderedLightListWithNew(const std::vector<HueLight>& existing,
                                                   const std::vector<HueLight>& fresh,
                                                   const DefaultsStore& store) {
    std::set<std::string> existingIds, freshIds;
    for (const auto& l : existing) existingIds.insert(l.lamp_id);
    for (const auto& l : fresh) freshIds.insert(l.lamp_id);

    std::vector<std::string> combined;
    for (const auto& l : existing)
        if (freshIds.count(l.lamp_id)) combined.push_back(l.lamp_id);
    for (const auto& l : fresh)
        if (!existingIds.count(l.lamp_id)) combined.push_back(l.lamp_id);

    std::vector<HueLight> out;
    out.reserve(combined.size());
    for (const auto& id : combined) {
        auto it = std::find_if(fresh.begin(), fresh.end(),
                               [&](const HueLight& l) { return l.lamp_id == id; });
        out.push_back(*it);
    }
    return orderedLights(out, store);
}

}  // namespace lumora
