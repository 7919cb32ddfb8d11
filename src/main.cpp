// lumora: the tray program. `lumora --demo` brings its own simulated bridge.

#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <thread>

#include "app/bridge_controller.h"
#include "app/demo/demo_bridge.h"
#include "app/hotkey_actions.h"
#include "app/linux/file_store.h"
#include "app/linux/launch_at_login.h"
#include "app/linux/run_script.h"
#include "app/qt/qt_executor.h"
#include "bridge/avahi/avahi_browser.h"
#include "control/control_interface.h"
#include "panel/qt_shell.h"
#include "preferences/settings_panes.h"
#include "preferences/site_pages.h"
#include "shortcuts/portal/portal_shortcuts.h"
#include "startup.h"

int main(int argc, char** argv) {
    using namespace lumora::startup;
    const double started = monotonicMs();
    const Arguments arguments = parseArguments(argc, argv);
    if (arguments.exitWith) return *arguments.exitWith;
    const bool demo = arguments.demo;

    // The demo's bridge lives as long as the program, on loopback only. Its
    // home is read and it starts listening on a thread of its own while the
    // toolkit starts; both take some milliseconds.
    auto store = std::make_shared<lumora::JsonFileDefaultsStore>(
        lumora::configDirectory(demo ? "lumora-demo" : "lumora"));
    std::unique_ptr<lumora::sim::SimServer> sim;
    std::string simError;
    std::thread simStarter;
    if (demo) {
        simStarter = std::thread([&sim, &simError, port = lumora::lastDemoPort(*store)] {
            sim = lumora::startDemoBridge(port, &simError);
        });
    }

    lumora::panel::choosePlatformForPlacement();
    QApplication app(argc, argv);
    lumora::panel::setUpApplication();
    Q_INIT_RESOURCE(preferences);  // the settings window's images

    // Made after the application and let go of before it: its timers and
    // queued calls live on the Qt loop.
    auto dispatcher = std::make_shared<lumora::QtExecutor>();
    if (demo) {
        simStarter.join();
        if (!sim) {
            std::fprintf(stderr, "lumora: the demo bridge did not start: %s\n", simError.c_str());
            return 1;
        }
        lumora::seedDemoSettings(*store, *sim);
        std::printf("lumora: demo bridge at %s\n", sim->httpsBaseUrl().c_str());
        std::fflush(stdout);
    }

    // What everything below works with, chosen here once. Detection asks the
    // local network's DNS-SD daemon after the web lookup; the demo's bridge
    // is only on loopback, so the demo leaves the network alone.
    const QString resources = resourceDirectory();
    lumora::Services services = lumora::servicesWith(dispatcher, store);
    if (!demo) services.browserFactory = [] { return lumora::makeAvahiBrowser(); };
    // The demo's bridge shows the secure path with a root of its own, handed
    // in here; the shipped program trusts only the roots built into it.
    if (demo) services.bridgeAnchors = lumora::demoTrustAnchors(*sim);
    const auto portalVersion = chooseGlobalShortcuts(services, dispatcher);
    services.runScript = [dir = resources.toStdString()](const std::string& name,
                                                         const std::vector<std::string>& env) {
        return lumora::runScript(dir, name, {}, env);
    };
    lumora::BridgeController controller(services);
    lumora::HotkeyActions hotkeys(controller, services);
    const auto portalShortcuts = startPortalShortcuts(portalVersion, hotkeys);

    // The bundled pages unless the build points at a web site.
    const std::string siteBase =
        std::string_view(LUMORA_SITE_URL).empty()
            ? QUrl::fromLocalFile(resources + "/site/").toString().toStdString()
            : std::string(LUMORA_SITE_URL);
    // The demo keeps its start-at-login entry in its own folder, so trying it
    // out never changes what the desktop starts.
    lumora::LaunchAtLogin launchAtLogin(
        demo ? std::filesystem::path(lumora::configDirectory("lumora-demo"))
             : lumora::LaunchAtLogin::configHome(),
        lumora::LaunchAtLogin::currentProgram());
    launchAtLogin.migrateIfNeeded();

    lumora::panel::QtShell::Options options;
    options.helpURL = lumora::prefs::sitePage(siteBase, "");
    options.feedbackURL = lumora::prefs::sitePage(siteBase, "feedback");
    options.makeWelcomeView = lumora::prefs::makeWelcomeView;
    options.makeDebugView = lumora::prefs::makeDebugView;
    // The Hotkeys pane shows who holds the keys: the portal, nobody (a
    // Wayland desktop without it: command lines to bind), or our grabs.
    using HostKind = lumora::prefs::HotkeysHost::Kind;
    const lumora::prefs::HotkeysHost hotkeysHost{portalShortcuts              ? HostKind::portal
                                                 : lumora::isWaylandSession() ? HostKind::commands
                                                                              : HostKind::grabs,
                                                 portalShortcuts.get()};
    // Made the first time it is asked for: the tray program stays small
    // until someone opens its settings.
    std::unique_ptr<lumora::prefs::PreferencesWindow> preferences;
    options.showSettings = [&, hotkeysHost](lumora::panel::QtShell& shell) {
        if (!preferences) {
            preferences = lumora::prefs::makeSettingsWindow(
                {controller.settings(), hotkeys.shortcuts(), launchAtLogin, siteBase,
                 lumora::prefs::connectionActions(controller,
                                                  [&shell] { shell.showDebugWindow(); }),
                 [&shell](const std::string& url) { shell.openURL(url); }, hotkeysHost});
        }
        preferences->show();
    };
    lumora::panel::QtShell shell(controller, hotkeys, std::move(options));
    using Click = lumora::panel::QtShell::Click;
    lumora::ControlInterface control(controller, hotkeys,
                                     {[&shell] { shell.togglePopover(Click::left); },
                                      [&shell] {
                                          if (!shell.isPanelShown())
                                              shell.togglePopover(Click::left);
                                      },
                                      [&shell] { shell.closePanel(); }});

    QTimer::singleShot(0, &app, [&shell, &control, started] {
        shell.applicationDidFinishLaunching();
        // Once the panel exists, so a call never finds it missing.
        QString why;
        if (!control.publish(QDBusConnection::sessionBus(), &why))
            std::fprintf(stderr, "lumora: not reachable for lumora-ctl on the session bus: %s\n",
                         qPrintable(why));
        if (qEnvironmentVariableIsSet("LUMORA_TRACE_TIMES")) {
            std::fprintf(stderr, "lumora: event loop running %.1f ms after start (t=%.3f)\n",
                         monotonicMs() - started, monotonicMs());
        }
    });
    return QApplication::exec();
}
