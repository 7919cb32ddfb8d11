#pragma once
// What the global shortcuts do: seven act on every room and zone, five are
// slots that apply one action to one room, one opens and closes the panel.

#include <string>

#include "base/defaults_store.h"

namespace lumora {

enum class HotKeyGroupActions { on, off, brighter, darker, nothing };

struct HotKeyGroupAction {
    HotKeyGroupActions action = HotKeyGroupActions::nothing;
    std::string groupId;
    bool operator==(const HotKeyGroupAction&) const = default;
};

// Slot `hotkeyIndex` (0 to 4) as stored under "hotkeyCustomGroupAction<index>":
// "no_action" or "<group id>_<on|off|brighter|darker>"; anything else is nothing.
HotKeyGroupAction getHotKeyGroupAction(int hotkeyIndex, const DefaultsStore& store);

// The seven actions on every group.
enum class AllGroupsAction { off, on, brighter, darker, red, blue, white };

}  // namespace lumora
