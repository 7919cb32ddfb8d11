#include "preferences/settings_panes.h"

#include <QObject>

#include "app/bridge_controller.h"
#include "preferences/advanced_pane.h"
#include "preferences/debug_view.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/welcome_view.h"

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
                         return new HotkeysPane(deps.settings, deps.shortcuts, deps.hotkeysHost,
                                                parent);
                     }});
    panes.push_back({"info", QObject::tr("Information"), "help-about",
                     ":/preferences/information.svg", [deps](QWidget* parent) -> QWidget* {
                         return new InformationPane(deps.siteBase, deps.openURL, parent);
                     }});
    return panes;
}

std::unique_ptr<PreferencesWindow> makeSettingsWindow(const SettingsPaneDeps& deps) {
    auto window =
        std::make_unique<PreferencesWindow>(makeSettingsPanes(deps), deps.settings.defaults());
    window->setWindowTitle(QObject::tr("Lumora Settings"));
    return window;
}

ConnectionActions connectionActions(BridgeController& controller,
                                    std::function<void()> showDebugWindow) {
    ConnectionActions a;
    a.detect = controller.detector();
    a.useFound = [&controller](const FoundBridge& found) { controller.useFoundBridge(found); };
    a.connectToBridge = [&controller] { controller.connectToBridge(); };
    a.disconnectBridge = [&controller] { controller.disconnectBridge(); };
    a.trustCertificate = [&controller](const std::string& fingerprint) {
        controller.trustCertificate(fingerprint);
    };
    a.sendDebug = [&controller] { controller.sendDebugReport(); };
    a.showDebugWindow = std::move(showDebugWindow);
    a.version = LUMORA_VERSION;
    return a;
}

QWidget* makeWelcomeView(std::function<void()> done) {
    return new WelcomeView(std::move(done));
}

QWidget* makeDebugView(AppSettings& settings, std::function<void()> sendDebugReport,
                       std::function<void()> close) {
    return new DebugView(settings, std::move(sendDebugReport), std::move(close));
}

}  // namespace lumora::prefs
