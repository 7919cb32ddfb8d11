#include "ctl/targets.h"

namespace lumora::ctl {
namespace {

std::string describe(const Target& t) {
    if (auto* l = std::get_if<HueLight>(&t)) return "light " + l->lamp_id + " \"" + l->name + "\"";
    const auto& g = std::get<HueGroup>(t);
    return "room " + g.group_id + " \"" + g.name + "\"";
}

std::string candidates(const std::vector<Target>& found) {
    std::string s;
    for (const auto& t : found) s += (s.empty() ? "" : ", ") + describe(t);
    return s;
}

}  // namespace

std::variant<Target, TargetError> findTarget(const std::string& text,
                                             const std::vector<HueLight>& lights,
                                             const std::vector<HueGroup>& groups) {
    bool lightsOnly = false, roomsOnly = false;
    std::string key = text;
    if (key.rfind("light:", 0) == 0) {
        lightsOnly = true;
        key = key.substr(6);
    } else if (key.rfind("room:", 0) == 0) {
        roomsOnly = true;
        key = key.substr(5);
    }

    // An exact name wins over an id, so a room called "2" can still be named.
    for (bool byName : {true, false}) {
        std::vector<Target> found;
        if (!roomsOnly)
            for (const auto& l : lights)
                if ((byName ? l.name : l.lamp_id) == key) found.emplace_back(l);
        if (!lightsOnly)
            for (const auto& g : groups)
                if ((byName ? g.name : g.group_id) == key) found.emplace_back(g);
        if (found.size() == 1) return found.front();
        if (found.size() > 1)
            return TargetError{"\"" + text + "\" is ambiguous: " + candidates(found) +
                               " (use light:ID or room:ID)"};
    }
    std::string known;
    for (const auto& l : lights) known += (known.empty() ? "" : ", ") + l.name;
    for (const auto& g : groups) known += (known.empty() ? "" : ", ") + g.name;
    return TargetError{"no light or room is called \"" + text + "\"" +
                       (known.empty() ? std::string() : "; known: " + known)};
}

std::variant<HueScene, TargetError> findScene(const std::string& text,
                                              const std::vector<HueScene>& scenes) {
    for (bool byName : {true, false}) {
        std::vector<HueScene> found;
        for (const auto& s : scenes)
            if ((byName ? s.name : s.scene_id) == text) found.push_back(s);
        if (found.size() == 1) return found.front();
        if (found.size() > 1) {
            std::string list;
            for (const auto& s : found)
                list += (list.empty() ? "" : ", ") + s.scene_id + " (group " + s.group + ")";
            return TargetError{"\"" + text + "\" is ambiguous: scenes " + list +
                               "; give the scene id"};
        }
    }
    return TargetError{"no scene is called \"" + text + "\""};
}

}  // namespace lumora::ctl
