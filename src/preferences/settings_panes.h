#pragma once
// The settings window's five panes, in the program's order, from what they
// work with. The program and the tests make them here alike.

#include <functional>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "preferences/connection_pane.h"
#include "preferences/preferences_window.h"

namespace lumora {
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
};

// Connection, Advanced, Lights, Hotkeys, Information. Each entry makes its
// pane afresh with a copy of `deps`, whose references must outlive them.
std::vector<PaneEntry> makeSettingsPanes(const SettingsPaneDeps& deps);

}  // namespace lumora::prefs
