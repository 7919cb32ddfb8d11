#include "app/bridge_controller.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "app/light_order.h"
#include "base/setting_keys.h"
#include "bridge/bridge_address.h"
#include "bridge/command_reply.h"
#include "bridge/discovery.h"
#include "bridge/pairing.h"

namespace lumora {
namespace {

// What HttpSession keeps per peer.
constexpr int kKeptConnections = 2;

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

}  // namespace

BridgeController::BridgeController(Services services)
    : services_(std::move(services)),
      dispatcher_(required(services_.dispatcher)),
      settings_(std::make_unique<AppSettings>(services_.store, dispatcher_)) {
    // Both kept connections busy means a slow bridge: a request then goes on
    // a connection of its own rather than wait, so a command never waits
    // behind reads (nor is dropped for it); a quick bridge never gets there.
    transport_ = services_.transport
                     ? services_.transport
                     : HttpTransport([session = session_, busy = std::make_shared<std::atomic<int>>(
                                                              0)](const HttpRequest& request) {
                           if (busy->fetch_add(1) >= kKeptConnections) {
                               busy->fetch_sub(1);
                               return httpSend(request);
                           }
                           HttpResponse response = session->send(request);
                           busy->fetch_sub(1);
                           return response;
                       });
    settingsObserver_ = settings_->addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::liveUpdates) {
            if (settings_->liveUpdates())
                startStreamIfWanted();
            else
                stopStream();
        } else if (f == F::hueIP && stream_ && link_.hostPort != settings_->hueIP()) {
            // Another bridge, or the same one elsewhere: the next link decides.
            stopStream();
        }
    });
}

BridgeController::~BridgeController() {
    // Joins the stream's thread before anything it could post to goes.
    stream_.reset();
    settings_->removeObserver(settingsObserver_);
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
        return findBridge(options);
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
        const FoundBridge found = detect();
        // Nothing found: the user connects from the settings.
        if (found.address.empty()) return;
        self.post([found](BridgeController& c) { c.useFoundBridge(found); });
    });
}

// ---- Connection and refresh -------------------------------------------------

bool BridgeController::useTypedAddress(bool* https) {
    const BridgeAddress a = parseBridgeAddress(settings_->hueIP());
    if (a.ok()) {
        // "http://host/" as pasted becomes the bare host the bridge URLs need.
        if (a.hostPort != settings_->hueIP()) settings_->setHueIP(a.hostPort);
        if (https) *https = a.https;
        return true;
    }
    // No address at all goes the usual way and fails as unreachable.
    if (a.problem == AddressProblem::empty) return true;
    settings_->setConnectionError({connectionProblem(a.problem), settings_->hueIP()});
    settings_->setNeedsLinkButton(false);
    return false;
}

KnownBridges BridgeController::knownBridges() const {
    return [store = services_.store](const std::string& id) {
        KnownBridge k;
        k.answeredSecurely = store->boolean(keys::bridgeSecure(id));
        k.pin = store->string(keys::bridgePin(id)).value_or("");
        return k;
    };
}

BridgeEndpoint BridgeController::endpoint() const {
    BridgeEndpoint e;
    if (!link_.hostPort.empty() && link_.hostPort == settings_->hueIP()) {
        e = link_;
    } else {
        // Not linked yet in this run: as the store knows the bridge, and
        // never plain for an id that answered securely.
        e.hostPort = settings_->hueIP();
        const std::string id = services_.store->string(keys::bridgeID).value_or("");
        if (!id.empty() && services_.store->string(keys::bridgeIP) == e.hostPort) {
            const KnownBridge k = knownBridges()(id);
            e.bridgeId = id;
            e.secure = k.answeredSecurely;
            e.pin = k.pin;
            e.anchors = services_.bridgeAnchors;
        }
    }
    e.user = settings_->hueKey();
    return e;
}

BridgeController::Reader BridgeController::reader() {
    return {uiHandle(), transport_, endpoint(), fetchMemo_, fullState_};
}

void BridgeController::useFoundBridge(const FoundBridge& found) {
    settings_->setHueIP(trimmed(found.address));
    discovered_ = found;
    discovered_.address = settings_->hueIP();
    connectToBridge();
}

void BridgeController::connectToBridge() {
    linkThen(false);
}

void BridgeController::fetchBridgeAccess() {
    linkThen(true);
}

void BridgeController::trustCertificate(const std::string& fingerprint) {
    offeredPin_ = normalizedFingerprint(fingerprint);
    if (offeredPin_.empty()) return;
    settings_->setConnectionError({});
    connectToBridge();
}

void BridgeController::linkThen(bool pairOnly) {
    // A mangled address never reaches the network; the user sees why.
    bool https = false;
    // The stream follows the link: it starts again once this one is known.
    stopStream();
    if (!useTypedAddress(&https)) return;
    LinkRequest request;
    request.address = parseBridgeAddress((https ? "https://" : "") + settings_->hueIP());
    if (services_.store->string(keys::bridgeIP) == settings_->hueIP())
        request.storedId = services_.store->string(keys::bridgeID).value_or("");
    if (discovered_.address == settings_->hueIP()) request.discoveredId = discovered_.id;
    request.offeredPin = std::exchange(offeredPin_, {});
    request.anchors = services_.bridgeAnchors;
    request.known = knownBridges();
    // What the workers need is taken here, on the UI thread, so the
    // background part never reads state the UI thread may be writing.
    dispatcher_.postBG([self = uiHandle(), transport = transport_, request = std::move(request),
                        pairOnly] {
        if (self.gone()) return;
        LinkResult link = linkToBridge(request, transport);
        self.post([link = std::move(link), pairOnly](BridgeController& c) {
            if (!c.applyLink(link)) return;
            c.linkModel_ = link.model;
            const Reader r = c.reader();
            if (!pairOnly && !r.bridge.user.empty()) {
                // The user name is the one secret the program holds, and the
                // log reaches standard output: a hint of it tells two apart.
                c.settings_->logger("Connecting to Bridge... [" + userNameHint(r.bridge.user) +
                                    "]");
                readInTurn(r, {&readLights, &readGroups, &readScenes});
                c.ensureBridgeStateRefresherIsRunning();
                c.startStreamIfWanted();
            } else {
                if (!pairOnly) c.settings_->logger("We have a Bridge IP, but no API key yet...");
                c.dispatcher_.postBG([self = r.self, transport = r.transport, bridge = r.bridge] {
                    if (!self.gone()) pairWith(self, transport, bridge);
                });
            }
        });
    });
}

bool BridgeController::applyLink(const LinkResult& link) {
    AppSettings& s = *settings_;
    switch (link.outcome) {
        case LinkOutcome::linked:
            break;
        case LinkOutcome::unreachable:
            s.logger("ERROR: No bridge answered at " + s.hueIP() + ".");
            s.setConnectionError({ConnectionProblem::unreachable, {}});
            break;
        case LinkOutcome::certificateRefused:
            s.logger("ERROR: The bridge at " + link.refusedAt + " " + describe(link.refusal) + ".");
            s.setConnectionError(
                {ConnectionProblem::certificateRefused, link.refusedAt, link.refusal, {}});
            break;
        case LinkOutcome::plainAfterSecure:
            s.logger("ERROR: The bridge " + link.bridgeId + " at " + s.hueIP() +
                     " answers only over plain HTTP, but it answered securely before.");
            s.setConnectionError(
                {ConnectionProblem::plainAfterSecure, s.hueIP(), {}, link.bridgeId});
            break;
    }
    if (link.outcome != LinkOutcome::linked) {
        s.setNeedsLinkButton(false);
        s.setBridgeConnected(false);
        s.setBridgeLink({});
        return false;
    }
    link_ = link.endpoint;
    // A redirect may have named the HTTPS port: that is the bridge's address now.
    if (link_.hostPort != s.hueIP()) s.setHueIP(link_.hostPort);
    if (link_.secure) {
        // From now on this id is never talked to over plain HTTP.
        s.defaults().setBool(keys::bridgeSecure(link_.bridgeId), true);
        if (!link_.pin.empty()) s.defaults().setString(keys::bridgePin(link_.bridgeId), link_.pin);
    }
    s.setBridgeLink({link_.secure ? BridgeLink::Kind::secure : BridgeLink::Kind::plain,
                     link_.bridgeId, !link_.pin.empty()});
    s.logger(link_.secure ? "Bridge " + link_.bridgeId + " at " + link_.hostPort +
                                " proved its identity; talking HTTPS."
                          : "Bridge at " + link_.hostPort +
                                " has no HTTPS (first generation); talking plain HTTP.");
    return true;
}

// Runs on a worker: blocks for the pairing request, then reports through `self`.
void BridgeController::pairWith(UiHandle self, const HttpTransport& transport,
                                const BridgeEndpoint& bridge) {
    const PairingAnswer answer = requestUserName(bridge, transport);
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
    readInTurn(reader(), {&readLights});
}
void BridgeController::fetchGroups() {
    readInTurn(reader(), {&readGroups});
}
void BridgeController::fetchScenes() {
    readInTurn(reader(), {&readScenes});
}

void BridgeController::readInTurn(const Reader& r, std::vector<void (*)(const Reader&)> reads) {
    // One after the other on one worker: the reads of a tick then keep one
    // connection busy every few seconds, so the bridge does not close it as
    // idle, and the other stays free for commands.
    r.self.dispatcher_->postBG([r, reads = std::move(reads)] {
        for (auto read : reads) {
            if (r.self.gone()) return;
            read(r);
        }
    });
}

// Each read blocks on the worker that runs it and only hands the result back.
// Every failure reaches the log; the lights' also the connection status.
void BridgeController::readLights(const Reader& r) {
    TlsRefusal refusal;
    auto result = fetchLightsNow(r.transport, r.bridge, r.memo.get(), &refusal);
    r.self.post([result = std::move(result), refusal, bridge = r.bridge](BridgeController& c) {
        AppSettings& s = *c.settings_;
        if (auto* error = std::get_if<FetchError>(&result)) {
            c.noteRead(Collection::lights, error);
            s.setBridgeConnected(false);
            // A certificate that changed under a running connection is
            // refused like any other, and said so.
            if (*error == FetchError::certificateRefused)
                s.setConnectionError(
                    {ConnectionProblem::certificateRefused, bridge.hostPort, refusal, {}});
            return;
        }
        c.noteRead(Collection::lights, nullptr);
        const auto& lights = std::get<std::vector<HueLight>>(result);
        s.setLights(mergeOrderedLightListWithNew(s.lights(), lights, s.defaults()));
        s.setBridgeConnected(true);
        s.setConnectionError({});
        if (!s.hueIP().empty() && bridge.hostPort == s.hueIP()) c.storePair(bridge.bridgeId);
    });
}

void BridgeController::storePair(const std::string& bridgeId) {
    AppSettings& s = *settings_;
    const std::string user = trimmed(s.hueKey());
    // The user name first: the bridge hands it out once.
    StoreResult stored = s.defaults().trySetString(keys::bridgeUser, user);
    if (stored) stored = s.defaults().trySetString(keys::bridgeIP, trimmed(s.hueIP()));
    // The id beside the address: the link is proven against it next time.
    if (stored)
        stored = bridgeId.empty() ? s.defaults().tryRemove(keys::bridgeID)
                                  : s.defaults().trySetString(keys::bridgeID, bridgeId);
    s.noteStoreProblem();
    s.setUnsavedUserName(stored ? std::string() : user);
}

void BridgeController::readGroups(const Reader& r) {
    auto result = fetchGroupsNow(r.transport, r.bridge, r.memo.get());
    r.self.post([result = std::move(result)](BridgeController& c) mutable {
        auto* error = std::get_if<FetchError>(&result);
        c.noteRead(Collection::groups, error);
        if (!error) c.settings_->setGroups(std::move(std::get<std::vector<HueGroup>>(result)));
    });
}

void BridgeController::readScenes(const Reader& r) {
    auto result = fetchScenesNow(r.transport, r.bridge, r.memo.get());
    r.self.post([result = std::move(result)](BridgeController& c) mutable {
        auto* error = std::get_if<FetchError>(&result);
        c.noteRead(Collection::scenes, error);
        if (!error) c.settings_->setScenes(std::move(std::get<std::vector<HueScene>>(result)));
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

bool BridgeController::inQuietTime() const {
    return dispatcher_.now() - settings_->lastUserActionAt() <= kQuietAfterUserAction;
}

void BridgeController::refreshTick() {
    // Leave the lists alone right after a user action, so a fetch answered
    // before the queued command reached the bridge does not undo it.
    if (inQuietTime()) return;
    const TimePoint now = dispatcher_.now();
    if (!streamLive_) {
        wanted_ = {};
        lastFullRead_ = now;
        if (localMinute(dispatcher_.wallNow()) % 15 == 0)
            readInTurn(reader(), {&readLights, &readGroups, &readScenes});
        else
            readInTurn(reader(), {&readLights, &readGroups});
        return;
    }
    if (now - lastFullRead_ >= kSafetyReadPeriod) {
        wanted_ = {};
        lastFullRead_ = now;
        readInTurn(reader(), {&readEverything});
        return;
    }
    readWanted();
}

void BridgeController::readWanted() {
    if (!wanted_.any() || inQuietTime()) return;
    std::vector<void (*)(const Reader&)> reads;
    if (wanted_.lights) reads.push_back(&readLights);
    if (wanted_.groups) reads.push_back(&readGroups);
    if (wanted_.scenes) reads.push_back(&readScenes);
    wanted_ = {};
    readInTurn(reader(), std::move(reads));
}

void BridgeController::readEverything(const Reader& r) {
    HttpRequest req = r.bridge.request("GET", r.bridge.url(""));
    req.timeout = kReadTimeout;
    const HttpResponse res = r.transport(req);
    std::optional<FullState> state;
    if (res.ok() && res.status >= 200 && res.status <= 299 && res.body)
        state = r.full->decode(*res.body, r.bridge.hostPort, r.bridge.user);
    if (!state) {
        // The reads of each collection say what went wrong, as they always do.
        readLights(r);
        readGroups(r);
        readScenes(r);
        return;
    }
    r.self.post([state = std::move(*state)](BridgeController& c) mutable {
        AppSettings& s = *c.settings_;
        c.noteRead(Collection::lights, nullptr);
        c.noteRead(Collection::groups, nullptr);
        c.noteRead(Collection::scenes, nullptr);
        s.setLights(mergeOrderedLightListWithNew(s.lights(), state.lights, s.defaults()));
        s.setGroups(std::move(state.groups));
        s.setScenes(std::move(state.scenes));
        s.setBridgeConnected(true);
        s.setConnectionError({});
    });
}

void BridgeController::disconnectBridge() {
    onUI([this] {
        stopStream();
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

// ---- Sleep, wake and quit -----------------------------------------------------

void BridgeController::applicationWillTerminate() {
    stopStream();
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void BridgeController::onSleepNote() {
    stopStream();
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void BridgeController::onWakeNote() {
    // Connections kept over a sleep are dead; a fresh one is made at once.
    session_->closeIdle();
    ensureQueueProcessorIsRunning();
    ensureBridgeStateRefresherIsRunning();
    // The bridge may have changed meanwhile: everything is read at the next tick.
    startStreamIfWanted();
}

}  // namespace lumora
