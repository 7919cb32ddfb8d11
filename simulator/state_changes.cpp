// Commands that change lights: light state, group action, scene recall.

#include <algorithm>
#include <map>

#include "simulator/bridge_model.h"
#include "simulator/light_values.h"
#include "simulator/request_body.h"

namespace lumora::sim {

namespace {

Json* stateOf(Json& light) {
    if (!light.is_object()) return nullptr;
    auto it = light.find("state");
    return it != light.end() && it->is_object() ? &*it : nullptr;
}

bool isOn(const Json* state) {
    return state && boolOr(*state, "on", false);
}

bool switchesOn(const Json& body) {
    return boolOr(body, "on", false);
}

std::vector<std::string> stringList(const Json& object, const char* key) {
    std::vector<std::string> result;
    if (!object.is_object()) return result;
    auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return result;
    for (const auto& entry : *it) {
        if (entry.is_string()) result.push_back(entry.get<std::string>());
    }
    return result;
}

void setColourMode(Json& state, ColourMode mode) {
    if (mode != ColourMode::none && state.contains("colormode")) state["colormode"] = nameOf(mode);
}

}  // namespace

Json BridgeModel::putLightState(const std::string& id, const std::string& bodyText) {
    const std::string address = "/lights/" + id + "/state";
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(address);
    auto it = lights_.find(id);
    if (it == lights_.end() || !it->is_object()) return notAvailable(address);
    Json& light = *it;
    Json* state = stateOf(light);
    const bool wasOn = isOn(state);
    const bool turningOn = switchesOn(body);

    Json reply = Json::array();
    ColourMode mode = ColourMode::none;
    for (const auto& [key, value] : body.items()) {
        const std::string keyAddress = address + "/" + key;
        auto k = stateKeyFromName(key);
        const char* member = k ? memberOf(*k) : nullptr;
        // Lower error types win: 6, then 7, then 201.
        if (!k || *k == StateKey::scene || (member && (!state || !state->contains(member)))) {
            reply.push_back(parameterNotAvailable(keyAddress, key));
            continue;
        }
        auto checked = normaliseValue(*k, value);
        if (!checked) {
            reply.push_back(invalidValue(keyAddress, rawToken(bodyText, key, value), key));
            continue;
        }
        if (needsLightOn(*k) && !wasOn && !turningOn) {
            reply.push_back(deviceIsOff(keyAddress, key));
            continue;
        }
        if (!member) {  // transitiontime: accepted and echoed, nothing to store
            reply.push_back(successEntry(keyAddress, *checked));
            continue;
        }
        // An increment gives way to the absolute value in the same body.
        if (isIncrement(*k) && body.contains(member)) continue;
        Json result = resultingValue(light, *k, *checked);
        (*state)[member] = result;
        mode = std::max(mode, colourModeOf(*k));
        reply.push_back(successEntry(address + "/" + member, result));
    }
    if (state) setColourMode(*state, mode);
    recomputeGroupStates();
    return reply;
}

Json BridgeModel::putGroupAction(const std::string& id, const std::string& bodyText) {
    const std::string address = "/groups/" + id + "/action";
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(address);
    Json* action = &groupZeroAction_;
    if (id != "0") {
        auto it = groups_.find(id);
        if (it == groups_.end() || !it->is_object()) return notAvailable(address);
        auto actionIt = it->find("action");
        action = actionIt != it->end() && actionIt->is_object() ? &*actionIt : nullptr;
    }
    const std::vector<std::string> members = memberIds(id);
    std::map<std::string, bool> wasOn;
    for (const auto& m : members) wasOn[m] = isOn(stateOf(lights_[m]));
    const bool turningOn = switchesOn(body);

    Json reply = Json::array();
    std::map<std::string, ColourMode> lightModes;
    ColourMode actionMode = ColourMode::none;
    for (const auto& [key, value] : body.items()) {
        const std::string keyAddress = address + "/" + key;
        auto k = stateKeyFromName(key);
        if (!k) {
            reply.push_back(parameterNotAvailable(keyAddress, key));
            continue;
        }
        auto checked = normaliseValue(*k, value);
        if (*k == StateKey::scene) {
            if (!checked || !scenes_.contains(value.get<std::string>())) {
                std::string text = value.is_string() ? value.get<std::string>() : value.dump();
                reply.push_back(errorEntry(errors::invalidValue, keyAddress,
                                           "invalid value, " + text + " for parameter, scene"));
                continue;
            }
            recallScene(value.get<std::string>(), members, id == "0");
            reply.push_back(successEntry(keyAddress, value));
            continue;
        }
        if (!checked) {
            reply.push_back(invalidValue(keyAddress, rawToken(bodyText, key, value), key));
            continue;
        }
        const char* member = memberOf(*k);
        if (member && !(isIncrement(*k) && body.contains(member))) {
            bool anySupports = false;
            for (const auto& m : members) {
                Json& light = lights_[m];
                Json* state = stateOf(light);
                if (!state || !state->contains(member)) continue;
                anySupports = true;
                // Lamps that stay off keep their values.
                if (needsLightOn(*k) && !wasOn[m] && !turningOn) continue;
                (*state)[member] = resultingValue(light, *k, *checked);
                lightModes[m] = std::max(lightModes[m], colourModeOf(*k));
            }
            if (action && (anySupports || action->contains(member))) {
                Json asLight = Json{{"state", *action}};
                (*action)[member] = resultingValue(asLight, *k, *checked);
                actionMode = std::max(actionMode, colourModeOf(*k));
            }
        }
        reply.push_back(successEntry(keyAddress, *checked));
    }
    for (const auto& [m, mode] : lightModes) {
        if (Json* state = stateOf(lights_[m])) setColourMode(*state, mode);
    }
    if (action) setColourMode(*action, actionMode);
    recomputeGroupStates();
    return reply;
}

void BridgeModel::recallScene(const std::string& sceneId, const std::vector<std::string>& members,
                              bool allSceneLights) {
    const Json& scene = scenes_[sceneId];
    const Json noStates = Json::object();
    auto statesIt = scene.is_object() ? scene.find("lightstates") : scene.end();
    const bool haveStates = scene.is_object() && statesIt != scene.end() && statesIt->is_object();
    const Json& lightstates = haveStates ? *statesIt : noStates;
    // A scene without stored states (version 1 keeps them in the lamps) just
    // switches its lights on.
    const Json fallback = Json{{"on", true}};

    for (const auto& lightId : stringList(scene, "lights")) {
        if (!allSceneLights &&
            std::find(members.begin(), members.end(), lightId) == members.end()) {
            continue;
        }
        auto lightIt = lights_.find(lightId);
        if (lightIt == lights_.end()) continue;
        Json* state = stateOf(*lightIt);
        if (!state) continue;
        auto own = lightstates.find(lightId);
        const Json& target = own != lightstates.end() && own->is_object()
                                 ? *own
                                 : (haveStates ? noStates : fallback);
        ColourMode mode = ColourMode::none;
        for (const auto& [key, value] : target.items()) {
            auto k = stateKeyFromName(key);
            const char* member = k ? memberOf(*k) : nullptr;
            if (!member || isIncrement(*k) || !state->contains(member)) continue;
            auto checked = normaliseValue(*k, value);
            if (!checked) continue;
            (*state)[member] = resultingValue(*lightIt, *k, *checked);
            mode = std::max(mode, colourModeOf(*k));
        }
        setColourMode(*state, mode);
    }
}

Json BridgeModel::renameLight(const std::string& id, const std::string& bodyText) {
    const std::string address = "/lights/" + id;
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(address);
    auto it = lights_.find(id);
    if (it == lights_.end() || !it->is_object()) return notAvailable(address);
    Json reply = Json::array();
    for (const auto& [key, value] : body.items()) {
        const std::string keyAddress = address + "/" + key;
        if (key != "name") {
            reply.push_back(parameterNotAvailable(keyAddress, key));
        } else if (!value.is_string() || value.get<std::string>().empty() ||
                   value.get<std::string>().size() > 32) {
            reply.push_back(invalidValue(keyAddress, rawToken(bodyText, key, value), key));
        } else {
            (*it)["name"] = value;
            reply.push_back(successEntry(keyAddress, value));
        }
    }
    return reply;
}

std::vector<std::string> BridgeModel::memberIds(const std::string& groupId) const {
    std::vector<std::string> ids;
    if (groupId == "0") {
        for (const auto& [id, light] : lights_.items()) ids.push_back(id);
        return ids;
    }
    auto it = groups_.find(groupId);
    if (it == groups_.end()) return ids;
    for (auto& id : stringList(*it, "lights")) {
        if (lights_.contains(id)) ids.push_back(std::move(id));
    }
    return ids;
}

void BridgeModel::recomputeGroupStates() {
    for (auto& [id, group] : groups_.items()) {
        if (!group.is_object() || !group.contains("state") || !group["state"].is_object()) {
            continue;
        }
        std::vector<std::string> members = memberIds(id);
        bool all = !members.empty();
        bool any = false;
        for (const auto& m : members) {
            bool on = isOn(stateOf(lights_[m]));
            all = all && on;
            any = any || on;
        }
        group["state"]["all_on"] = all;
        group["state"]["any_on"] = any;
    }
}

}  // namespace lumora::sim
