#include "shortcuts/keyboard_shortcuts.h"

#include "base/notification_center.h"
#include "base/setting_keys.h"

namespace lumora {

KeyboardShortcuts::Name::Name(std::string rawValue, std::optional<Shortcut> defaultShortcut)
    : rawValue_(std::move(rawValue)), defaultShortcut_(defaultShortcut) {}

const std::vector<KeyboardShortcuts::Name>& KeyboardShortcuts::Name::all() {
    static const std::vector<Name> names{
        actionAllLightsOn,  actionAllLightsOff,  actionAllLightsBrighter, actionAllLightsDarker,
        actionAllLightsRed, actionAllLightsBlue, actionAllLightsWhite,    actionCustomGroup1,
        actionCustomGroup2, actionCustomGroup3,  actionCustomGroup4,      actionCustomGroup5,
        actionTogglePanel,
    };
    return names;
}

KeyboardShortcuts::KeyboardShortcuts(std::shared_ptr<DefaultsStore> store,
                                     std::shared_ptr<NotificationCenter> center,
                                     CarbonKeyboardShortcuts& hotKeys,
                                     std::shared_ptr<KeyTextProvider> keyText)
    : store_(std::move(store)),
      center_(std::move(center)),
      layer_(hotKeys),
      keyText_(std::move(keyText)) {}

KeyboardShortcuts::~KeyboardShortcuts() {
    // The layer's registrations call back into this module.
    for (const auto& shortcut : registeredShortcuts_) layer_.unregisterShortcut(shortcut);
    if (isPaused_) layer_.setSuspended(false);
}

void KeyboardShortcuts::postChange(const Name& name) {
    if (center_) center_->post(shortcutByNameDidChange, {{"name", name.rawValue()}});
}

// Runs, in the order they were added, the actions of every name whose stored
// shortcut is `pressed` right now. Collected first: an action may add handlers
// or change bindings.
void KeyboardShortcuts::runHandlers(const std::map<Name, std::vector<Action>>& handlers,
                                    const Shortcut& pressed) {
    if (isPaused_) return;
    std::vector<Action> due;
    for (const auto& [name, actions] : handlers) {
        if (getShortcut(name) == pressed) due.insert(due.end(), actions.begin(), actions.end());
    }
    for (const auto& action : due) action();
}

void KeyboardShortcuts::setHotKeyService(std::shared_ptr<HotKeyService> service) {
    layer_.setService(std::move(service));
    registeredShortcuts_.clear();
    for (const auto& [name, actions] : legacyKeyUpHandlers_) registerShortcutIfNeeded(name);
    for (const auto& [name, actions] : legacyKeyDownHandlers_) registerShortcutIfNeeded(name);
}

const KeyTextProvider& KeyboardShortcuts::keyTextProvider() const {
    return keyText_ ? *keyText_ : usLayoutKeyText();
}

void KeyboardShortcuts::onKeyUp(const Name& name, Action action) {
    applyDefault(name);
    legacyKeyUpHandlers_[name].push_back(std::move(action));
    registerShortcutIfNeeded(name);
}

void KeyboardShortcuts::onKeyDown(const Name& name, Action action) {
    applyDefault(name);
    legacyKeyDownHandlers_[name].push_back(std::move(action));
    registerShortcutIfNeeded(name);
}

std::optional<Shortcut> KeyboardShortcuts::getShortcut(const Name& name) {
    applyDefault(name);
    if (!store_) return std::nullopt;
    auto text = store_->string(userDefaultsKey(name));
    if (!text) return std::nullopt;
    return Shortcut::fromJson(*text);
}

void KeyboardShortcuts::setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    applyDefault(name);
    if (shortcut)
        userDefaultsSet(name, *shortcut);
    else
        userDefaultsRemove(name);
}

std::string KeyboardShortcuts::userDefaultsKey(const Name& name) {
    return keys::shortcutPrefix + name.rawValue();
}

bool KeyboardShortcuts::userDefaultsContains(const Name& name) {
    applyDefault(name);
    return storeContains(name);
}

bool KeyboardShortcuts::storeContains(const Name& name) const {
    return store_ && store_->contains(userDefaultsKey(name));
}

void KeyboardShortcuts::applyDefault(const Name& name) {
    if (!name.defaultShortcut() || !defaultsApplied_.insert(name.rawValue()).second) return;
    if (!storeContains(name)) userDefaultsSet(name, *name.defaultShortcut());
}

void KeyboardShortcuts::userDefaultsSet(const Name& name, const Shortcut& shortcut) {
    if (!store_) return;
    const std::string encoded = shortcut.json();
    if (auto old = getShortcut(name)) unregisterShortcut(*old);
    registerShortcut(shortcut);
    store_->setString(userDefaultsKey(name), encoded);
    postChange(name);
}

void KeyboardShortcuts::userDefaultsRemove(const Name& name) {
    auto old = getShortcut(name);
    if (!store_ || !old) return;
    store_->setBool(userDefaultsKey(name), false);
    unregisterShortcut(*old);
    postChange(name);
}

void KeyboardShortcuts::registerShortcutIfNeeded(const Name& name) {
    if (auto shortcut = getShortcut(name)) registerShortcut(*shortcut);
}

void KeyboardShortcuts::registerShortcut(const Shortcut& shortcut) {
    if (registeredShortcuts_.contains(shortcut)) return;
    layer_.registerShortcut(
        shortcut, [this](const Shortcut& pressed) { handleOnKeyDown(pressed); },
        [this](const Shortcut& released) { handleOnKeyUp(released); });
    registeredShortcuts_.insert(shortcut);
}

void KeyboardShortcuts::unregisterShortcut(const Shortcut& shortcut) {
    layer_.unregisterShortcut(shortcut);
    registeredShortcuts_.erase(shortcut);
}

void KeyboardShortcuts::handleOnKeyDown(const Shortcut& shortcut) {
    runHandlers(legacyKeyDownHandlers_, shortcut);
}

void KeyboardShortcuts::handleOnKeyUp(const Shortcut& shortcut) {
    runHandlers(legacyKeyUpHandlers_, shortcut);
}

void KeyboardShortcuts::handleActivated(const Name& name) {
    if (isPaused_) return;
    // Copied first: an action may add handlers.
    std::vector<Action> due;
    for (const auto* handlers : {&legacyKeyDownHandlers_, &legacyKeyUpHandlers_}) {
        if (auto it = handlers->find(name); it != handlers->end())
            due.insert(due.end(), it->second.begin(), it->second.end());
    }
    for (const auto& action : due) action();
}

void KeyboardShortcuts::setPaused(bool paused) {
    if (isPaused_ == paused) return;
    isPaused_ = paused;
    // A grab held by the hot-key service would take the key press away from
    // the recorder that is waiting for it.
    layer_.setSuspended(paused);
}

}  // namespace lumora
