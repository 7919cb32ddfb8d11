#include "shortcuts/carbon_keyboard_shortcuts.h"

namespace lumora {
namespace {

bool registerWithService(HotKeyService& service, std::uint32_t id, const Shortcut& shortcut) {
    return service.registerHotKey(id, static_cast<std::uint32_t>(shortcut.carbonKeyCode()),
                                  static_cast<std::uint32_t>(shortcut.carbonModifiers()));
}

}  // namespace

CarbonKeyboardShortcuts::CarbonKeyboardShortcuts(std::shared_ptr<HotKeyService> service)
    : service_(std::move(service)) {}

CarbonKeyboardShortcuts::~CarbonKeyboardShortcuts() {
    // The service may outlive this layer: it must not call back into it.
    setService(nullptr);
}

void CarbonKeyboardShortcuts::setService(std::shared_ptr<HotKeyService> service) {
    if (service_ == service) return;
    unregisterAll();
    if (service_ && eventHandlerInstalled_) service_->setEventHandler({});
    service_ = std::move(service);
    eventHandlerInstalled_ = false;
}

void CarbonKeyboardShortcuts::registerShortcut(const Shortcut& shortcut, HotKey::Action onKeyDown,
                                               HotKey::Action onKeyUp) {
    const std::uint32_t id = ++hotKeyId_;
    if (!service_) return;
    if (!registerWithService(*service_, id, shortcut)) return;
    if (suspended_) service_->unregisterHotKey(id);
    hotKeys_[id] = std::make_shared<HotKey>(shortcut, id, std::move(onKeyDown), std::move(onKeyUp));
    setUpEventHandlerIfNeeded();
}

void CarbonKeyboardShortcuts::unregisterShortcut(const Shortcut& shortcut) {
    for (auto it = hotKeys_.begin(); it != hotKeys_.end();) {
        if (it->second->shortcut == shortcut) {
            if (service_ && !suspended_) service_->unregisterHotKey(it->first);
            it = hotKeys_.erase(it);
        } else {
            ++it;
        }
    }
}

void CarbonKeyboardShortcuts::unregisterAll() {
    if (service_ && !suspended_)
        for (const auto& [id, hotKey] : hotKeys_) service_->unregisterHotKey(id);
    hotKeys_.clear();
}

void CarbonKeyboardShortcuts::setSuspended(bool suspended) {
    if (suspended_ == suspended) return;
    suspended_ = suspended;
    if (!service_) return;
    if (suspended) {
        for (const auto& [id, hotKey] : hotKeys_) service_->unregisterHotKey(id);
        return;
    }
    for (auto it = hotKeys_.begin(); it != hotKeys_.end();) {
        if (registerWithService(*service_, it->first, it->second->shortcut))
            ++it;
        else
            it = hotKeys_.erase(it);
    }
}

void CarbonKeyboardShortcuts::setUpEventHandlerIfNeeded() {
    if (eventHandlerInstalled_ || !service_) return;
    service_->setEventHandler([this](const HotKeyEvent& event) { handleEvent(&event); });
    eventHandlerInstalled_ = true;
}

int CarbonKeyboardShortcuts::handleEvent(const HotKeyEvent* event) {
    if (!event) return eventNotHandledErr;
    auto it = hotKeys_.find(event->id);
    if (it == hotKeys_.end()) return eventNotHandledErr;
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

bool CarbonKeyboardShortcuts::isTaken(const Shortcut& shortcut) const {
    if (!service_) return false;
    return service_->isTaken(static_cast<std::uint32_t>(shortcut.carbonKeyCode()),
                             static_cast<std::uint32_t>(shortcut.carbonModifiers()));
}

}  // namespace lumora
