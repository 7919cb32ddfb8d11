#pragma once
// What the global shortcuts do: seven act on every room and zone, five are
// slots that apply one action to one room, one opens and closes the panel.

#include <memory>
#include <string>

#include "app/services.h"
#include "base/defaults_store.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "shortcuts/keyboard_shortcuts.h"

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

class BridgeController;

// The global shortcuts and what they do to the controller's rooms and zones.
// Owns the shortcut module: the hot-key layer over the services' hot-key
// service and the module over the settings' store, given at construction.
class HotkeyActions {
  public:
    HotkeyActions(BridgeController& controller, const Services& services);
    ~HotkeyActions();
    HotkeyActions(const HotkeyActions&) = delete;
    HotkeyActions& operator=(const HotkeyActions&) = delete;

    // The recorders of the settings window store into it; the shell adds the
    // panel's own shortcut to it.
    KeyboardShortcuts& shortcuts() { return shortcuts_; }

    // One key-up handler per name, each acting on the UI thread's next turn.
    void registerKeyboardHotkeys();
    void applyToAllGroups(AllGroupsAction action);
    void applyGroupSlot(int slot);  // 0 to 4

  private:
    BridgeController& controller_;
    Dispatcher& dispatcher_;
    CarbonKeyboardShortcuts hotKeyLayer_;
    KeyboardShortcuts shortcuts_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lumora
