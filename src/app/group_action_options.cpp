#include "app/group_action_options.h"

#include "base/setting_keys.h"

namespace lumora {

std::vector<GroupActionOption> calculateAvailableGroupOptions(const std::vector<HueGroup>& groups,
                                                              const Translate& translate) {
    const auto tr = [&](std::string_view english) {
        return translate ? translate(english) : std::string(english);
    };
    struct Verb {
        const char* suffix;
        const char* english;
    };
    static constexpr Verb kVerbs[] = {
        {"_on", "On"}, {"_off", "Off"}, {"_brighter", "Brighter"}, {"_darker", "Darker"}};
    // Translated once, not once per group.
    std::string verbs[4];
    for (int i = 0; i < 4; ++i) verbs[i] = tr(kVerbs[i].english);

    std::vector<GroupActionOption> options;
    options.reserve(1 + 4 * groups.size());
    options.push_back({kNoGroupAction, tr("(No Action)")});
    for (const HueGroup& g : groups) {
        for (int i = 0; i < 4; ++i)
            options.push_back({g.group_id + kVerbs[i].suffix, g.name + " " + verbs[i]});
    }
    return options;
}

std::string groupActionKey(int slot) {
    return keys::groupActionPrefix + std::to_string(slot);
}

std::string selectedGroupAction(const DefaultsStore& store, int slot) {
    return store.string(groupActionKey(slot)).value_or(kNoGroupAction);
}

void setSelectedGroupAction(DefaultsStore& store, int slot, const std::string& optionId) {
    store.setString(groupActionKey(slot), optionId);
}

}  // namespace lumora
