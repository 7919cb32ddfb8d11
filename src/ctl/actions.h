#pragma once
// The global shortcuts' actions as lumora-ctl commands (all-on, brighter,
// slot N, toggle-panel, …). When the tray program runs they go to it over
// the session bus, so they take its one paced queue and its panel shows them
// at once; otherwise they act on the invocation's own controller, as the
// tray program would.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lumora {
class BridgeController;
}

namespace lumora::ctl {

// A command line lumora-ctl refuses: exit code 2 with the message.
struct UsageError {
    std::string message;
};

// Whether `verb` is one of these commands; `all-off` is, with its own
// direct path (every light off, or --in's schedule).
bool isTrayCommand(const std::string& verb);

// Checks `words` (throws UsageError), then hands the command to the tray
// program unless `ownBridge` (--bridge, --user, --demo: a bridge other than
// the tray program's) says it is not meant for the tray. The exit code when
// that settled it: done, refused, or a panel command with no tray program.
// Nothing when the command is to act directly.
std::optional<int> viaTray(const std::vector<std::string>& words, std::optional<std::int64_t> in,
                           bool ownBridge, std::ostream& err,
                           std::chrono::milliseconds timeout = std::chrono::seconds(2));

// The command on `controller`, which holds the rooms just read and the
// invocation's store (slot choices, the step size). Not for all-off.
void actDirectly(const std::vector<std::string>& words, BridgeController& controller);

}  // namespace lumora::ctl
