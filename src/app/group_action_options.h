#pragma once
// The entries of a hotkey slot's drop-down: "(No Action)", then on, off,
// brighter and darker for every room and zone, and where a slot's choice is
// stored. The slot's shortcut reads the same key when it fires.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/defaults_store.h"
#include "base/setting_keys.h"
#include "bridge/records.h"

namespace lumora {

struct GroupActionOption {
    std::string id;     // "no_action" or "<group id>_<on|off|brighter|darker>"
    std::string title;  // what the drop-down shows

    bool operator==(const GroupActionOption&) const = default;
};

inline constexpr const char* kNoGroupAction = keys::noGroupAction;
inline constexpr int kGroupHotkeySlots = 5;

// Turns an English text ("(No Action)", "On", "Off", "Brighter", "Darker")
// into the user's language; the identity when none is given.
using Translate = std::function<std::string(std::string_view english)>;

// 1 + 4 entries per group, in the given order.
std::vector<GroupActionOption> calculateAvailableGroupOptions(const std::vector<HueGroup>& groups,
                                                              const Translate& translate = {});

// "hotkeyCustomGroupAction" + slot (0 to 4).
std::string groupActionKey(int slot);
// The stored choice of a slot as a string, "no_action" when there is none.
std::string selectedGroupAction(const DefaultsStore& store, int slot);
void setSelectedGroupAction(DefaultsStore& store, int slot, const std::string& optionId);

}  // namespace lumora
