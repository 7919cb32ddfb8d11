#include "preferences/settings_panes.h"

#include <QObject>

#include "preferences/advanced_pane.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"

namespace lumora::prefs {

std::vector<PaneEntry> makeSettingsPanes(const SettingsPaneDeps& deps) {
    std::vector<PaneEntry> panes;
    panes.push_back({"general", QObject::tr("Connection"), "network-wired",
                     ":/preferences/connection.svg", [deps](QWidget* parent) -> QWidget* {
                         return new ConnectionView(deps.settings, deps.connection, parent);
                     }});
    panes.push_back({"advanced", QObject::tr("Advanced"), "preferences-system",
                     ":/preferences/advanced.svg", [deps](QWidget* parent) -> QWidget* {
                         // The status item follows appIcon itself.
                         return new AdvancedPane(deps.settings, deps.launchAtLogin, {},
                                                 deps.openURL, deps.siteBase, parent);
                     }});
    panes.push_back(
        {"lights", QObject::tr("Lights"), "format-justify-fill", ":/preferences/lights.svg",
         [deps](QWidget* parent) -> QWidget* { return new LightsPane(deps.settings, parent); }});
    panes.push_back({"hotkeys", QObject::tr("Hotkeys"), "input-keyboard",
                     ":/preferences/hotkeys.svg", [deps](QWidget* parent) -> QWidget* {
                         return new HotkeysPane(deps.settings, deps.shortcuts, parent);
                     }});
    panes.push_back({"info", QObject::tr("Information"), "help-about",
                     ":/preferences/information.svg", [deps](QWidget* parent) -> QWidget* {
                         return new InformationPane(deps.siteBase, deps.openURL, parent);
                     }});
    return panes;
}

}  // namespace lumora::prefs
