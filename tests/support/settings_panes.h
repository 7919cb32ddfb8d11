#pragma once
// The program's five settings panes over one AppSettings (the recorders over
// `shortcuts`), for tests that walk them all. Every action does nothing.

#include <string>
#include <vector>

#include "preferences/settings_panes.h"

namespace lumora::testing {

inline std::vector<prefs::PaneEntry> settingsPanes(AppSettings& settings,
                                                   KeyboardShortcuts& shortcuts,
                                                   LaunchAtLogin& login, const std::string& site) {
    prefs::ConnectionActions connection;
    connection.detect = [] { return std::string(); };
    connection.connectToBridge = connection.disconnectBridge = connection.sendDebug =
        connection.showDebugWindow = [] {};
    connection.version = "1.0";
    return prefs::makeSettingsPanes(
        {settings, shortcuts, login, site, std::move(connection), [](const std::string&) {}});
}

}  // namespace lumora::testing
