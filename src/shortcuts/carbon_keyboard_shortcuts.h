#pragma once
// The system hot-key layer under the shortcut module: it registers Carbon
// key combinations with the installed HotKeyService under ever-increasing ids
// and routes the service's press and release events back to the actions given
// at registration. Used only on the user-interface thread.

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

    // Installs the service; registrations made with the previous one are
    // dropped (and released there). nullptr: no service, every registration
    // fails.
    static void setService(std::shared_ptr<HotKeyService> service);
    static HotKeyService* service();

    // Takes the next id (ids are never reused, a refused registration still
    // consumes one) and registers the shortcut. On success the HotKey is kept
    // and the event handler installed; on failure nothing is kept.
    static void registerShortcut(const Shortcut& shortcut, HotKey::Action onKeyDown,
                                 HotKey::Action onKeyUp);
    // Releases every registration of the shortcut.
    static void unregisterShortcut(const Shortcut& shortcut);
    static void unregisterAll();
    static void setUpEventHandlerIfNeeded();
    // Runs the registration's action for a press (kind 5) or release (kind 6).
    // noErr when handled, eventNotHandledErr for no event, an unknown id or
    // another kind.
    static int handleEvent(const HotKeyEvent* event);

    static bool isTaken(const Shortcut& shortcut);

    // While suspended every registration is let go at the service and only
    // kept here, so the keys reach the focused window (a recorder) instead of
    // the hot-key service. A registration made meanwhile is tried and let go
    // at once, so it is kept only if the service accepts it. Resuming
    // registers everything again under the same ids; what the service now
    // refuses (another program took it meanwhile) is dropped.
    static void setSuspended(bool suspended);
    static bool suspended();

    static const std::map<std::uint32_t, std::shared_ptr<HotKey>>& hotKeys();
    // The last id handed out; 0 before the first registration.
    static std::uint32_t hotKeyId();
    static bool eventHandlerInstalled();

    // Back to the state at process start; the service is released too.
    static void reset();
};

}  // namespace lumora
