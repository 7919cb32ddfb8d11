#pragma once
// The system hot-key layer under the shortcut module: it registers Carbon
// key combinations with its HotKeyService under ever-increasing ids and
// routes the service's press and release events back to the actions given at
// registration. Each instance keeps its own registrations. Used only on the
// user-interface thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "shortcuts/hotkey_service.h"
#include "shortcuts/shortcut.h"

namespace lumora {

// One registration with the service.
class HotKey {
  public:
    using Action = std::function<void(const Shortcut&)>;

    HotKey(Shortcut shortcut, std::uint32_t carbonHotKeyId, Action onKeyDown, Action onKeyUp)
        : shortcut(shortcut),
          carbonHotKeyId(carbonHotKeyId),
          onKeyDown(std::move(onKeyDown)),
          onKeyUp(std::move(onKeyUp)) {}

    const Shortcut shortcut;
    const std::uint32_t carbonHotKeyId;
    const Action onKeyDown;
    const Action onKeyUp;
};

class CarbonKeyboardShortcuts {
  public:
    // Event handler results, in the service's numbering.
    static constexpr int noErr = 0;
    static constexpr int eventNotHandledErr = -9874;

    // Without a service every registration fails.
    explicit CarbonKeyboardShortcuts(std::shared_ptr<HotKeyService> service = nullptr);
    // Releases every registration and the event handler at the service.
    ~CarbonKeyboardShortcuts();
    CarbonKeyboardShortcuts(const CarbonKeyboardShortcuts&) = delete;
    CarbonKeyboardShortcuts& operator=(const CarbonKeyboardShortcuts&) = delete;

    // Replaces the service; registrations made with the previous one are
    // dropped (and released there). nullptr: no service, every registration
    // fails.
    void setService(std::shared_ptr<HotKeyService> service);
    HotKeyService* service() const { return service_.get(); }

    // Takes the next id (ids are never reused, a refused registration still
    // consumes one) and registers the shortcut. On success the HotKey is kept
    // and the event handler installed; on failure nothing is kept.
    void registerShortcut(const Shortcut& shortcut, HotKey::Action onKeyDown,
                          HotKey::Action onKeyUp);
    // Releases every registration of the shortcut.
    void unregisterShortcut(const Shortcut& shortcut);
    void unregisterAll();
    void setUpEventHandlerIfNeeded();
    // Runs the registration's action for a press (kind 5) or release (kind 6).
    // noErr when handled, eventNotHandledErr for no event, an unknown id or
    // another kind.
    int handleEvent(const HotKeyEvent* event);

    bool isTaken(const Shortcut& shortcut) const;

    // While suspended every registration is let go at the service and only
    // kept here, so the keys reach the focused window (a recorder) instead of
    // the hot-key service. A registration made meanwhile is tried and let go
    // at once, so it is kept only if the service accepts it. Resuming
    // registers everything again under the same ids; what the service now
    // refuses (another program took it meanwhile) is dropped.
    void setSuspended(bool suspended);
    bool suspended() const { return suspended_; }

    const std::map<std::uint32_t, std::shared_ptr<HotKey>>& hotKeys() const { return hotKeys_; }
    // The last id handed out; 0 before the first registration.
    std::uint32_t hotKeyId() const { return hotKeyId_; }
    bool eventHandlerInstalled() const { return eventHandlerInstalled_; }

  private:
    std::shared_ptr<HotKeyService> service_;
    std::map<std::uint32_t, std::shared_ptr<HotKey>> hotKeys_;
    std::uint32_t hotKeyId_ = 0;
    bool eventHandlerInstalled_ = false;
    bool suspended_ = false;
};

}  // namespace lumora
