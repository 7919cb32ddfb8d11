#pragma once
// What lumora's main needs besides putting the parts together: its command
// line, where its resources are, and which global shortcuts the desktop allows.

#include <QString>
#include <memory>
#include <optional>

#include "app/services.h"

namespace lumora {

class HotkeyActions;
class PortalShortcuts;

namespace startup {

struct Arguments {
    bool demo = false;
    std::optional<int> exitWith;  // --help, --version or a mistake: done already
};
Arguments parseArguments(int argc, char** argv);

// CLOCK_MONOTONIC in milliseconds, for LUMORA_TRACE_TIMES.
double monotonicMs();

// Installed: <prefix>/share/lumora next to <prefix>/bin; else the source tree.
QString resourceDirectory();

// On a Wayland session the desktop holds global keys through its portal
// where it has one (its interface version is returned); elsewhere the X11
// grabs go into `services`. No X display, no global shortcuts; the rest
// works all the same. Says on standard error which it is.
std::optional<unsigned> chooseGlobalShortcuts(Services& services,
                                              const std::shared_ptr<Dispatcher>& dispatcher);

// The portal's shortcuts for `hotkeys`, started; none without a portal.
std::unique_ptr<PortalShortcuts> startPortalShortcuts(std::optional<unsigned> portalVersion,
                                                      HotkeyActions& hotkeys);

}  // namespace startup
}  // namespace lumora
