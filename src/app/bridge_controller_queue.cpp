// The controller's paced command queue, and the debug report.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/bridge_controller.h"
#include "bridge/command_reply.h"

namespace lumora {
namespace {

// Writes `lines` to a fresh private file; its path, or "" when none could be made.
std::string writeTemporary(const std::vector<std::string>& lines) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/lumora-log-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return {};
    ::close(fd);
    std::ofstream out(path);
    for (const auto& line : lines) out << line << '\n';
    if (!out.flush()) {
        std::remove(path.c_str());
        return {};
    }
    return path;
}

}  // namespace

// ---- The action queue -------------------------------------------------------

void BridgeController::addActionItem(ActionQueueItem item) {
    onUI([this, item = std::move(item)] {
        settings_->markUserAction();
        settings_->mutateActionQueue([&](std::vector<ActionQueueItem>& queue) {
            // A newer item replaces waiting ones for the same target and
            // property; an older light item survives a newer group item.
            std::erase_if(queue, [&](const ActionQueueItem& w) {
                return w.item_id == item.item_id && !(w.is_light_update && item.is_group_update) &&
                       w.property == item.property;
            });
            queue.push_back(item);
        });
    });
    ensureQueueProcessorIsRunning();
}

void BridgeController::ensureQueueProcessorIsRunning() {
    if (!actionQueueProcessor_.expired()) return;
    actionQueueProcessor_ = dispatcher_.scheduleRepeating(kQueuePeriod, [this] {
        processActionQueue();
        if (settings_->actionQueue().empty()) invalidate(actionQueueProcessor_);
    });
}

void BridgeController::processActionQueue() {
    if (settings_->actionQueue().empty()) return;
    std::optional<ActionQueueItem> item;
    settings_->mutateActionQueue([&](std::vector<ActionQueueItem>& queue) {
        item = std::move(queue.front());
        queue.erase(queue.begin());
    });
    send(*item);
}

void BridgeController::send(const ActionQueueItem& item) {
    // The item names the bridge resource; how it is reached (scheme, port,
    // the certificate it must show) is the endpoint's, decided once.
    const BridgeEndpoint bridge = endpoint();
    const auto parsed = parseUrl(item.url);
    HttpRequest req =
        bridge.request(item.url.find("/schedules") != std::string::npos ? "POST" : "PUT",
                       parsed ? bridge.base() + parsed->target : item.url);
    req.body = item.body;
    req.headers = {{"Content-Type", "application/json"}};
    req.timeout = kCommandTimeout;
    inFlight_->fetch_add(1);
    // The reply changes nothing: a failed command is dropped, and the next
    // refresh shows the bridge's real state. A failure is noted in the log.
    // The worker posts back to the dispatcher that runs it, which waits for
    // it before going away.
    dispatcher_.postBG([req = std::move(req), counter = inFlight_, transport = transport_,
                        dispatcher = &dispatcher_, self = uiHandle(), user = settings_->hueKey()] {
        const CommandOutcome outcome = commandOutcome(transport(req));
        const bool failed = outcome.kind != CommandOutcome::Kind::accepted &&
                            outcome.kind != CommandOutcome::Kind::refused;
        std::string what, line;
        if (failed) {
            what = outcome.describe();
            line = withUserNameMasked(
                "Command not taken: " + req.method + " " + req.url + ": " + what, user);
        }
        self.post([what, line](BridgeController& c) { c.noteCommand(what, line); });
        // Counted down on the UI thread after the note: whoever waits there
        // for the queue to drain wakes up, and once it sees zero this worker
        // has nothing left to post.
        dispatcher->postUI([counter] { counter->fetch_sub(1); });
    });
}

void BridgeController::noteCommand(const std::string& failure, const std::string& line) {
    // Lines differ by their URL; a change of state is a change of what went wrong.
    if (failure == commandFailure_) return;
    commandFailure_ = failure;
    if (!failure.empty()) settings_->keepInLog(line);
}

bool BridgeController::queueDrained() const {
    return settings_->actionQueue().empty() && actionQueueProcessor_.expired() &&
           sendsInFlight() == 0;
}

void BridgeController::allOff() {
    const auto lights = settings_->lights();
    for (const auto& l : lights) setLampOn(*this, l, false);
}

void BridgeController::allOffInMinutes(int minutes) {
    autoOffInMinutes(*this, minutes);
}

// ---- The debug report ---------------------------------------------------------

std::vector<std::string> scrubbedLog(const std::vector<std::string>& log, const std::string& user) {
    static constexpr std::string_view kApi = "/api/";
    static constexpr std::string_view kBlank = "<user>";
    std::vector<std::string> out;
    out.reserve(log.size());
    for (std::string line : log) {
        if (!user.empty()) {
            for (auto at = line.find(user); at != std::string::npos;
                 at = line.find(user, at + kBlank.size()))
                line.replace(at, user.size(), kBlank);
        }
        // A name from an earlier pairing, inside a bridge path.
        for (auto at = line.find(kApi); at != std::string::npos; at = line.find(kApi, at + 1)) {
            const auto from = at + kApi.size();
            const auto to = line.find_first_of("/ \"'?#", from);
            const auto length = (to == std::string::npos ? line.size() : to) - from;
            if (length > 0) line.replace(from, length, kBlank);
        }
        out.push_back(std::move(line));
    }
    return out;
}

void BridgeController::sendDebugReport() {
    if (!services_.runScript) return;
    // Copies taken here, on the user-interface thread; the report is written
    // on a worker.
    dispatcher_.postBG([self = uiHandle(), transport = transport_, bridge = endpoint(),
                        log = settings_->log(), run = services_.runScript] {
        std::string model = fetchBridgeModelNow(transport, bridge);
        if (model.empty()) model = "unknown";
        const std::string file = writeTemporary(scrubbedLog(log, bridge.user));
        if (file.empty()) return;
        const std::string written =
            run("send_debug", {std::string("LUMORA_VERSION=") + LUMORA_VERSION,
                               "LUMORA_BRIDGE_ADDRESS=" + bridge.hostPort,
                               "LUMORA_BRIDGE_MODEL=" + model, "LUMORA_LOG_FILE=" + file});
        std::remove(file.c_str());
        if (!written.empty())
            self.post([written](BridgeController& c) {
                c.settings_->logger("Debug report: " + trimmed(written));
            });
    });
}

}  // namespace lumora
