#include "app/app_delegate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>

#include "base/setting_keys.h"
#include "bridge/bridge_address.h"
#include "bridge/commands.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"
#include "bridge/pairing.h"

namespace lumora {
namespace {

// A delegate without a dispatcher is a programming error: say so at once.
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

AppDelegate::AppDelegate(Services services, Shell* shell)
    : services_(std::move(services)),
      dispatcher_(required(services_.dispatcher)),
      settings_(std::make_unique<AppSettings>(services_.store, *services_.center, dispatcher_)),
      fetchMemo_(std::make_shared<FetchMemo>()),
      hotKeyLayer_(services_.hotKeyService),
      // The recorded combinations live in the settings' own store.
      shortcuts_(settings_->defaultsPtr(), services_.center, hotKeyLayer_, services_.keyText),
      shell_(shell) {}

AppDelegate::~AppDelegate() {
    if (resizeObserver_) services_.center->removeObserver(resizeObserver_);
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void AppDelegate::onUI(std::function<void()> work) {
    dispatcher_.postUI([alive = std::weak_ptr<int>(alive_), work = std::move(work)] {
        if (alive.lock()) work();
    });
}

void AppDelegate::UiHandle::post(std::function<void(AppDelegate&)> work) const {
    dispatcher_->postUI([delegate = delegate_, alive = alive_, work = std::move(work)] {
        if (alive.lock()) work(*delegate);
    });
}

// ---- Connection and refresh -------------------------------------------------

bool AppDelegate::useTypedAddress() {
    const BridgeAddress a = parseBridgeAddress(settings_->hueIP());
    if (a.ok()) {
        // "http://host/" as pasted becomes the bare host the bridge URLs need.
        if (a.hostPort != settings_->hueIP()) settings_->setHueIP(a.hostPort);
        return true;
    }
    // No address at all goes the usual way and fails as unreachable.
    if (a.problem == AddressProblem::empty) return true;
    settings_->setConnectionErrorMessage(addressProblemMessage(a.problem, settings_->hueIP()));
    settings_->setNeedsLinkButton(false);
    return false;
}

void AppDelegate::connectToBridge() {
    // A mangled address never reaches the network; the user sees why.
    if (!useTypedAddress()) return;
    // The address and user name are taken here, on the UI thread, so the
    // background part never reads state the UI thread may be writing.
    const std::string ip = settings_->hueIP();
    const std::string key = settings_->hueKey();
    dispatcher_.postBG(
        [self = uiHandle(), ip, key, console = services_.console, memo = fetchMemo_] {
            if (self.gone()) return;
            if (!key.empty()) {
                self.post([key](AppDelegate& d) {
                    d.settings_->logger("Connecting to Bridge... [" + key + "]");
                });
                fetchLightsWith(self, ip, key, console, memo);
                fetchGroupsWith(self, ip, key, console, memo);
                fetchScenesWith(self, ip, key, console, memo);
                self.post([](AppDelegate& d) { d.ensureBridgeStateRefresherIsRunning(); });
            } else {
                self.post([](AppDelegate& d) {
                    d.settings_->logger("We have a Bridge IP, but no API key yet...");
                });
                pairWith(self, ip);
            }
        });
}

void AppDelegate::fetchBridgeAccess() {
    if (!useTypedAddress()) return;
    dispatcher_.postBG([self = uiHandle(), ip = settings_->hueIP()] {
        if (!self.gone()) pairWith(self, ip);
    });
}

// Runs on a worker: blocks for the pairing request, then reports through `self`.
void AppDelegate::pairWith(UiHandle self, const std::string& ip) {
    const std::string r = manageBridge(ip);
    if (r == kPressButton) {
        self.post([](AppDelegate& d) {
            d.settings_->setConnectionErrorMessage("Bridge responded: Press LINK BUTTON and retry");
            d.settings_->setNeedsLinkButton(true);
        });
    } else if (r == kNoConnection) {
        self.post([](AppDelegate& d) {
            d.settings_->setConnectionErrorMessage(
                "Unable to connect to the Hue bridge. Is the IP address correct?");
            d.settings_->setNeedsLinkButton(false);
        });
    } else if (r == kNoUserName) {
        self.post([](AppDelegate& d) {
            d.settings_->setConnectionErrorMessage(
                "The bridge accepted pairing but sent no user name. Please pair again.");
            d.settings_->setNeedsLinkButton(false);
        });
    } else {
        self.post([r](AppDelegate& d) {
            d.settings_->setHueKey(r);
            d.connectToBridge();
            d.settings_->setNeedsLinkButton(false);
        });
    }
}

void AppDelegate::fetchLights() {
    fetchLightsWith(uiHandle(), settings_->hueIP(), settings_->hueKey(), services_.console,
                    fetchMemo_);
}
void AppDelegate::fetchGroups() {
    fetchGroupsWith(uiHandle(), settings_->hueIP(), settings_->hueKey(), services_.console,
                    fetchMemo_);
}
void AppDelegate::fetchScenes() {
    fetchScenesWith(uiHandle(), settings_->hueIP(), settings_->hueKey(), services_.console,
                    fetchMemo_);
}

// The fetches' completions run on a worker and only hand the result back.
void AppDelegate::fetchLightsWith(UiHandle self, const std::string& ip, const std::string& key,
                                  const ConsoleSink& console, std::shared_ptr<FetchMemo> memo) {
    HueCommunicationLights(self.dispatcher(), ip, key, console, std::move(memo))
        .fetch([self](LightsResult result) {
            self.post([result = std::move(result)](AppDelegate& d) {
                AppSettings& s = *d.settings_;
                if (auto* lights = std::get_if<std::vector<HueLight>>(&result)) {
                    s.setLights(d.mergeOrderedLightListWithNew(s.lights(), *lights));
                    s.setBridgeConnected(true);
                    s.setConnectionErrorMessage("");
                    if (!s.hueIP().empty()) {
                        s.defaults().setString(keys::bridgeIP, trimmed(s.hueIP()));
                        s.defaults().setString(keys::bridgeUser, trimmed(s.hueKey()));
                    }
                    return;
                }
                switch (std::get<BridgeError>(result)) {
                    case BridgeError::connectionFailed:
                    case BridgeError::invalidData:
                        s.setBridgeConnected(false);
                        break;
                    case BridgeError::noDevices:
                        s.setConnectionErrorMessage("We were unable to find any devices");
                        break;
                }
            });
        });
}

void AppDelegate::fetchGroupsWith(UiHandle self, const std::string& ip, const std::string& key,
                                  const ConsoleSink& console, std::shared_ptr<FetchMemo> memo) {
    HueCommunicationGroups(self.dispatcher(), ip, key, console, std::move(memo))
        .fetch([self](GroupsResult result) {
            if (auto* groups = std::get_if<std::vector<HueGroup>>(&result))
                self.post([groups = std::move(*groups)](AppDelegate& d) mutable {
                    d.settings_->setGroups(std::move(groups));
                });
        });
}

void AppDelegate::fetchScenesWith(UiHandle self, const std::string& ip, const std::string& key,
                                  const ConsoleSink& console, std::shared_ptr<FetchMemo> memo) {
    HueCommunicationScenes(self.dispatcher(), ip, key, console, std::move(memo))
        .fetch([self](ScenesResult result) {
            if (auto* scenes = std::get_if<std::vector<HueScene>>(&result))
                self.post([scenes = std::move(*scenes)](AppDelegate& d) mutable {
                    d.settings_->setScenes(std::move(scenes));
                });
        });
}

void AppDelegate::ensureBridgeStateRefresherIsRunning() {
    if (!bridgeStateRefresher_.expired()) return;
    bridgeStateRefresher_ =
        dispatcher_.scheduleRepeating(kRefreshPeriod, [this] { refreshTick(); });
}

void AppDelegate::refreshTick() {
    // Leave the lists alone right after a user action, so a fetch answered
    // before the queued command reached the bridge does not undo it.
    if (dispatcher_.now() - settings_->lastUserActionAt() <= kQuietAfterUserAction) return;
    fetchLights();
    fetchGroups();
    if (localMinute(dispatcher_.wallNow()) % 15 == 0) fetchScenes();
}

void AppDelegate::disconnectBridge() {
    onUI([this] {
        settings_->setLights({});
        settings_->setGroups({});
        settings_->setHueKey("");
        settings_->defaults().setString(keys::bridgeUser, "");
        settings_->setBridgeConnected(false);
    });
}

void AppDelegate::updateHueIP(const std::string& newIP) {
    settings_->setHueIP(trimmed(newIP));
}
void AppDelegate::updateHueKey(const std::string& newKey) {
    settings_->setHueKey(newKey);
}

std::vector<HueLight> AppDelegate::mergeOrderedLightListWithNew(
    const std::vector<HueLight>& existing, const std::vector<HueLight>& fresh) const {
    std::set<std::string> existingIds, freshIds;
    for (const auto& l : existing) existingIds.insert(l.lamp_id);
    for (const auto& l : fresh) freshIds.insert(l.lamp_id);

    std::vector<std::string> combined;
    for (const auto& l : existing)
        if (freshIds.count(l.lamp_id)) combined.push_back(l.lamp_id);
    for (const auto& l : fresh)
        if (!existingIds.count(l.lamp_id)) combined.push_back(l.lamp_id);

    std::vector<HueLight> out;
    out.reserve(combined.size());
    for (const auto& id : combined) {
        auto it = std::find_if(fresh.begin(), fresh.end(),
                               [&](const HueLight& l) { return l.lamp_id == id; });
        out.push_back(*it);
    }
    return orderedLights(out, settings_->defaults());
}

int AppDelegate::getGroupIndex(const HueGroup& group) const {
    const auto& gs = settings_->groups();
    for (size_t i = 0; i < gs.size(); ++i)
        if (gs[i].group_id == group.group_id) return static_cast<int>(i);
    return -1;
}

int AppDelegate::getLampIndex(const HueLight& lamp) const {
    const auto& ls = settings_->lights();
    for (size_t i = 0; i < ls.size(); ++i)
        if (ls[i].lamp_id == lamp.lamp_id) return static_cast<int>(i);
    return -1;
}

void AppDelegate::updateLocalLight(const HueLight& lamp,
                                   const std::function<void(HueLight&)>& change) {
    if (int i = getLampIndex(lamp); i >= 0)
        settings_->mutateLights([&](auto& lights) { change(lights[static_cast<size_t>(i)]); });
}

void AppDelegate::updateLocalGroup(const HueGroup& group,
                                   const std::function<void(HueGroup&)>& change) {
    if (int i = getGroupIndex(group); i >= 0)
        settings_->mutateGroups([&](auto& groups) { change(groups[static_cast<size_t>(i)]); });
}

// ---- The action queue -------------------------------------------------------

void AppDelegate::addActionItem(ActionQueueItem item) {
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

void AppDelegate::ensureQueueProcessorIsRunning() {
    if (!actionQueueProcessor_.expired()) return;
    actionQueueProcessor_ = dispatcher_.scheduleRepeating(kQueuePeriod, [this] {
        processActionQueue();
        if (settings_->actionQueue().empty()) invalidate(actionQueueProcessor_);
    });
}

void AppDelegate::processActionQueue() {
    if (settings_->actionQueue().empty()) return;
    std::optional<ActionQueueItem> item;
    settings_->mutateActionQueue([&](std::vector<ActionQueueItem>& queue) {
        item = std::move(queue.front());
        queue.erase(queue.begin());
    });
    send(*item);
}

void AppDelegate::send(const ActionQueueItem& item) {
    HttpRequest req;
    req.method = item.url.find("/schedules") != std::string::npos ? "POST" : "PUT";
    req.url = item.url;
    req.body = item.body;
    req.headers = {{"Content-Type", "application/json"}};
    req.timeout = kCommandTimeout;
    inFlight_->fetch_add(1);
    // The reply is ignored: a failed command is dropped, and the next refresh
    // shows the bridge's real state.
    // The worker posts back to the dispatcher that runs it, which waits for
    // it before going away.
    dispatcher_.postBG([req = std::move(req), counter = inFlight_, transport = services_.transport,
                        dispatcher = &dispatcher_] {
        transport(req);
        // Counted down on the UI thread: whoever waits there for the queue to
        // drain wakes up, and once it sees zero this worker has nothing left
        // to post.
        dispatcher->postUI([counter] { counter->fetch_sub(1); });
    });
}

bool AppDelegate::queueDrained() const {
    return settings_->actionQueue().empty() && actionQueueProcessor_.expired() &&
           sendsInFlight() == 0;
}

// ---- Menu commands and lifecycle ---------------------------------------------

void AppDelegate::allOff() {
    const auto lights = settings_->lights();
    for (const auto& l : lights) setLampOn(*this, l, false);
}

void AppDelegate::allOffInMinutes(int minutes) {
    autoOffInMinutes(*this, minutes);
}

int AppDelegate::minutesFromMenuTitle(const std::string& title) {
    int minutes = 5;
    if (title.find("30 ") != std::string::npos) minutes = 30;
    if (title.find("60 ") != std::string::npos) minutes = 60;
    return minutes;
}

void AppDelegate::applicationWillTerminate() {
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void AppDelegate::onSleepNote() {
    invalidate(actionQueueProcessor_);
    invalidate(bridgeStateRefresher_);
}

void AppDelegate::onWakeNote() {
    ensureQueueProcessorIsRunning();
    ensureBridgeStateRefresherIsRunning();
}

// ---- Light order -------------------------------------------------------------

std::vector<std::string> loadDeviceOrder(const DefaultsStore& store) {
    const std::string text = store.string(keys::lightOrder).value_or("");
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

void saveDeviceOrder(const std::vector<HueLight>& lights, DefaultsStore& store) {
    std::string text;
    for (size_t i = 0; i < lights.size(); ++i) {
        if (i) text += ",";
        text += lights[i].lamp_id;
    }
    store.setString(keys::lightOrder, text);
}

std::vector<HueLight> orderedLights(const std::vector<HueLight>& lights,
                                    const DefaultsStore& store) {
    std::vector<HueLight> out;
    std::set<std::string> placed;
    for (const auto& id : loadDeviceOrder(store)) {
        if (id.empty() || placed.count(id)) continue;
        auto it = std::find_if(lights.begin(), lights.end(),
                               [&](const HueLight& l) { return l.lamp_id == id; });
        if (it == lights.end()) continue;
        out.push_back(*it);
        placed.insert(id);
    }
    for (const auto& l : lights) {
        if (placed.count(l.lamp_id)) continue;
        out.push_back(l);
        placed.insert(l.lamp_id);
    }
    return out;
}

std::vector<HueScene> orderedScenes(std::vector<HueScene> scenes) {
    std::stable_sort(scenes.begin(), scenes.end(),
                     [](const HueScene& a, const HueScene& b) { return a.scene_id < b.scene_id; });
    return scenes;
}

}  // namespace lumora
