#include "app/hotkey_actions.h"

#include <vector>

#include "app/bridge_controller.h"
#include "base/setting_keys.h"
#include "bridge/commands.h"
#include "shortcuts/keyboard_shortcuts.h"

namespace lumora {

HotKeyGroupAction getHotKeyGroupAction(int hotkeyIndex, const DefaultsStore& store) {
    const std::string text =
        store.string(keys::groupActionPrefix + std::to_string(hotkeyIndex)).value_or("");
    if (text == keys::noGroupAction) return {};
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t us = text.find('_', start);
        if (us == std::string::npos) us = text.size();
        if (us > start) pieces.push_back(text.substr(start, us - start));
        start = us + 1;
    }
    if (pieces.size() != 2) return {};
    const std::string& word = pieces[1];
    HotKeyGroupActions action = word == "on"         ? HotKeyGroupActions::on
                                : word == "off"      ? HotKeyGroupActions::off
                                : word == "brighter" ? HotKeyGroupActions::brighter
                                : word == "darker"   ? HotKeyGroupActions::darker
                                                     : HotKeyGroupActions::nothing;
    if (action == HotKeyGroupActions::nothing) return {};
    return {action, pieces[0]};
}

HotkeyActions::HotkeyActions(BridgeController& controller, const Services& services)
    : controller_(controller),
      dispatcher_(*services.dispatcher),
      hotKeyLayer_(services.hotKeyService),
      // The recorded combinations live in the settings' own store.
      shortcuts_(controller.settings().defaultsPtr(), services.center, hotKeyLayer_,
                 services.keyText) {}

HotkeyActions::~HotkeyActions() = default;

void HotkeyActions::registerKeyboardHotkeys() {
    using Names = KeyboardShortcuts::Name;
    const std::pair<const Names*, AllGroupsAction> all[] = {
        {&Names::actionAllLightsOff, AllGroupsAction::off},
        {&Names::actionAllLightsOn, AllGroupsAction::on},
        {&Names::actionAllLightsBrighter, AllGroupsAction::brighter},
        {&Names::actionAllLightsDarker, AllGroupsAction::darker},
        {&Names::actionAllLightsRed, AllGroupsAction::red},
        {&Names::actionAllLightsBlue, AllGroupsAction::blue},
        {&Names::actionAllLightsWhite, AllGroupsAction::white},
    };
    std::weak_ptr<int> alive = alive_;
    for (const auto& [name, action] : all) {
        shortcuts_.onKeyUp(*name, [this, alive, action = action] {
            dispatcher_.postUI([this, alive, action] {
                if (alive.lock()) applyToAllGroups(action);
            });
        });
    }
    const Names* slots[] = {&Names::actionCustomGroup1, &Names::actionCustomGroup2,
                            &Names::actionCustomGroup3, &Names::actionCustomGroup4,
                            &Names::actionCustomGroup5};
    for (int k = 0; k < 5; ++k) {
        shortcuts_.onKeyUp(*slots[k], [this, alive, k] {
            dispatcher_.postUI([this, alive, k] {
                if (alive.lock()) applyGroupSlot(k);
            });
        });
    }
}

void HotkeyActions::applyToAllGroups(AllGroupsAction action) {
    AppSettings& settings = controller_.settings();
    const std::int64_t step = settings.keyIncrement();
    const size_t count = settings.groups().size();
    for (size_t i = 0; i < count; ++i) {
        // Update the record first so the panel shows the change at once, then
        // send the command with the updated record.
        settings.mutateGroups([&](std::vector<HueGroup>& groups) {
            HueGroup& g = groups[i];
            g.is_on = action != AllGroupsAction::off;
            if (action == AllGroupsAction::red) {
                g.saturation = 255;
                g.hue = 1913;
            } else if (action == AllGroupsAction::blue) {
                g.saturation = 255;
                g.hue = 47058;
            } else if (action == AllGroupsAction::white) {
                g.saturation = 0;
                g.hue = 43413;
            }
        });
        if (i >= settings.groups().size()) break;
        const HueGroup g = settings.groups()[i];
        switch (action) {
            case AllGroupsAction::off:
                setGroupOn(controller_, g, false);
                break;
            case AllGroupsAction::on:
                setGroupOn(controller_, g, true);
                break;
            case AllGroupsAction::brighter:
                groupBrightnessIncrease(controller_, g, step);
                break;
            case AllGroupsAction::darker:
                groupBrightnessIncrease(controller_, g, -step);
                break;
            case AllGroupsAction::red:
            case AllGroupsAction::blue:
            case AllGroupsAction::white:
                setGroupHue(controller_, g, g.hue);
                break;
        }
    }
}

void HotkeyActions::applyGroupSlot(int slot) {
    AppSettings& settings = controller_.settings();
    const HotKeyGroupAction a = getHotKeyGroupAction(slot, settings.defaults());
    if (a.action == HotKeyGroupActions::nothing) return;
    const std::int64_t step = settings.keyIncrement();
    for (size_t i = 0; i < settings.groups().size(); ++i) {
        if (settings.groups()[i].group_id != a.groupId) continue;
        settings.mutateGroups([&](std::vector<HueGroup>& groups) {
            groups[i].is_on = a.action != HotKeyGroupActions::off;
        });
        const HueGroup g = settings.groups()[i];
        switch (a.action) {
            case HotKeyGroupActions::on:
                setGroupOn(controller_, g, true);
                break;
            case HotKeyGroupActions::off:
                setGroupOn(controller_, g, false);
                break;
            case HotKeyGroupActions::brighter:
                groupBrightnessIncrease(controller_, g, step);
                break;
            case HotKeyGroupActions::darker:
                groupBrightnessIncrease(controller_, g, -step);
                break;
            case HotKeyGroupActions::nothing:
                break;
        }
    }
}

}  // namespace lumora
