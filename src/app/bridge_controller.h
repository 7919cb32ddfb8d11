#pragma once
// The one bridge the program controls: connecting and pairing, finding it,
// keeping AppSettings in step with it, pacing commands to it, and the debug
// report. No toolkit: the tray program and lumora-ctl both drive it. It
// reports only through AppSettings, whose observers the shell holds.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/live_updates.h"
#include "app/services.h"
#include "base/dispatch.h"
#include "bridge/bridge_endpoint.h"
#include "bridge/bridge_link.h"
#include "bridge/commands.h"
#include "bridge/fetchers.h"

namespace lumora {

inline constexpr auto kQueuePeriod = std::chrono::milliseconds(300);
inline constexpr auto kRefreshPeriod = std::chrono::milliseconds(3500);
inline constexpr auto kQuietAfterUserAction = std::chrono::milliseconds(3000);
inline constexpr auto kCommandTimeout = std::chrono::seconds(3);
// While the event stream delivers, the refresh reads only what an event asked
// for, and everything once in this time in case an event went missing.
inline constexpr auto kSafetyReadPeriod = std::chrono::seconds(60);

class BridgeController : public CommandQueue {
  public:
    explicit BridgeController(Services services);
    ~BridgeController() override;
    BridgeController(const BridgeController&) = delete;
    BridgeController& operator=(const BridgeController&) = delete;

    AppSettings& settings() { return *settings_; }
    const AppSettings& settings() const { return *settings_; }
    const Services& services() const { return services_; }

    // The start-up connection, once the settings are loaded: to the stored
    // address, or to the one detection finds. Finding none ends quietly.
    void start();
    // The detection the services chose, safe to call on a worker; blocks.
    Services::Detector detector() const;
    // Takes a bridge detection found: its address, and the id its
    // certificate must name; connects.
    void useFoundBridge(const FoundBridge& found);

    // Connection and refresh.
    void connectToBridge();
    void fetchBridgeAccess();
    void fetchLights();
    void fetchGroups();
    void fetchScenes();
    void ensureBridgeStateRefresherIsRunning();
    void refreshTick();
    void disconnectBridge();
    // The person chose to trust the certificate with this SHA-256
    // fingerprint (after a refusal that offers it): connects with it, and
    // keeps it for the bridge id once that bridge answers.
    void trustCertificate(const std::string& fingerprint);
    // How the bridge at the settings' address is reached, as a caller that
    // found out itself (lumora-ctl) says; its user is ignored.
    void setLink(BridgeEndpoint link) { link_ = std::move(link); }
    // The requests of this controller that opened a connection or shook hands.
    const HttpSession& httpSession() const { return *session_; }
    void updateHueIP(const std::string& newIP);
    void updateHueKey(const std::string& newKey);
    int getGroupIndex(const HueGroup& group) const;
    int getLampIndex(const HueLight& lamp) const;

    // The action queue, and what the command functions need of it.
    void addActionItem(ActionQueueItem item) override;
    std::string commandBridgeIP() const override { return settings_->hueIP(); }
    std::string commandBridgeUser() const override { return settings_->hueKey(); }
    void updateLocalLight(const HueLight& lamp,
                          const std::function<void(HueLight&)>& change) override;
    void updateLocalGroup(const HueGroup& group,
                          const std::function<void(HueGroup&)>& change) override;
    void commandLog(const std::string& line) override { settings_->logger(line); }
    WallTime commandTime() const override { return dispatcher_.wallNow(); }
    void ensureQueueProcessorIsRunning();
    void processActionQueue();
    // Requests started by the queue whose reply has not come back yet.
    int sendsInFlight() const { return inFlight_->load(); }
    // True when nothing waits in the queue and nothing is on its way.
    bool queueDrained() const;

    // Every light off now, or all at once after `minutes` by the bridge's own
    // schedule.
    void allOff();
    void allOffInMinutes(int minutes);

    // The bridge's event stream, read while the bridge has one, the link is
    // verified HTTPS and the setting is on. What its thread hands over comes
    // here, on the UI thread: exact changes applied as a read would, the
    // rest read at the next turn; both wait out the quiet time after a
    // user action.
    void onStreamEvent(const StreamEventMeaning& meaning);
    void onStreamHealth(bool live);
    bool streamRunning() const { return stream_ != nullptr; }
    bool streamLive() const { return streamLive_; }

    // The timers stop for sleep and quit and start again on wake.
    void applicationWillTerminate();
    void onSleepNote();
    void onWakeNote();
    const std::weak_ptr<RepeatingTimer>& actionQueueProcessor() const {
        return actionQueueProcessor_;
    }
    const std::weak_ptr<RepeatingTimer>& bridgeStateRefresher() const {
        return bridgeStateRefresher_;
    }

    // Sends the debug report: the bridge's address and model, the program's
    // version and its log without the user name, through the services' script
    // runner on a worker. Where it went is logged once the script ends.
    void sendDebugReport();

  private:
    // What background work holds instead of `this`: a way back on the UI
    // thread. The token is checked there, where the controller is also
    // destroyed, so a worker never reads the controller and the controller
    // may go while a read or pairing is still on its way. Only the
    // dispatcher's own workers hold one: the dispatcher waits for them
    // before it goes, so it is there for every post.
    class UiHandle {
      public:
        // Runs `work` with the controller on the UI thread, if it still exists then.
        void post(std::function<void(BridgeController&)> work) const;
        // A hint for a worker to skip work nobody waits for; decides nothing.
        bool gone() const { return alive_.expired(); }

      private:
        friend class BridgeController;
        UiHandle(BridgeController* controller, Dispatcher* dispatcher, std::weak_ptr<int> alive)
            : controller_(controller), dispatcher_(dispatcher), alive_(std::move(alive)) {}
        BridgeController* controller_;  // followed only on the UI thread, after the check
        Dispatcher* dispatcher_;
        std::weak_ptr<int> alive_;
    };
    UiHandle uiHandle() { return UiHandle(this, &dispatcher_, alive_); }

    // The bridge as the settings name it now; taken on the UI thread, copied
    // to the workers.
    BridgeEndpoint endpoint() const;
    // What the store knows of bridge ids; safe on a worker.
    KnownBridges knownBridges() const;
    // Brings hueIP to its bare HOST[:PORT]; false, with the problem shown,
    // when what was typed is no address. `https` tells whether "https://"
    // was typed.
    bool useTypedAddress(bool* https = nullptr);
    // Finds out on a worker how the bridge is reached, then reads (paired)
    // or pairs (not yet, or `pairOnly`).
    void linkThen(bool pairOnly);
    // The outcome of linkToBridge, on the UI thread; false when it failed.
    bool applyLink(const LinkResult& result);
    // Static, so what runs on a worker cannot reach the controller but through `self`.
    struct Reader {
        UiHandle self;
        HttpTransport transport;
        BridgeEndpoint bridge;
        std::shared_ptr<FetchMemo> memo;
        std::shared_ptr<FullStateReader> full;
    };
    Reader reader();
    // Runs `reads` one after the other on one worker.
    static void readInTurn(const Reader& r, std::vector<void (*)(const Reader&)> reads);
    // Each blocks for its read, then reports through the reader's handle.
    static void readLights(const Reader& r);
    static void readGroups(const Reader& r);
    static void readScenes(const Reader& r);
    // The whole state in one request, with the three reads as the fallback.
    static void readEverything(const Reader& r);
    bool inQuietTime() const;
    // Reads what events asked for, unless the user acted just now.
    void readWanted();
    void startStreamIfWanted();
    void stopStream();
    static void pairWith(UiHandle self, const HttpTransport& transport,
                         const BridgeEndpoint& bridge);
    // A failed read is logged when it differs from the last one of its
    // collection, not at every refresh; a read that works clears it.
    void noteRead(Collection what, const FetchError* error);
    // Stores the address and user name a read just proved; a user name that
    // cannot be stored is kept for the connection pane to show.
    void storePair(const std::string& bridgeId);
    void send(const ActionQueueItem& item);
    // The same, for the queue's commands: a failure in the in-memory log once
    // per change, anything else (a reply, even a refusal) clears it.
    void noteCommand(const std::string& failure, const std::string& line);
    // Runs `work` on the UI thread if this controller still exists then. Only
    // for callers on the UI thread; workers use a UiHandle.
    void onUI(std::function<void()> work);

    Services services_;
    // The services' dispatcher, which they keep alive as long as this controller.
    Dispatcher& dispatcher_;
    // Every request goes through this session (or the services' transport
    // over it), so reads and commands share kept-alive connections.
    std::shared_ptr<HttpSession> session_ = std::make_shared<HttpSession>();
    HttpTransport transport_;
    // How the bridge at `link_.hostPort` is reached, once found out.
    BridgeEndpoint link_;
    // A fingerprint the person trusts, for the next link only.
    std::string offeredPin_;
    // What detection found last: the id is demanded while the address is used.
    FoundBridge discovered_;
    std::unique_ptr<AppSettings> settings_;
    // This controller's last replies; shared with the reads still on a worker.
    std::shared_ptr<FetchMemo> fetchMemo_ = std::make_shared<FetchMemo>();
    std::weak_ptr<RepeatingTimer> actionQueueProcessor_;
    std::weak_ptr<RepeatingTimer> bridgeStateRefresher_;
    std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
    std::array<std::string, 3> readFailures_;
    std::string commandFailure_;
    // The model the configuration read named, for whether it has a stream.
    std::string linkModel_;
    std::unique_ptr<EventStreamClient> stream_;
    // Posts of a stream that was stopped since are dropped.
    int streamGeneration_ = 0;
    bool streamLive_ = false;
    std::string streamLogLine_;
    ReadsWanted wanted_;
    bool wantedPosted_ = false;
    TimePoint lastFullRead_{};
    std::shared_ptr<FullStateReader> fullState_ = std::make_shared<FullStateReader>();
    int settingsObserver_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The log as the debug report carries it: the user name (`user`, and any name
// in a bridge path "/api/NAME") replaced by "<user>".
std::vector<std::string> scrubbedLog(const std::vector<std::string>& log, const std::string& user);

}  // namespace lumora
