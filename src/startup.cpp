#include "startup.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/hotkey_actions.h"
#include "app/linux/launch_at_login.h"
#include "shortcuts/portal/portal_shortcuts.h"
#include "shortcuts/x11/x11_hotkey_service.h"

namespace lumora::startup {
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

}  // namespace

Arguments parseArguments(int argc, char** argv) {
    Arguments result;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            result.exitWith = 0;
        } else if (a == "--version") {
            std::printf("lumora %s\n", LUMORA_VERSION);
            result.exitWith = 0;
        } else if (a == "--demo") {
            result.demo = true;
            continue;
        } else {
            std::fprintf(stderr, "lumora: unknown option \"%s\"\n\n%s", a.c_str(), kUsage);
            result.exitWith = 2;
        }
        return result;
    }
    return result;
}

double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QString resourceDirectory() {
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../share/lumora");
    if (QFileInfo(installed + "/site/index.html").exists()) return QDir::cleanPath(installed);
    return QStringLiteral(LUMORA_SOURCE_RESOURCES);
}

std::optional<unsigned> chooseGlobalShortcuts(Services& services,
                                              const std::shared_ptr<Dispatcher>& dispatcher) {
    const auto portalVersion = isWaylandSession()
                                   ? portalShortcutsVersion(QDBusConnection::sessionBus(),
                                                            QString::fromLatin1(kApplicationId))
                                   : std::nullopt;
    if (!portalVersion) services.hotKeyService = X11HotKeyService::connect(dispatcher);
    const char* keys = portalVersion            ? "the desktop portal"
                       : services.hotKeyService ? "X11 key grabs"
                                                : "nothing (no X display, no portal)";
    std::fprintf(stderr, "lumora: global shortcuts through %s\n", keys);
    return portalVersion;
}

std::unique_ptr<PortalShortcuts> startPortalShortcuts(std::optional<unsigned> portalVersion,
                                                      HotkeyActions& hotkeys) {
    if (!portalVersion) return nullptr;
    auto portal =
        std::make_unique<PortalShortcuts>(hotkeys.shortcuts(), QDBusConnection::sessionBus(),
                                          PortalShortcuts::Options{shortcutTitle, *portalVersion});
    portal->start();
    return portal;
}

}  // namespace lumora::startup
