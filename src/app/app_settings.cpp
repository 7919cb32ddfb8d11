#include "app/app_settings.h"

#include <algorithm>
#include <cstdio>

#include "base/setting_keys.h"
#include "base/utf8.h"
#include "bridge/bridge_address.h"

namespace lumora {

std::optional<MainPanels> mainPanelsFromRaw(std::int64_t raw) {
    if (raw >= 0 && raw <= 2) return static_cast<MainPanels>(raw);
    return std::nullopt;
}

ConnectionProblem connectionProblem(AddressProblem problem) {
    switch (problem) {
        case AddressProblem::none:
            break;
        case AddressProblem::empty:
            return ConnectionProblem::noAddress;
        case AddressProblem::invalid:
            return ConnectionProblem::invalidAddress;
    }
    return ConnectionProblem::none;
}

bool ConnectionError::offersTrust() const {
    return problem == ConnectionProblem::certificateRefused && !certificate.fingerprint.empty() &&
           (certificate.reason == TlsFailure::untrustedIssuer ||
            certificate.reason == TlsFailure::fingerprintMismatch);
}

bool ConnectionError::operator==(const ConnectionError& o) const {
    const TlsRefusal& a = certificate;
    const TlsRefusal& b = o.certificate;
    return problem == o.problem && address == o.address && bridgeId == o.bridgeId &&
           a.reason == b.reason && a.expected == b.expected && a.got == b.got && a.date == b.date &&
           a.fingerprint == b.fingerprint && a.detail == b.detail;
}

std::string trimmed(const std::string& s) {
    return trimUnicodeSpace(s);
}

AppSettings::AppSettings(std::shared_ptr<DefaultsStore> store, Dispatcher& dispatcher)
    : store_(std::move(store)), dispatcher_(dispatcher), lastUserActionAt_(dispatcher.now()) {}

int AppSettings::addObserver(Observer observer) {
    int t = nextObserver_++;
    observers_.emplace_back(t, std::move(observer));
    return t;
}

void AppSettings::removeObserver(int token) {
    std::erase_if(observers_, [token](const auto& p) { return p.first == token; });
}

void AppSettings::changed(Field f) {
    auto copy = observers_;
    for (auto& [t, o] : copy) o(f);
}

void AppSettings::loadFromStore() {
    // An address stored by hand or by an older version may carry a scheme or
    // a slash; one that does not parse stays as it is, for the user to see.
    const std::string storedIP = store_->string(keys::bridgeIP).value_or("");
    const BridgeAddress parsedIP = parseBridgeAddress(storedIP);
    setHueIP(parsedIP.ok() ? parsedIP.hostPort : trimmed(storedIP));
    setHueKey(store_->string(keys::bridgeUser).value_or(""));
    setAppIcon(store_->string(keys::appIcon).value_or(keys::defaultAppIcon));
    setPresetWindowHeightRooms(store_->integer(keys::heightRooms));
    setPresetWindowHeightLights(store_->integer(keys::heightLights));
    setPresetWindowHeightScenes(store_->integer(keys::heightScenes));
    std::int64_t inc = store_->integer(keys::keyIncrement);
    setKeyIncrement(inc == 0 ? keys::defaultKeyIncrement : inc);
    if (!store_->contains(keys::showColorBarsForRooms))
        store_->setBool(keys::showColorBarsForRooms, keys::defaultShowColorBars);
    if (!store_->contains(keys::showColorBarsForLights))
        store_->setBool(keys::showColorBarsForLights, keys::defaultShowColorBars);
    setShowColorBarsForRooms(store_->boolean(keys::showColorBarsForRooms));
    setShowColorBarsForLights(store_->boolean(keys::showColorBarsForLights));
    setShowScenes(store_->boolean(keys::showScenes));
    setShowZones(store_->boolean(keys::showZones));
    // Missing stays missing: only the switch writes it.
    if (const bool live = store_->contains(keys::liveUpdates) ? store_->boolean(keys::liveUpdates)
                                                              : keys::defaultLiveUpdates;
        live != liveUpdates_) {
        liveUpdates_ = live;
        changed(Field::liveUpdates);
    }
    // The file that could not be read is reported now, in the log and the
    // connection pane, not only on standard error.
    noteStoreProblem();
}

void AppSettings::reloadPreferredHeights() {
    setPresetWindowHeightRooms(store_->integer(keys::heightRooms));
    setPresetWindowHeightLights(store_->integer(keys::heightLights));
    setPresetWindowHeightScenes(store_->integer(keys::heightScenes));
}

std::int64_t AppSettings::getCurrentPreferredWindowHeight() const {
    switch (activeMainPanel_) {
        case MainPanels::lights:
            return lights_.empty() ? 330 : std::max<std::int64_t>(presetWindowHeightLights_, 200);
        case MainPanels::rooms:
            return groups_.empty() ? 330 : std::max<std::int64_t>(presetWindowHeightRooms_, 200);
        case MainPanels::scenes:
            return presetWindowHeightScenes_;
    }
    return 330;
}

void AppSettings::logger(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
    keepInLog(line);
}

void AppSettings::keepInLog(const std::string& line) {
    if (log_.size() > 1000) log_.clear();
    log_.push_back(line);
    changed(Field::log);
}

void AppSettings::noteStoreProblem() {
    auto problem = store_->problem();
    if (problem == storeProblem_) return;
    storeProblem_ = std::move(problem);
    if (storeProblem_) {
        const StoreProblem& p = *storeProblem_;
        logger(p.kind == StoreProblem::Kind::Unreadable
                   ? "Settings cannot be read: " + p.path + " (" + p.reason +
                         "). Using defaults; nothing is saved until the file can be read."
                   : "Settings could not be saved to " + p.path + ": " + p.reason + ".");
    }
    changed(Field::storeProblem);
}

// Setting a field to the value it holds tells nobody: a refresh that finds
// the bridge as it was must not repaint or rebuild anything.
#define LUMORA_SETTER(Name, Member, Type, FieldName) \
    void AppSettings::Name(Type v) {                 \
        if (Member == v) return;                     \
        Member = std::move(v);                       \
        changed(Field::FieldName);                   \
    }

LUMORA_SETTER(setActionQueue, actionQueue_, std::vector<ActionQueueItem>, actionQueue)
LUMORA_SETTER(setLights, lights_, std::vector<HueLight>, lights)
LUMORA_SETTER(setGroups, groups_, std::vector<HueGroup>, groups)
LUMORA_SETTER(setScenes, scenes_, std::vector<HueScene>, scenes)
LUMORA_SETTER(setBridgeConnected, bridgeConnected_, bool, bridgeConnected)
LUMORA_SETTER(setNeedsLinkButton, needsLinkButton_, bool, needsLinkButton)
LUMORA_SETTER(setHueIP, hueIP_, std::string, hueIP)
LUMORA_SETTER(setHueKey, hueKey_, std::string, hueKey)
LUMORA_SETTER(setConnectionError, connectionError_, ConnectionError, connectionError)
LUMORA_SETTER(setUnsavedUserName, unsavedUserName_, std::string, unsavedUserName)
LUMORA_SETTER(setBridgeLink, bridgeLink_, BridgeLink, bridgeLink)
LUMORA_SETTER(setLastUserActionAt, lastUserActionAt_, TimePoint, lastUserActionAt)
LUMORA_SETTER(setShowReviewRequest, showReviewRequest_, bool, showReviewRequest)
LUMORA_SETTER(setAppIcon, appIcon_, std::string, appIcon)
LUMORA_SETTER(setKeyIncrement, keyIncrement_, std::int64_t, keyIncrement)
LUMORA_SETTER(setPresetWindowHeightLights, presetWindowHeightLights_, std::int64_t,
              presetWindowHeightLights)
LUMORA_SETTER(setPresetWindowHeightRooms, presetWindowHeightRooms_, std::int64_t,
              presetWindowHeightRooms)
LUMORA_SETTER(setPresetWindowHeightScenes, presetWindowHeightScenes_, std::int64_t,
              presetWindowHeightScenes)
#undef LUMORA_SETTER

void AppSettings::mutateActionQueue(const std::function<void(std::vector<ActionQueueItem>&)>& f) {
    f(actionQueue_);
    changed(Field::actionQueue);
}
void AppSettings::mutateLights(const std::function<void(std::vector<HueLight>&)>& f) {
    f(lights_);
    changed(Field::lights);
}
void AppSettings::mutateGroups(const std::function<void(std::vector<HueGroup>&)>& f) {
    f(groups_);
    changed(Field::groups);
}

void AppSettings::setLiveUpdates(bool v) {
    const bool was = liveUpdates_;
    liveUpdates_ = v;
    store_->setBool(keys::liveUpdates, v);
    if (was != v) changed(Field::liveUpdates);
}

void AppSettings::setLiveStatus(LiveStatus v) {
    if (liveStatus_ == v) return;
    liveStatus_ = v;
    changed(Field::liveStatus);
}

void AppSettings::setShowZones(bool v) {
    showZones_ = v;
    store_->setBool(keys::showZones, v);
    changed(Field::showZones);
}

void AppSettings::setShowScenes(bool v) {
    store_->setBool(keys::showScenes, v);
    if (!v) store_->setInteger(keys::activePanel, 0);
    showScenes_ = v;
    changed(Field::showScenes);
}

void AppSettings::setShowColorBarsForRooms(bool v) {
    showColorBarsForRooms_ = v;
    store_->setBool(keys::showColorBarsForRooms, v);
    changed(Field::showColorBarsForRooms);
}

void AppSettings::setShowColorBarsForLights(bool v) {
    showColorBarsForLights_ = v;
    store_->setBool(keys::showColorBarsForLights, v);
    changed(Field::showColorBarsForLights);
}

void AppSettings::setActiveMainPanel(MainPanels v) {
    // Queued, so the observers below see the heights held in memory now: the
    // panel takes the height it had when the user switched.
    dispatcher_.postUI([this, alive = std::weak_ptr<int>(alive_)] {
        if (alive.lock()) reloadPreferredHeights();
    });
    activeMainPanel_ = v;
    store_->setInteger(keys::activePanel, static_cast<std::int64_t>(v));
    changed(Field::activeMainPanel);
}

}  // namespace lumora
