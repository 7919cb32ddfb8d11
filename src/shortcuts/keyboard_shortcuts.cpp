#include "shortcuts/keyboard_shortcuts.h"

#include "base/notification_center.h"
#include "base/setting_keys.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"

namespace lumora {
namespace {

using Name = KeyboardShortcuts::Name;
using Action = KeyboardShortcuts::Action;

struct ModuleState {
    std::shared_ptr<DefaultsStore> store;
    std::shared_ptr<NotificationCenter> center;
    std::shared_ptr<KeyTextProvider> keyText;
    std::set<Shortcut> registeredShortcuts;
    std::map<Name, std::vector<Action>> legacyKeyDownHandlers;
    std::map<Name, std::vector<Action>> legacyKeyUpHandlers;
    bool isPaused = false;
};

ModuleState& state() {
    static ModuleState s;
    return s;
}

const UsLayoutKeyText& usLayout() {
    static const UsLayoutKeyText table;
    return table;
}

void postChange(const Name& name) {
    if (const auto& center = state().center)
        center->post(KeyboardShortcuts::shortcutByNameDidChange, {{"name", name.rawValue()}});
}

// Runs, in the order they were added, the actions of every name whose stored
// shortcut is `pressed` right now. Collected first: an action may add handlers
// or change bindings.
void runHandlers(const std::map<Name, std::vector<Action>>& handlers, const Shortcut& pressed) {
    if (state().isPaused) return;
    std::vector<Action> due;
    for (const auto& [name, actions] : handlers) {
        if (KeyboardShortcuts::getShortcut(name) == pressed)
            due.insert(due.end(), actions.begin(), actions.end());
    }
    for (const auto& action : due) action();
}

}  // namespace

KeyboardShortcuts::Name::Name(std::string rawValue, std::optional<Shortcut> defaultShortcut)
    : rawValue_(std::move(rawValue)), defaultShortcut_(defaultShortcut) {
    if (defaultShortcut_ && !userDefaultsContains(*this)) setShortcut(defaultShortcut_, *this);
}

const std::vector<KeyboardShortcuts::Name>& KeyboardShortcuts::Name::all() {
    static const std::vector<Name> names{
        actionAllLightsOn,  actionAllLightsOff,  actionAllLightsBrighter, actionAllLightsDarker,
        actionAllLightsRed, actionAllLightsBlue, actionAllLightsWhite,    actionCustomGroup1,
        actionCustomGroup2, actionCustomGroup3,  actionCustomGroup4,      actionCustomGroup5,
        actionTogglePanel,
    };
    return names;
}

void KeyboardShortcuts::setStore(std::shared_ptr<DefaultsStore> store) {
    state().store = std::move(store);
}

void KeyboardShortcuts::setNotificationCenter(std::shared_ptr<NotificationCenter> center) {
    state().center = std::move(center);
}

const std::shared_ptr<NotificationCenter>& KeyboardShortcuts::notificationCenter() {
    return state().center;
}

void KeyboardShortcuts::setHotKeyService(std::shared_ptr<HotKeyService> service) {
    CarbonKeyboardShortcuts::setService(std::move(service));
    auto& s = state();
    s.registeredShortcuts.clear();
    for (const auto& [name, actions] : s.legacyKeyUpHandlers) registerShortcutIfNeeded(name);
    for (const auto& [name, actions] : s.legacyKeyDownHandlers) registerShortcutIfNeeded(name);
}

void KeyboardShortcuts::setKeyTextProvider(std::shared_ptr<KeyTextProvider> provider) {
    state().keyText = std::move(provider);
}

const KeyTextProvider& KeyboardShortcuts::keyTextProvider() {
    const auto& p = state().keyText;
    return p ? *p : static_cast<const KeyTextProvider&>(usLayout());
}

void KeyboardShortcuts::reset() {
    CarbonKeyboardShortcuts::reset();
    state() = ModuleState{};
}

void KeyboardShortcuts::onKeyUp(const Name& name, Action action) {
    state().legacyKeyUpHandlers[name].push_back(std::move(action));
    registerShortcutIfNeeded(name);
}

void KeyboardShortcuts::onKeyDown(const Name& name, Action action) {
    state().legacyKeyDownHandlers[name].push_back(std::move(action));
    registerShortcutIfNeeded(name);
}

std::optional<Shortcut> KeyboardShortcuts::getShortcut(const Name& name) {
    const auto& store = state().store;
    if (!store) return std::nullopt;
    auto text = store->string(userDefaultsKey(name));
    if (!text) return std::nullopt;
    return Shortcut::fromJson(*text);
}

void KeyboardShortcuts::setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    if (shortcut)
        userDefaultsSet(name, *shortcut);
    else
        userDefaultsRemove(name);
}

std::string KeyboardShortcuts::userDefaultsKey(const Name& name) {
    return keys::shortcutPrefix + name.rawValue();
}

bool KeyboardShortcuts::userDefaultsContains(const Name& name) {
    const auto& store = state().store;
    return store && store->contains(userDefaultsKey(name));
}

void KeyboardShortcuts::userDefaultsSet(const Name& name, const Shortcut& shortcut) {
    const auto store = state().store;
    if (!store) return;
    const std::string encoded = shortcut.json();
    if (auto old = getShortcut(name)) unregisterShortcut(*old);
    registerShortcut(shortcut);
    store->setString(userDefaultsKey(name), encoded);
    postChange(name);
}

void KeyboardShortcuts::userDefaultsRemove(const Name& name) {
    const auto store = state().store;
    auto old = getShortcut(name);
    if (!store || !old) return;
    store->setBool(userDefaultsKey(name), false);
    unregisterShortcut(*old);
    postChange(name);
}

void KeyboardShortcuts::registerShortcutIfNeeded(const Name& name) {
    if (auto shortcut = getShortcut(name)) registerShortcut(*shortcut);
}

void KeyboardShortcuts::registerShortcut(const Shortcut& shortcut) {
    auto& registered = state().registeredShortcuts;
    if (registered.contains(shortcut)) return;
    CarbonKeyboardShortcuts::registerShortcut(shortcut, &KeyboardShortcuts::handleOnKeyDown,
                                              &KeyboardShortcuts::handleOnKeyUp);
    registered.insert(shortcut);
}

void KeyboardShortcuts::unregisterShortcut(const Shortcut& shortcut) {
    CarbonKeyboardShortcuts::unregisterShortcut(shortcut);
    state().registeredShortcuts.erase(shortcut);
}

const std::set<Shortcut>& KeyboardShortcuts::registeredShortcuts() {
    return state().registeredShortcuts;
}

void KeyboardShortcuts::handleOnKeyDown(const Shortcut& shortcut) {
    runHandlers(state().legacyKeyDownHandlers, shortcut);
}

void KeyboardShortcuts::handleOnKeyUp(const Shortcut& shortcut) {
    runHandlers(state().legacyKeyUpHandlers, shortcut);
}

bool KeyboardShortcuts::isPaused() {
    return state().isPaused;
}

void KeyboardShortcuts::setPaused(bool paused) {
    auto& s = state();
    if (s.isPaused == paused) return;
    s.isPaused = paused;
    // A grab held by the hot-key service would take the key press away from
    // the recorder that is waiting for it.
    CarbonKeyboardShortcuts::setSuspended(paused);
}

}  // namespace lumora
