#pragma once
// Named, user-recordable global shortcuts: each name has one entry in the
// defaults store; a stored combination is registered with the system's hot-key
// service and a press or release runs the handlers added for the name.
//
// Set-up, once, on the user-interface thread:
//   KeyboardShortcuts::setStore(store);
//   KeyboardShortcuts::setNotificationCenter(center);
//   KeyboardShortcuts::setHotKeyService(service);     // e.g. X11HotKeyService
//   KeyboardShortcuts::setKeyTextProvider(provider);  // optional
//   KeyboardShortcuts::onKeyUp(KeyboardShortcuts::Name::actionAllLightsOff, [] { ... });
// Every call belongs on the user-interface thread; nothing here locks.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/notification_center.h"
#include "shortcuts/hotkey_service.h"
#include "shortcuts/key_text.h"
#include "shortcuts/shortcut.h"

namespace lumora {

class KeyboardShortcuts {
  public:
    using Shortcut = lumora::Shortcut;
    using Action = std::function<void()>;

    // One shortcut slot. Equal when the raw values are equal.
    class Name {
      public:
        // With a default, the default is stored unless the defaults already
        // hold any value for the name (a cleared entry counts as a value).
        explicit Name(std::string rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);

        const std::string& rawValue() const { return rawValue_; }
        const std::optional<Shortcut>& defaultShortcut() const { return defaultShortcut_; }

        bool operator==(const Name& o) const { return rawValue_ == o.rawValue_; }
        auto operator<=>(const Name& o) const { return rawValue_ <=> o.rawValue_; }

        static const Name actionAllLightsOn;
        static const Name actionAllLightsOff;
        static const Name actionAllLightsBrighter;
        static const Name actionAllLightsDarker;
        static const Name actionAllLightsRed;
        static const Name actionAllLightsBlue;
        static const Name actionAllLightsWhite;
        static const Name actionCustomGroup1;
        static const Name actionCustomGroup2;
        static const Name actionCustomGroup3;
        static const Name actionCustomGroup4;
        static const Name actionCustomGroup5;
        // Opens the panel, or closes it when it is open.
        static const Name actionTogglePanel;
        // The thirteen names above, in that order.
        static const std::vector<Name>& all();

      private:
        std::string rawValue_;
        std::optional<Shortcut> defaultShortcut_;
    };

    // Posted after every store or clear; user info "name" = the raw value.
    static constexpr const char* shortcutByNameDidChange =
        "KeyboardShortcuts_shortcutByNameDidChange";

    // --- set-up -----------------------------------------------------------
    // The defaults store holding the entries. Without one nothing is stored
    // and every name reads as having no shortcut.
    static void setStore(std::shared_ptr<DefaultsStore> store);
    // Where shortcutByNameDidChange is posted; without one nothing is posted.
    static void setNotificationCenter(std::shared_ptr<NotificationCenter> center);
    static const std::shared_ptr<NotificationCenter>& notificationCenter();
    // The system hot-key service. Replacing it moves every registration over:
    // the old one is emptied, every name with handlers registered again.
    static void setHotKeyService(std::shared_ptr<HotKeyService> service);
    // Text of ordinary keys in descriptions; nullptr restores the US table.
    static void setKeyTextProvider(std::shared_ptr<KeyTextProvider> provider);
    static const KeyTextProvider& keyTextProvider();
    // Back to the state at process start: no handlers, no registrations, no
    // store, no centre, no service, not paused. For tests and shut-down.
    static void reset();

    // --- handlers ---------------------------------------------------------
    // Appends the action to the name's list and registers the name's stored
    // combination, if any. Later recordings need no new call.
    static void onKeyUp(const Name& name, Action action);
    static void onKeyDown(const Name& name, Action action);

    // --- storage ----------------------------------------------------------
    static std::optional<Shortcut> getShortcut(const Name& name);
    // With a shortcut: unregister the old one, register the new one, write it,
    // post. Without: if there is one, write false, unregister it, post.
    static void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
    // "KeyboardShortcuts_" + raw value.
    static std::string userDefaultsKey(const Name& name);
    // Any value at all under the key, a cleared entry included.
    static bool userDefaultsContains(const Name& name);

    // --- registration and dispatch ----------------------------------------
    static void registerShortcutIfNeeded(const Name& name);
    // Registers with the hot-key layer unless already done. The shortcut
    // counts as registered even when the system refused it.
    static void registerShortcut(const Shortcut& shortcut);
    static void unregisterShortcut(const Shortcut& shortcut);
    static const std::set<Shortcut>& registeredShortcuts();
    // Run the actions of every name whose stored shortcut, read now, equals
    // the pressed one. Nothing runs while paused.
    static void handleOnKeyDown(const Shortcut& shortcut);
    static void handleOnKeyUp(const Shortcut& shortcut);

    // True while a recorder records, so a bound combination gets recorded
    // instead of firing. Pausing also lets go of every registration with the
    // hot-key service (they come back on resume), so the key press reaches
    // the recorder at all.
    static bool isPaused();
    static void setPaused(bool paused);

  private:
    static void userDefaultsSet(const Name& name, const Shortcut& shortcut);
    static void userDefaultsRemove(const Name& name);
};

inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsOn{"allLightsOn"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsOff{"allLightsOff"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsBrighter{
    "allLightsBrighter"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsDarker{
    "allLightsDarker"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsRed{"allLightsRed"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsBlue{"allLightsBlue"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionAllLightsWhite{
    "allLightsWhite"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionCustomGroup1{
    "actionCustomGroup1"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionCustomGroup2{
    "actionCustomGroup2"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionCustomGroup3{
    "actionCustomGroup3"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionCustomGroup4{
    "actionCustomGroup4"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionCustomGroup5{
    "actionCustomGroup5"};
inline const KeyboardShortcuts::Name KeyboardShortcuts::Name::actionTogglePanel{"togglePanel"};

}  // namespace lumora

template <>
struct std::hash<lumora::KeyboardShortcuts::Name> {
    std::size_t operator()(const lumora::KeyboardShortcuts::Name& n) const noexcept {
        return std::hash<std::string>{}(n.rawValue());
    }
};
