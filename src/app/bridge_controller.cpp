#include "app/bridge_controller.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "app/light_order.h"
#include "base/setting_keys.h"
#include "bridge/bridge_address.h"
#include "bridge/command_reply.h"
#include "bridge/discovery.h"
#include "bridge/pairing.h"

namespace lumora {
namespace {

// A controller without a dispatcher is a programming error: say so at once.
Dispatcher& required(const std::shared_ptr<Dispatcher>& dispatcher) {
    if (!dispatcher) {
        std::fputs("lumora: the services carry no dispatcher\n", stderr);
        std::abort();
    }
    return *dispatcher;
}

int localMinute(WallTime t) {
    std::time_t tt = WallClock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm.tm_min;
}

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

BridgeController::BridgeController(Services services)
    : services_(std::move(services)),
      dispatcher_(required(services_.dispatcher)),
      settings_(std::make_unique<AppSettings>(services_.store, dispatcher_)) {}

BridgeController::~BridgeController() {
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void BridgeController::onUI(std::function<void()> work) {
    dispatcher_.postUI([alive = std::weak_ptr<int>(alive_), work = std::move(work)] {
        if (alive.lock()) work();
    });
}

void BridgeController::UiHandle::post(std::function<void(BridgeController&)> work) const {
    dispatcher_->postUI([controller = controller_, alive = alive_, work = std::move(work)] {
        if (alive.lock()) work(*controller);
    });
}

// ---- Start-up and detection ---------------------------------------------------

Services::Detector BridgeController::detector() const {
    if (services_.detector) return services_.detector;
    return [factory = services_.browserFactory, console = services_.console] {
        DetectBridgeOptions options;
        options.browserFactory = factory;
        options.console = console;
        return detectBridge(options);
    };
}

void BridgeController::start() {
    // The workers hold the detector and a way back, never the controller.
    if (!settings_->hueIP().empty()) {
        dispatcher_.postBG(
            [self = uiHandle()] { self.post([](BridgeController& c) { c.connectToBridge(); }); });
        return;
    }
    dispatcher_.postBG([self = uiHandle(), detect = detector()] {
        const std::string found = detect();
        // Nothing found: the user connects from the settings.
        if (found.empty()) return;
        self.post([found](BridgeController& c) {
            c.settings_->setHueIP(trimmed(found));
            c.connectToBridge();
        });
    });
}

// ---- Connection and refresh -------------------------------------------------

bool BridgeController::useTypedAddress() {
    const BridgeAddress a = parseBridgeAddress(settings_->hueIP());
    if (a.ok()) {
        // "http://host/" as pasted becomes the bare host the bridge URLs need.
        if (a.hostPort != settings_->hueIP()) settings_->setHueIP(a.hostPort);
        return true;
    }
    // No address at all goes the usual way and fails as unreachable.
    if (a.problem == AddressProblem::empty) return true;
    settings_->setConnectionError({connectionProblem(a.problem), settings_->hueIP()});
    settings_->setNeedsLinkButton(false);
    return false;
}

BridgeController::Reader BridgeController::reader() {
    return {uiHandle(), services_.transport, endpoint(), fetchMemo_};
}

void BridgeController::connectToBridge() {
    // A mangled address never reaches the network; the user sees why.
    if (!useTypedAddress()) return;
    // The address and user name are taken here, on the UI thread, so the
    // background part never reads state the UI thread may be writing.
    dispatcher_.postBG([r = reader()] {
        if (r.self.gone()) return;
        if (!r.bridge.user.empty()) {
            // The user name is the one secret the program holds, and the log
            // reaches standard output: a hint of it tells two apart.
            r.self.post([hint = userNameHint(r.bridge.user)](BridgeController& c) {
                c.settings_->logger("Connecting to Bridge... [" + hint + "]");
            });
            readLights(r);
            readGroups(r);
            readScenes(r);
            r.self.post([](BridgeController& c) { c.ensureBridgeStateRefresherIsRunning(); });
        } else {
            r.self.post([](BridgeController& c) {
                c.settings_->logger("We have a Bridge IP, but no API key yet...");
            });
            pairWith(r.self, r.transport, r.bridge.hostPort);
        }
    });
}

void BridgeController::fetchBridgeAccess() {
    if (!useTypedAddress()) return;
    dispatcher_.postBG(
        [self = uiHandle(), transport = services_.transport, ip = settings_->hueIP()] {
            if (!self.gone()) pairWith(self, transport, ip);
        });
}

// Runs on a worker: blocks for the pairing request, then reports through `self`.
void BridgeController::pairWith(UiHandle self, const HttpTransport& transport,
                                const std::string& ip) {
    const PairingAnswer answer = requestUserName(ip, transport);
    const std::string& r = answer.result;
    const ConnectionProblem problem = r == kPressButton    ? ConnectionProblem::pressLinkButton
                                      : r == kNoConnection ? ConnectionProblem::unreachable
                                      : r == kNoUserName   ? ConnectionProblem::noUserName
                                                           : ConnectionProblem::none;
    // "Unable to connect" says too little when the bridge did answer.
    std::string why;
    if (r == kNoConnection && !(answer.reply.kind == CommandOutcome::Kind::noReply &&
                                answer.reply.error == HttpError::connectionFailed))
        why = "Pairing failed: " + (answer.reply.ok() ? std::string("the reply was not readable")
                                                      : answer.reply.describe());
    self.post([problem, r, why](BridgeController& c) {
        if (!why.empty()) c.settings_->logger(why);
        if (problem != ConnectionProblem::none) {
            c.settings_->setConnectionError({problem, {}});
            c.settings_->setNeedsLinkButton(problem == ConnectionProblem::pressLinkButton);
            return;
        }
        c.settings_->setHueKey(r);
        c.connectToBridge();
        c.settings_->setNeedsLinkButton(false);
    });
}

void BridgeController::fetchLights() {
    readLights(reader());
}
void BridgeController::fetchGroups() {
    readGroups(reader());
}
void BridgeController::fetchScenes() {
    readScenes(reader());
}

// Each read blocks on a worker of its own and only hands the result back.
// Every failure reaches the log; the lights' also the connection status.
void BridgeController::readLights(const Reader& r) {
    r.self.dispatcher_->postBG([r] {
        auto result = fetchLightsNow(r.transport, r.bridge, r.memo.get());
        r.self.post([result = std::move(result)](BridgeController& c) {
            AppSettings& s = *c.settings_;
            if (auto* error = std::get_if<FetchError>(&result)) {
                c.noteRead(Collection::lights, error);
                s.setBridgeConnected(false);
                return;
            }
            c.noteRead(Collection::lights, nullptr);
            const auto& lights = std::get<std::vector<HueLight>>(result);
            s.setLights(mergeOrderedLightListWithNew(s.lights(), lights, s.defaults()));
            s.setBridgeConnected(true);
            s.setConnectionError({});
            if (!s.hueIP().empty()) c.storePair();
        });
    });
}

void BridgeController::storePair() {
    AppSettings& s = *settings_;
    const std::string user = trimmed(s.hueKey());
    // The user name first: the bridge hands it out once.
    StoreResult stored = s.defaults().trySetString(keys::bridgeUser, user);
    if (stored) stored = s.defaults().trySetString(keys::bridgeIP, trimmed(s.hueIP()));
    s.noteStoreProblem();
    s.setUnsavedUserName(stored ? std::string() : user);
}

void BridgeController::readGroups(const Reader& r) {
    r.self.dispatcher_->postBG([r] {
        auto result = fetchGroupsNow(r.transport, r.bridge, r.memo.get());
        r.self.post([result = std::move(result)](BridgeController& c) mutable {
            auto* error = std::get_if<FetchError>(&result);
            c.noteRead(Collection::groups, error);
            if (!error) c.settings_->setGroups(std::move(std::get<std::vector<HueGroup>>(result)));
        });
    });
}

void BridgeController::readScenes(const Reader& r) {
    r.self.dispatcher_->postBG([r] {
        auto result = fetchScenesNow(r.transport, r.bridge, r.memo.get());
        r.self.post([result = std::move(result)](BridgeController& c) mutable {
            auto* error = std::get_if<FetchError>(&result);
            c.noteRead(Collection::scenes, error);
            if (!error) c.settings_->setScenes(std::move(std::get<std::vector<HueScene>>(result)));
        });
    });
}

void BridgeController::noteRead(Collection what, const FetchError* error) {
    std::string& last = readFailures_[static_cast<std::size_t>(what)];
    if (!error) {
        last.clear();
        return;
    }
    std::string line = fetchErrorLine(*error, what);
    if (line == last) return;
    last = line;
    consoleLine(services_.console, line);
    settings_->keepInLog(line);
}

void BridgeController::ensureBridgeStateRefresherIsRunning() {
    if (!bridgeStateRefresher_.expired()) return;
    bridgeStateRefresher_ =
        dispatcher_.scheduleRepeating(kRefreshPeriod, [this] { refreshTick(); });
}

void BridgeController::refreshTick() {
    // Leave the lists alone right after a user action, so a fetch answered
    // before the queued command reached the bridge does not undo it.
    if (dispatcher_.now() - settings_->lastUserActionAt() <= kQuietAfterUserAction) return;
    fetchLights();
    fetchGroups();
    if (localMinute(dispatcher_.wallNow()) % 15 == 0) fetchScenes();
}

void BridgeController::disconnectBridge() {
    onUI([this] {
        settings_->setLights({});
        settings_->setGroups({});
        settings_->setHueKey("");
        settings_->defaults().setString(keys::bridgeUser, "");
        settings_->setBridgeConnected(false);
    });
}

void BridgeController::updateHueIP(const std::string& newIP) {
    settings_->setHueIP(trimmed(newIP));
}
void BridgeController::updateHueKey(const std::string& newKey) {
    settings_->setHueKey(newKey);
}

int BridgeController::getGroupIndex(const HueGroup& group) const {
    const auto& gs = settings_->groups();
    for (size_t i = 0; i < gs.size(); ++i)
        if (gs[i].group_id == group.group_id) return static_cast<int>(i);
    return -1;
}

int BridgeController::getLampIndex(const HueLight& lamp) const {
    const auto& ls = settings_->lights();
    for (size_t i = 0; i < ls.size(); ++i)
        if (ls[i].lamp_id == lamp.lamp_id) return static_cast<int>(i);
    return -1;
}

void BridgeController::updateLocalLight(const HueLight& lamp,
                                        const std::function<void(HueLight&)>& change) {
    if (int i = getLampIndex(lamp); i >= 0)
        settings_->mutateLights([&](auto& lights) { change(lights[static_cast<size_t>(i)]); });
}

void BridgeController::updateLocalGroup(const HueGroup& group,
                                        const std::function<void(HueGroup&)>& change) {
    if (int i = getGroupIndex(group); i >= 0)
        settings_->mutateGroups([&](auto& groups) { change(groups[static_cast<size_t>(i)]); });
}

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
    HttpRequest req;
    req.method = item.url.find("/schedules") != std::string::npos ? "POST" : "PUT";
    req.url = item.url;
    req.body = item.body;
    req.headers = {{"Content-Type", "application/json"}};
    req.timeout = kCommandTimeout;
    inFlight_->fetch_add(1);
    // The reply changes nothing: a failed command is dropped, and the next
    // refresh shows the bridge's real state. A failure is noted in the log.
    // The worker posts back to the dispatcher that runs it, which waits for
    // it before going away.
    dispatcher_.postBG([req = std::move(req), counter = inFlight_, transport = services_.transport,
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

// ---- Sleep, wake and quit -----------------------------------------------------

void BridgeController::applicationWillTerminate() {
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void BridgeController::onSleepNote() {
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void BridgeController::onWakeNote() {
    ensureQueueProcessorIsRunning();
    ensureBridgeStateRefresherIsRunning();
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
    dispatcher_.postBG([self = uiHandle(), transport = services_.transport, bridge = endpoint(),
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
