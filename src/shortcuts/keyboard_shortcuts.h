#pragma once
// Named, user-recordable global shortcuts: each name has one entry in the
// defaults store; a stored combination is registered with the system's hot-key
// service and a press or release runs the handlers added for the name.
//
// The program builds one over the hot-key layer it owns:
//   CarbonKeyboardShortcuts layer(service);  // e.g. X11HotKeyService
//   KeyboardShortcuts shortcuts(store, center, layer, keyText);
//   shortcuts.onKeyUp(KeyboardShortcuts::Name::actionAllLightsOff, [] { ... });
// Two instances share nothing but what they are given. Every call belongs on
// the user-interface thread; nothing here locks.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/notification_center.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
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
        // With a default, the default is stored the first time a module meets
        // the name, unless its defaults already hold any value for the name (a
        // cleared entry counts as a value).
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

    // Without a store nothing is stored and every name reads as having no
    // shortcut; without a centre nothing is posted; without a key-text
    // provider descriptions use the US table. The layer must outlive this.
    KeyboardShortcuts(std::shared_ptr<DefaultsStore> store,
                      std::shared_ptr<NotificationCenter> center, CarbonKeyboardShortcuts& hotKeys,
                      std::shared_ptr<KeyTextProvider> keyText = nullptr);
    // Lets go of this module's registrations at the layer.
    ~KeyboardShortcuts();
    KeyboardShortcuts(const KeyboardShortcuts&) = delete;
    KeyboardShortcuts& operator=(const KeyboardShortcuts&) = delete;

    const std::shared_ptr<NotificationCenter>& notificationCenter() const { return center_; }
    CarbonKeyboardShortcuts& hotKeyLayer() const { return layer_; }
    // Replaces the layer's service and moves every registration over: the old
    // one is emptied, every name with handlers registered again.
    void setHotKeyService(std::shared_ptr<HotKeyService> service);
    const KeyTextProvider& keyTextProvider() const;
    // The shortcut as recorders show it, in this module's keyboard layout.
    std::string description(const Shortcut& shortcut) const {
        return shortcut.description(keyTextProvider());
    }

    // --- handlers ---------------------------------------------------------
    // Appends the action to the name's list and registers the name's stored
    // combination, if any. Later recordings need no new call.
    void onKeyUp(const Name& name, Action action);
    void onKeyDown(const Name& name, Action action);

    // --- storage ----------------------------------------------------------
    std::optional<Shortcut> getShortcut(const Name& name);
    // With a shortcut: unregister the old one, register the new one, write it,
    // post. Without: if there is one, write false, unregister it, post.
    void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
    // "KeyboardShortcuts_" + raw value.
    static std::string userDefaultsKey(const Name& name);
    // Any value at all under the key, a cleared entry included.
    bool userDefaultsContains(const Name& name);

    // --- registration and dispatch ----------------------------------------
    void registerShortcutIfNeeded(const Name& name);
    // Registers with the hot-key layer unless already done. The shortcut
    // counts as registered even when the system refused it.
    void registerShortcut(const Shortcut& shortcut);
    void unregisterShortcut(const Shortcut& shortcut);
    const std::set<Shortcut>& registeredShortcuts() const { return registeredShortcuts_; }
    // Run the actions of every name whose stored shortcut, read now, equals
    // the pressed one. Nothing runs while paused.
    void handleOnKeyDown(const Shortcut& shortcut);
    void handleOnKeyUp(const Shortcut& shortcut);
    // A service that binds names rather than keys (the desktop portal, which
    // chooses the key itself) reports one activation: the name's key-down
    // actions run, then its key-up ones, whatever combination is recorded.
    // Nothing runs while paused.
    void handleActivated(const Name& name);

    // True while a recorder records, so a bound combination gets recorded
    // instead of firing. Pausing also lets go of every registration with the
    // hot-key service (they come back on resume), so the key press reaches
    // the recorder at all.
    bool isPaused() const { return isPaused_; }
    void setPaused(bool paused);

  private:
    // Stores a name's default the first time this module meets the name.
    void applyDefault(const Name& name);
    bool storeContains(const Name& name) const;
    void userDefaultsSet(const Name& name, const Shortcut& shortcut);
    void userDefaultsRemove(const Name& name);
    void postChange(const Name& name);
    void runHandlers(const std::map<Name, std::vector<Action>>& handlers, const Shortcut& pressed);

    std::shared_ptr<DefaultsStore> store_;
    std::shared_ptr<NotificationCenter> center_;
    CarbonKeyboardShortcuts& layer_;
    std::shared_ptr<KeyTextProvider> keyText_;
    std::set<Shortcut> registeredShortcuts_;
    std::map<Name, std::vector<Action>> legacyKeyDownHandlers_;
    std::map<Name, std::vector<Action>> legacyKeyUpHandlers_;
    std::set<std::string> defaultsApplied_;
    bool isPaused_ = false;
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
