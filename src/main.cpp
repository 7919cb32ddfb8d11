// lumora: the tray program. `lumora --demo` brings its own simulated bridge.

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <ctime>
#include <thread>

#include "app/bridge_controller.h"
#include "app/demo/demo_bridge.h"
#include "app/hotkey_actions.h"
#include "app/linux/file_store.h"
#include "app/linux/launch_at_login.h"
#include "app/linux/run_script.h"
#include "app/qt/qt_executor.h"
#include "bridge/avahi/avahi_browser.h"
#include "panel/qt_shell.h"
#include "preferences/settings_panes.h"
#include "preferences/site_pages.h"
#include "shortcuts/portal/portal_shortcuts.h"
#include "shortcuts/x11/x11_hotkey_service.h"

namespace {

constexpr const char* kUsage =
    "Usage: lumora [--demo]\n"
    "\n"
    "The tray program: click the lamp in the tray to open the panel, right-click\n"
    "it for the menu.\n"
    "\n"
    "  --demo      start a simulated bridge with a furnished home on this machine\n"
    "              and connect to it; uses its own settings ($XDG_CONFIG_HOME/lumora-demo)\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n"
    "\n"
    "Settings: $LUMORA_CONFIG_DIR, else $XDG_CONFIG_HOME/lumora/defaults.json.\n"
    "To pair with a bridge: lumora-ctl pair ADDRESS.\n";

// CLOCK_MONOTONIC in milliseconds, for LUMORA_TRACE_TIMES.
double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Installed: <prefix>/share/lumora next to <prefix>/bin; else the source tree.
QString resourceDirectory() {
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../share/lumora");
    if (QFileInfo(installed + "/site/index.html").exists()) return QDir::cleanPath(installed);
    return QStringLiteral(LUMORA_SOURCE_RESOURCES);
}

}  // namespace

int main(int argc, char** argv) {
    const double started = monotonicMs();
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return std::fputs(kUsage, stdout), 0;
        if (a == "--version") return std::printf("lumora %s\n", LUMORA_VERSION), 0;
        if (a == "--demo") {
            demo = true;
            continue;
        }
        std::fprintf(stderr, "lumora: unknown option \"%s\"\n\n%s", a.c_str(), kUsage);
        return 2;
    }

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
    // On a Wayland session the desktop holds global keys through its portal
    // where it has one; elsewhere the X11 grabs. No X display, no global
    // shortcuts; the rest works all the same.
    const auto portalVersion =
        lumora::isWaylandSession()
            ? lumora::portalShortcutsVersion(QDBusConnection::sessionBus(),
                                             QString::fromLatin1(lumora::kApplicationId))
            : std::nullopt;
    if (!portalVersion) services.hotKeyService = lumora::X11HotKeyService::connect(dispatcher);
    const char* keys = portalVersion            ? "the desktop portal"
                       : services.hotKeyService ? "X11 key grabs"
                                                : "nothing (no X display, no portal)";
    std::fprintf(stderr, "lumora: global shortcuts through %s\n", keys);
    services.runScript = [dir = resources.toStdString()](const std::string& name,
                                                         const std::vector<std::string>& env) {
        return lumora::runScript(dir, name, {}, env);
    };
    lumora::BridgeController controller(services);
    lumora::HotkeyActions hotkeys(controller, services);
    std::unique_ptr<lumora::PortalShortcuts> portalShortcuts;
    if (portalVersion) {
        portalShortcuts = std::make_unique<lumora::PortalShortcuts>(
            hotkeys.shortcuts(), QDBusConnection::sessionBus(),
            lumora::PortalShortcuts::Options{lumora::shortcutTitle, *portalVersion});
        portalShortcuts->start();
    }

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
    // Made the first time it is asked for: the tray program stays small
    // until someone opens its settings.
    std::unique_ptr<lumora::prefs::PreferencesWindow> preferences;
    options.showSettings = [&](lumora::panel::QtShell& shell) {
        if (!preferences) {
            preferences = lumora::prefs::makeSettingsWindow(
                {controller.settings(), hotkeys.shortcuts(), launchAtLogin, siteBase,
                 lumora::prefs::connectionActions(controller,
                                                  [&shell] { shell.showDebugWindow(); }),
                 [&shell](const std::string& url) { shell.openURL(url); }});
        }
        preferences->show();
    };
    lumora::panel::QtShell shell(controller, hotkeys, std::move(options));

    QTimer::singleShot(0, &app, [&shell, started] {
        shell.applicationDidFinishLaunching();
        if (qEnvironmentVariableIsSet("LUMORA_TRACE_TIMES")) {
            std::fprintf(stderr, "lumora: event loop running %.1f ms after start (t=%.3f)\n",
                         monotonicMs() - started, monotonicMs());
        }
    });
    return QApplication::exec();
}
