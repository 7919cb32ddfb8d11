#include "shortcuts/carbon_keyboard_shortcuts.h"

namespace lumora {
namespace {

struct LayerState {
    std::shared_ptr<HotKeyService> service;
    std::map<std::uint32_t, std::shared_ptr<HotKey>> hotKeys;
    std::uint32_t hotKeyId = 0;
    bool eventHandlerInstalled = false;
    bool suspended = false;
};

bool registerWithService(HotKeyService& service, std::uint32_t id, const Shortcut& shortcut) {
    return service.registerHotKey(id, static_cast<std::uint32_t>(shortcut.carbonKeyCode()),
                                  static_cast<std::uint32_t>(shortcut.carbonModifiers()));
}

LayerState& state() {
    static LayerState s;
    return s;
}

}  // namespace

void CarbonKeyboardShortcuts::setService(std::shared_ptr<HotKeyService> service) {
    auto& s = state();
    if (s.service == service) return;
    unregisterAll();
    if (s.service && s.eventHandlerInstalled) s.service->setEventHandler({});
    s.service = std::move(service);
    s.eventHandlerInstalled = false;
}

HotKeyService* CarbonKeyboardShortcuts::service() {
    return state().service.get();
}

void CarbonKeyboardShortcuts::registerShortcut(const Shortcut& shortcut, HotKey::Action onKeyDown,
                                               HotKey::Action onKeyUp) {
    auto& s = state();
    const std::uint32_t id = ++s.hotKeyId;
    if (!s.service) return;
    if (!registerWithService(*s.service, id, shortcut)) return;
    if (s.suspended) s.service->unregisterHotKey(id);
    s.hotKeys[id] =
        std::make_shared<HotKey>(shortcut, id, std::move(onKeyDown), std::move(onKeyUp));
    setUpEventHandlerIfNeeded();
}

void CarbonKeyboardShortcuts::unregisterShortcut(const Shortcut& shortcut) {
    auto& s = state();
    for (auto it = s.hotKeys.begin(); it != s.hotKeys.end();) {
        if (it->second->shortcut == shortcut) {
            if (s.service && !s.suspended) s.service->unregisterHotKey(it->first);
            it = s.hotKeys.erase(it);
        } else {
            ++it;
        }
    }
}

void CarbonKeyboardShortcuts::unregisterAll() {
    auto& s = state();
    if (s.service && !s.suspended)
        for (const auto& [id, hotKey] : s.hotKeys) s.service->unregisterHotKey(id);
    s.hotKeys.clear();
}

void CarbonKeyboardShortcuts::setSuspended(bool suspended) {
    auto& s = state();
    if (s.suspended == suspended) return;
    s.suspended = suspended;
    if (!s.service) return;
    if (suspended) {
        for (const auto& [id, hotKey] : s.hotKeys) s.service->unregisterHotKey(id);
        return;
    }
    for (auto it = s.hotKeys.begin(); it != s.hotKeys.end();) {
        if (registerWithService(*s.service, it->first, it->second->shortcut))
            ++it;
        else
            it = s.hotKeys.erase(it);
    }
}

bool CarbonKeyboardShortcuts::suspended() {
    return state().suspended;
}

void CarbonKeyboardShortcuts::setUpEventHandlerIfNeeded() {
    auto& s = state();
    if (s.eventHandlerInstalled || !s.service) return;
    s.service->setEventHandler([](const HotKeyEvent& event) { handleEvent(&event); });
    s.eventHandlerInstalled = true;
}

int CarbonKeyboardShortcuts::handleEvent(const HotKeyEvent* event) {
    if (!event) return eventNotHandledErr;
    auto& s = state();
    auto it = s.hotKeys.find(event->id);
    if (it == s.hotKeys.end()) return eventNotHandledErr;
    // Hold the registration: an action may unregister it while it runs.
    const std::shared_ptr<HotKey> hotKey = it->second;
    switch (event->kind) {
        case HotKeyEvent::pressed:
            if (hotKey->onKeyDown) hotKey->onKeyDown(hotKey->shortcut);
            return noErr;
        case HotKeyEvent::released:
            if (hotKey->onKeyUp) hotKey->onKeyUp(hotKey->shortcut);
            return noErr;
        default:
            return eventNotHandledErr;
    }
}

bool CarbonKeyboardShortcuts::isTaken(const Shortcut& shortcut) {
    auto& s = state();
    if (!s.service) return false;
    return s.service->isTaken(static_cast<std::uint32_t>(shortcut.carbonKeyCode()),
                              static_cast<std::uint32_t>(shortcut.carbonModifiers()));
}

const std::map<std::uint32_t, std::shared_ptr<HotKey>>& CarbonKeyboardShortcuts::hotKeys() {
    return state().hotKeys;
}

std::uint32_t CarbonKeyboardShortcuts::hotKeyId() {
    return state().hotKeyId;
}

bool CarbonKeyboardShortcuts::eventHandlerInstalled() {
    return state().eventHandlerInstalled;
}

void CarbonKeyboardShortcuts::reset() {
    unregisterAll();
    auto& s = state();
    if (s.service && s.eventHandlerInstalled) s.service->setEventHandler({});
    s = LayerState{};
}

}  // namespace lumora
