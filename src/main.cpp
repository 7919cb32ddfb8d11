// lumora: the tray program. `lumora --demo` brings its own simulated bridge.

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/app_delegate.h"
#include "app/linux/file_store.h"
#include "app/linux/launch_at_login.h"
#include "app/linux/run_script.h"
#include "app/qt/qt_executor.h"
#include "base/setting_keys.h"
#include "bridge/avahi/avahi_browser.h"
#include "bridge/discovery.h"
#include "bridge/http.h"
#include "panel/qt_shell.h"
#include "panel/translations.h"
#include "panel/views/content_view.h"
#include "panel/views/palette.h"
#include "preferences/advanced_pane.h"
#include "preferences/connection_pane.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"
#include "preferences/site_pages.h"
#include "shortcuts/x11/x11_hotkey_service.h"
#include "simulator/sim_server.h"

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

// Gathers what the report needs on a worker and runs the bundled script.
void sendDebugData(const std::string& ip, const std::string& user,
                   const std::vector<std::string>& log, const QString& resources) {
    std::string model = "unknown";
    if (!ip.empty() && !user.empty()) {
        lumora::HttpRequest request;
        request.url = "http://" + ip + "/api/" + user + "/config";
        request.timeout = std::chrono::seconds(3);
        const lumora::HttpResponse reply = lumora::httpSend(request);
        if (reply.ok() && reply.body) {
            const auto config = nlohmann::json::parse(*reply.body, nullptr, false);
            if (config.is_object() && config.contains("modelid") && config["modelid"].is_string()) {
                model = config["modelid"].get<std::string>();
            }
        }
    }
    // The log with the user name blanked: the report must never carry it.
    char path[] = "/tmp/lumora-log-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    ::close(fd);
    {
        std::ofstream out(path);
        for (std::string line : log) {
            if (!user.empty()) {
                for (auto at = line.find(user); at != std::string::npos; at = line.find(user, at)) {
                    line.replace(at, user.size(), "<user>");
                }
            }
            out << line << '\n';
        }
    }
    const std::string written = lumora::runScript(
        resources.toStdString(), "send_debug", {},
        {std::string("LUMORA_VERSION=") + LUMORA_VERSION, "LUMORA_BRIDGE_ADDRESS=" + ip,
         "LUMORA_BRIDGE_MODEL=" + model, std::string("LUMORA_LOG_FILE=") + path});
    std::remove(path);
    if (!written.empty()) std::fprintf(stdout, "Debug report: %s", written.c_str());
}

// The port of a loopback address the demo stored ("127.0.0.1:41234"), else 0.
int lastDemoPort(const std::string& address) {
    const auto url = lumora::parseUrl("http://" + address);
    if (!url || url->host != "127.0.0.1" || url->port < 1024) return 0;
    return url->port;
}

// The demo's bridge on `port` (the one it had last time, so that a repeat
// start finds its settings as they are and writes nothing on the way to the
// tray), else on any free port. Nothing, and `error` says why, on failure.
std::unique_ptr<lumora::sim::SimServer> startDemoBridge(int port, std::string* error) {
    lumora::sim::ServerOptions options;
    options.fixture = "demo";
    options.linkButtonPressed = true;
    options.port = port;
    auto sim = std::make_unique<lumora::sim::SimServer>(options);
    if (sim->start(error)) return sim;
    if (port == 0) return nullptr;
    options.port = 0;
    sim = std::make_unique<lumora::sim::SimServer>(options);
    error->clear();
    return sim->start(error) ? std::move(sim) : nullptr;
}

// LUMORA_COLOR_SCHEME=dark|light overrides the desktop's palette, for
// desktops that give Qt none and for screenshots.
void applySchemeOverride() {
    const QByteArray scheme = qgetenv("LUMORA_COLOR_SCHEME");
    if (scheme != "dark" && scheme != "light") return;
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (scheme == "light") {
        QApplication::setPalette(QApplication::style()->standardPalette());
        return;
    }
    QApplication::setPalette(lumora::panel::darkPalette());
}

}  // namespace

int main(int argc, char** argv) {
    const double started = monotonicMs();
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("lumora %s\n", LUMORA_VERSION);
            return 0;
        }
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
        simStarter =
            std::thread([&sim, &simError,
                         port = lastDemoPort(store->string(lumora::keys::bridgeIP).value_or(""))] {
                sim = startDemoBridge(port, &simError);
            });
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumora"));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lumora"));
    QApplication::setQuitOnLastWindowClosed(false);
    Q_INIT_RESOURCE(lumora);
    Q_INIT_RESOURCE(views_resources);
    Q_INIT_RESOURCE(preferences);
    lumora::panel::installTranslations(QLocale::system());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumora/icons/lumora.svg")));
    applySchemeOverride();

    // Made after the application and let go of before it: its timers and
    // queued calls live on the Qt loop.
    auto dispatcher = std::make_shared<lumora::QtExecutor>();

    if (demo) {
        simStarter.join();
        if (!sim) {
            std::fprintf(stderr, "lumora: the demo bridge did not start: %s\n", simError.c_str());
            return 1;
        }
        store->setString(lumora::keys::bridgeIP, sim->address());
        store->setString(lumora::keys::bridgeUser, lumora::sim::kDemoUser);
        // A first look with room to see the home, and its scenes.
        for (const char* key : {lumora::keys::heightLights, lumora::keys::heightRooms}) {
            if (!store->contains(key)) store->setInteger(key, 460);
        }
        if (!store->contains(lumora::keys::showScenes))
            store->setBool(lumora::keys::showScenes, true);
        std::printf("lumora: demo bridge at %s\n", sim->address().c_str());
        std::fflush(stdout);
    }

    // What everything below works with, chosen here once. Detection asks the
    // local network's DNS-SD daemon after the web lookup; the demo's bridge
    // is only on loopback, so the demo leaves the network alone.
    lumora::Services services = lumora::servicesWith(dispatcher, store);
    if (!demo) services.browserFactory = [] { return lumora::makeAvahiBrowser(); };
    // No X display, no global shortcuts; the rest works all the same.
    services.hotKeyService = lumora::X11HotKeyService::connect(dispatcher);
    lumora::AppDelegate delegate(std::move(services));
    const QString resources = resourceDirectory();
    // The bundled pages unless the build points at a web site.
    const std::string siteBase =
        std::strlen(LUMORA_SITE_URL) > 0
            ? std::string(LUMORA_SITE_URL)
            : QUrl::fromLocalFile(resources + "/site/").toString().toStdString();
    delegate.setSiteURLs(lumora::prefs::sitePage(siteBase, ""),
                         lumora::prefs::sitePage(siteBase, "feedback"));

    // The demo keeps its start-at-login entry in its own folder, so trying it
    // out never changes what the desktop starts.
    lumora::LaunchAtLogin launchAtLogin(
        demo ? std::filesystem::path(lumora::configDirectory("lumora-demo"))
             : lumora::LaunchAtLogin::configHome(),
        lumora::LaunchAtLogin::currentProgram());
    launchAtLogin.migrateIfNeeded();

    lumora::panel::QtShell::Options options;
    options.makeContent = [&delegate, siteBase](lumora::panel::QtShell& shell) -> QWidget* {
        lumora::panel::PanelActions actions;
        actions.closePanel = [&shell] { shell.closePanel(); };
        actions.showSettings = [&delegate] { delegate.openSettings(); };
        actions.connectToBridge = [&delegate] { delegate.connectToBridge(); };
        actions.openURL = [&shell](const std::string& url) { shell.openURL(url); };
        actions.reviewURL = lumora::prefs::sitePage(siteBase, "feedback");
        actions.version = LUMORA_VERSION;
        return new lumora::panel::ContentView(delegate.settings(), delegate, std::move(actions));
    };
    auto sendDebug = [&delegate, &dispatcher, resources] {
        // Copies taken here, on the user-interface thread; the report is
        // written on a worker.
        const auto& settings = delegate.settings();
        dispatcher->postBG([ip = settings.hueIP(), user = settings.hueKey(), log = settings.log(),
                            resources] { sendDebugData(ip, user, log, resources); });
    };
    // Made the first time it is asked for: the tray program stays small
    // until someone opens its settings.
    std::unique_ptr<lumora::prefs::PreferencesWindow> preferences;
    lumora::panel::QtShell* shellPtr = nullptr;
    auto makePreferences = [&]() {
        auto& settings = delegate.settings();
        auto openURL = [&shellPtr](const std::string& url) {
            if (shellPtr) shellPtr->openURL(url);
        };
        std::vector<lumora::prefs::PaneEntry> panes;
        panes.push_back(
            {"general", QObject::tr("Connection"), "network-wired", ":/preferences/connection.svg",
             [&](QWidget* parent) -> QWidget* {
                 lumora::prefs::ConnectionActions actions;
                 actions.detect = [factory = delegate.services().browserFactory,
                                   console = delegate.services().console] {
                     lumora::DetectBridgeOptions detectOptions;
                     detectOptions.browserFactory = factory;
                     detectOptions.console = console;
                     return lumora::detectBridge(detectOptions);
                 };
                 actions.connectToBridge = [&delegate] { delegate.connectToBridge(); };
                 actions.disconnectBridge = [&delegate] { delegate.disconnectBridge(); };
                 actions.sendDebug = sendDebug;
                 actions.showDebugWindow = [&shellPtr] {
                     if (shellPtr) shellPtr->showDebugWindow();
                 };
                 actions.version = LUMORA_VERSION;
                 return new lumora::prefs::ConnectionView(settings, std::move(actions), parent);
             }});
        panes.push_back({"advanced", QObject::tr("Advanced"), "preferences-system",
                         ":/preferences/advanced.svg", [&, openURL](QWidget* parent) -> QWidget* {
                             // The status item follows appIcon itself.
                             return new lumora::prefs::AdvancedPane(settings, launchAtLogin, {},
                                                                    openURL, siteBase, parent);
                         }});
        panes.push_back({"lights", QObject::tr("Lights"), "format-justify-fill",
                         ":/preferences/lights.svg", [&](QWidget* parent) -> QWidget* {
                             return new lumora::prefs::LightsPane(settings, parent);
                         }});
        panes.push_back({"hotkeys", QObject::tr("Hotkeys"), "input-keyboard",
                         ":/preferences/hotkeys.svg", [&](QWidget* parent) -> QWidget* {
                             return new lumora::prefs::HotkeysPane(settings, delegate.shortcuts(),
                                                                   parent);
                         }});
        panes.push_back({"info", QObject::tr("Information"), "help-about",
                         ":/preferences/information.svg",
                         [&, openURL](QWidget* parent) -> QWidget* {
                             return new lumora::prefs::InformationPane(siteBase, openURL, parent);
                         }});
        preferences = std::make_unique<lumora::prefs::PreferencesWindow>(std::move(panes),
                                                                         settings.defaults());
        preferences->setWindowTitle(QObject::tr("Lumora Settings"));
    };
    options.showSettings = [&] {
        if (!preferences) makePreferences();
        preferences->show();
    };
    options.sendDebugData = sendDebug;
    lumora::panel::QtShell shell(delegate, std::move(options));
    shellPtr = &shell;
    delegate.setShell(&shell);

    QTimer::singleShot(0, &app, [&delegate, started] {
        delegate.applicationDidFinishLaunching();
        if (qEnvironmentVariableIsSet("LUMORA_TRACE_TIMES")) {
            std::fprintf(stderr, "lumora: event loop running %.1f ms after start (t=%.3f)\n",
                         monotonicMs() - started, monotonicMs());
        }
    });
    return QApplication::exec();
}
