#pragma once
// The settings window's five panes over one AppSettings (the recorders over
// `shortcuts`), in the program's order, for tests that walk them all. Every action does nothing;
// titles go through the translator like the program's own.

#include <QCoreApplication>
#include <string>
#include <vector>

#include "app/linux/launch_at_login.h"
#include "preferences/advanced_pane.h"
#include "preferences/connection_pane.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"

namespace lumora::testing {

inline std::vector<prefs::PaneEntry> settingsPanes(AppSettings& settings,
                                                   KeyboardShortcuts& shortcuts,
                                                   LaunchAtLogin& login, const std::string& site) {
    auto title = [](const char* english) {
        return QCoreApplication::translate("QObject", english);
    };
    auto none = [](const std::string&) {};
    return {
        {"general", title("Connection"), "", ":/preferences/connection.svg",
         [&settings](QWidget* parent) -> QWidget* {
             prefs::ConnectionActions a;
             a.detect = [] { return std::string(); };
             a.connectToBridge = a.disconnectBridge = a.sendDebug = a.showDebugWindow = [] {};
             a.version = "1.0";
             return new prefs::ConnectionView(settings, std::move(a), parent);
         }},
        {"advanced", title("Advanced"), "", ":/preferences/advanced.svg",
         [&settings, &login, site, none](QWidget* parent) -> QWidget* {
             return new prefs::AdvancedPane(settings, login, {}, none, site, parent);
         }},
        {"lights", title("Lights"), "", ":/preferences/lights.svg",
         [&settings](QWidget* parent) -> QWidget* {
             return new prefs::LightsPane(settings, parent);
         }},
        {"hotkeys", title("Hotkeys"), "", ":/preferences/hotkeys.svg",
         [&settings, &shortcuts](QWidget* parent) -> QWidget* {
             return new prefs::HotkeysPane(settings, shortcuts, parent);
         }},
        {"info", title("Information"), "", ":/preferences/information.svg",
         [site, none](QWidget* parent) -> QWidget* {
             return new prefs::InformationPane(site, none, parent);
         }},
    };
}

}  // namespace lumora::testing
