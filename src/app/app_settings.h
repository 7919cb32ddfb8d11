#pragma once
// The one shared, observable state of the program: what the bridge last
// reported, the connection status, the command queue, the display preferences
// and the in-memory log. Read and written on the user-interface thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/dispatch.h"
#include "base/setting_keys.h"
#include "bridge/bridge_address.h"
#include "bridge/http_tls.h"
#include "bridge/records.h"

namespace lumora {

enum class MainPanels : std::int64_t { lights = 0, rooms = 1, scenes = 2 };
std::optional<MainPanels> mainPanelsFromRaw(std::int64_t raw);

// Why connecting failed. The core names the case; the shell words it.
enum class ConnectionProblem {
    none,
    pressLinkButton,  // the bridge wants its link button pressed before pairing
    unreachable,      // no bridge answered at the address (or none was found)
    noUserName,       // the bridge accepted pairing but sent an empty user name
    noAddress,        // nothing typed
    invalidAddress,   // what was typed forms no HOST[:PORT]
    // The peer at `address` did not prove it is the bridge; `certificate`
    // says how (the reason, the ids, the date, the fingerprint).
    certificateRefused,
    // The bridge `bridgeId` answered over verified HTTPS before and now
    // answers only over plain HTTP; it is not used.
    plainAfterSecure,
};

struct ConnectionError {
    ConnectionError() = default;
    ConnectionError(ConnectionProblem p, std::string typedOrAt = {}, TlsRefusal refusal = {},
                    std::string id = {})
        : problem(p),
          address(std::move(typedOrAt)),
          certificate(std::move(refusal)),
          bridgeId(std::move(id)) {}

    ConnectionProblem problem = ConnectionProblem::none;
    // What was typed, for the address problems; where the certificate came
    // from, for a refused one. Shown in the message.
    std::string address;
    TlsRefusal certificate;
    std::string bridgeId;

    bool empty() const { return problem == ConnectionProblem::none; }
    // A refusal the person may overrule by trusting the certificate's
    // fingerprint: not from the bridge's maker, or not the one trusted before.
    bool offersTrust() const;
    bool operator==(const ConnectionError& o) const;
};

// How the program talks to its bridge, once it has found out.
struct BridgeLink {
    enum class Kind { unknown, secure, plain };
    Kind kind = Kind::unknown;
    std::string bridgeId;  // small letters; may be empty for a plain one
    bool pinned = false;   // secure by a certificate the user chose to trust
    bool operator==(const BridgeLink&) const = default;
};

// Whether changes reach the program as they happen (the bridge's event
// stream) or only by reading every few seconds.
enum class LiveStatus {
    off,          // switched off in the settings
    unavailable,  // not connected, or a bridge without the stream (plain HTTP, first generation)
    connecting,   // the stream is being opened, or was lost and is retried; reads cover meanwhile
    active,       // the stream delivers
};

// The problem of an address as typed; `none` for a usable one.
ConnectionProblem connectionProblem(AddressProblem problem);

class AppSettings {
  public:
    enum class Field {
        actionQueue,
        lights,
        groups,
        scenes,
        bridgeConnected,
        needsLinkButton,
        hueIP,
        hueKey,
        connectionError,
        bridgeLink,
        log,
        lastUserActionAt,
        showReviewRequest,
        appIcon,
        keyIncrement,
        showZones,
        presetWindowHeightLights,
        presetWindowHeightRooms,
        presetWindowHeightScenes,
        activeMainPanel,
        showScenes,
        showColorBarsForRooms,
        showColorBarsForLights,
        storeProblem,
        unsavedUserName,
        liveUpdates,
        liveStatus,
    };
    using Observer = std::function<void(Field)>;

    // Initial values only; reads nothing from the store. The dispatcher, whose
    // user-interface thread this state lives on, must outlive this object.
    AppSettings(std::shared_ptr<DefaultsStore> store, Dispatcher& dispatcher);

    // Observers are called after the new value is stored.
    int addObserver(Observer observer);
    void removeObserver(int token);

    // The start-up load of the persisted settings.
    void loadFromStore();
    void reloadPreferredHeights();
    std::int64_t getCurrentPreferredWindowHeight() const;
    // Writes the line to standard output and keeps it in `log` (at most 1,001 lines).
    void logger(const std::string& line);
    // Keeps the line in `log` only; the caller printed it where it prints.
    void keepInLog(const std::string& line);

    DefaultsStore& defaults() const { return *store_; }
    const std::shared_ptr<DefaultsStore>& defaultsPtr() const { return store_; }
    // The dispatcher this state lives on; the views that show it post and
    // time their work through it.
    Dispatcher& dispatcher() const { return dispatcher_; }

    const std::vector<ActionQueueItem>& actionQueue() const { return actionQueue_; }
    const std::vector<HueLight>& lights() const { return lights_; }
    const std::vector<HueGroup>& groups() const { return groups_; }
    const std::vector<HueScene>& scenes() const { return scenes_; }
    bool bridgeConnected() const { return bridgeConnected_; }
    bool needsLinkButton() const { return needsLinkButton_; }
    const std::string& hueIP() const { return hueIP_; }
    const std::string& hueKey() const { return hueKey_; }
    const ConnectionError& connectionError() const { return connectionError_; }
    const BridgeLink& bridgeLink() const { return bridgeLink_; }
    const std::vector<std::string>& log() const { return log_; }
    // What keeps the settings from their file, as last noted.
    const std::optional<StoreProblem>& storeProblem() const { return storeProblem_; }
    // A user name the bridge issued that could not be stored; empty when none.
    const std::string& unsavedUserName() const { return unsavedUserName_; }
    TimePoint lastUserActionAt() const { return lastUserActionAt_; }
    bool showReviewRequest() const { return showReviewRequest_; }
    const std::string& appIcon() const { return appIcon_; }
    std::int64_t keyIncrement() const { return keyIncrement_; }
    bool showZones() const { return showZones_; }
    std::int64_t presetWindowHeightLights() const { return presetWindowHeightLights_; }
    std::int64_t presetWindowHeightRooms() const { return presetWindowHeightRooms_; }
    std::int64_t presetWindowHeightScenes() const { return presetWindowHeightScenes_; }
    MainPanels activeMainPanel() const { return activeMainPanel_; }
    bool showScenes() const { return showScenes_; }
    bool showColorBarsForRooms() const { return showColorBarsForRooms_; }
    bool showColorBarsForLights() const { return showColorBarsForLights_; }
    // The switch for the event stream (stored), and what became of it (not stored).
    bool liveUpdates() const { return liveUpdates_; }
    LiveStatus liveStatus() const { return liveStatus_; }

    void setActionQueue(std::vector<ActionQueueItem> v);
    void setLights(std::vector<HueLight> v);
    void setGroups(std::vector<HueGroup> v);
    void setScenes(std::vector<HueScene> v);
    // In-place changes of one list, published as one change.
    void mutateActionQueue(const std::function<void(std::vector<ActionQueueItem>&)>& f);
    void mutateLights(const std::function<void(std::vector<HueLight>&)>& f);
    void mutateGroups(const std::function<void(std::vector<HueGroup>&)>& f);
    void setBridgeConnected(bool v);
    void setNeedsLinkButton(bool v);
    void setHueIP(std::string v);
    void setHueKey(std::string v);
    void setConnectionError(ConnectionError v);
    // Takes the store's problem now; a new one is logged once.
    void noteStoreProblem();
    void setUnsavedUserName(std::string v);
    void setBridgeLink(BridgeLink v);
    void setLastUserActionAt(TimePoint v);
    // The user acted just now, on the dispatcher's clock.
    void markUserAction() { setLastUserActionAt(dispatcher_.now()); }
    void setShowReviewRequest(bool v);
    void setAppIcon(std::string v);
    void setKeyIncrement(std::int64_t v);
    void setShowZones(bool v);
    void setPresetWindowHeightLights(std::int64_t v);
    void setPresetWindowHeightRooms(std::int64_t v);
    void setPresetWindowHeightScenes(std::int64_t v);
    void setActiveMainPanel(MainPanels v);
    void setShowScenes(bool v);
    void setShowColorBarsForRooms(bool v);
    void setShowColorBarsForLights(bool v);
    void setLiveUpdates(bool v);
    void setLiveStatus(LiveStatus v);

  private:
    void changed(Field f);

    std::shared_ptr<DefaultsStore> store_;
    Dispatcher& dispatcher_;
    // Lets queued work notice that this object is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::vector<std::pair<int, Observer>> observers_;
    int nextObserver_ = 1;

    std::vector<ActionQueueItem> actionQueue_;
    std::vector<HueLight> lights_;
    std::vector<HueGroup> groups_;
    std::vector<HueScene> scenes_;
    bool bridgeConnected_ = false;
    bool needsLinkButton_ = false;
    std::string hueIP_;
    std::string hueKey_;
    ConnectionError connectionError_;
    BridgeLink bridgeLink_;
    std::vector<std::string> log_;
    std::optional<StoreProblem> storeProblem_;
    std::string unsavedUserName_;
    TimePoint lastUserActionAt_;
    bool showReviewRequest_ = false;
    std::string appIcon_ = keys::defaultAppIcon;
    std::int64_t keyIncrement_ = keys::defaultKeyIncrement;
    bool showZones_ = true;
    std::int64_t presetWindowHeightLights_ = 280;
    std::int64_t presetWindowHeightRooms_ = 280;
    std::int64_t presetWindowHeightScenes_ = 280;
    MainPanels activeMainPanel_ = MainPanels::lights;
    bool showScenes_ = false;
    bool showColorBarsForRooms_ = keys::defaultShowColorBars;
    bool showColorBarsForLights_ = keys::defaultShowColorBars;
    bool liveUpdates_ = keys::defaultLiveUpdates;
    LiveStatus liveStatus_ = LiveStatus::unavailable;
};

// Trims white space and line breaks from both ends.
std::string trimmed(const std::string& s);

}  // namespace lumora
