#pragma once
// The settings window's five panes, in the program's order, from what they
// work with; the window itself; and the views the panel is handed for its
// welcome and debug windows. The program and the tests make them here alike.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "preferences/connection_pane.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/preferences_window.h"

class QWidget;

namespace lumora {
class BridgeController;
class KeyboardShortcuts;
class LaunchAtLogin;
}  // namespace lumora

namespace lumora::prefs {

struct SettingsPaneDeps {
    AppSettings& settings;
    KeyboardShortcuts& shortcuts;  // the Hotkeys pane's recorders store into it
    LaunchAtLogin& launchAtLogin;
    std::string siteBase;          // the product pages, see site_pages.h
    ConnectionActions connection;  // the Connection pane's detect, connect, debug…
    std::function<void(const std::string&)> openURL;
    HotkeysHost hotkeysHost = {};  // who holds the global keys
};

// Connection, Advanced, Lights, Hotkeys, Information. Each entry makes its
// pane afresh with a copy of `deps`, whose references must outlive them.
std::vector<PaneEntry> makeSettingsPanes(const SettingsPaneDeps& deps);
// The window of those panes, titled, its frame kept in the settings' store.
std::unique_ptr<PreferencesWindow> makeSettingsWindow(const SettingsPaneDeps& deps);

// The Connection pane's actions, carried out by the controller.
ConnectionActions connectionActions(BridgeController& controller,
                                    std::function<void()> showDebugWindow);

// The welcome window's view; `done` is its closing button.
QWidget* makeWelcomeView(std::function<void()> done);
// The debug window's view over the log, with the report's start and the
// window's close.
QWidget* makeDebugView(AppSettings& settings, std::function<void()> sendDebugReport,
                       std::function<void()> close);

}  // namespace lumora::prefs
