#pragma once
// The program's spine: owns the shared state and the two timers, connects to
// the bridge, keeps the state fresh and paces commands through the queue.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/hotkey_actions.h"
#include "app/services.h"
#include "app/shell.h"
#include "base/dispatch.h"
#include "bridge/commands.h"
#include "bridge/http.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "shortcuts/keyboard_shortcuts.h"

namespace lumora {

class FetchMemo;

inline constexpr auto kQueuePeriod = std::chrono::milliseconds(300);
inline constexpr auto kRefreshPeriod = std::chrono::milliseconds(3500);
inline constexpr auto kQuietAfterUserAction = std::chrono::milliseconds(3000);
inline constexpr auto kCommandTimeout = std::chrono::seconds(3);

class AppDelegate : public CommandQueue {
  public:
    explicit AppDelegate(Services services, Shell* shell = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    AppSettings& settings() { return *settings_; }
    const AppSettings& settings() const { return *settings_; }
    const Services& services() const { return services_; }
    NotificationCenter& notifications() const { return *services_.center; }
    // The global shortcuts over the settings' store and the services' hot-key
    // service; the recorders of the settings window store into them.
    KeyboardShortcuts& shortcuts() { return shortcuts_; }
    Shell* shell() const { return shell_; }
    void setShell(Shell* shell) { shell_ = shell; }

    // Start-up and the status item.
    enum class Click { left, right };
    // The start-up sequence; the shell must be set.
    void applicationDidFinishLaunching();
    // A click on the status item; a control-click counts as `right`.
    void togglePopover(Click click);
    // Counts the panel's openings and shows or withdraws the review request.
    void reviewCheck();
    void openSettings();
    void openHelp();
    void openFeedback();
    void setSiteURLs(std::string help, std::string feedback);
    // Finds a bridge when none is stored; the network's detection unless replaced.
    using Detector = std::function<std::string()>;
    void setDetector(Detector detector) { detector_ = std::move(detector); }

    // Connection and refresh.
    void connectToBridge();
    void fetchBridgeAccess();
    void fetchLights();
    void fetchGroups();
    void fetchScenes();
    void ensureBridgeStateRefresherIsRunning();
    void refreshTick();
    void disconnectBridge();
    void updateHueIP(const std::string& newIP);
    void updateHueKey(const std::string& newKey);
    std::vector<HueLight> mergeOrderedLightListWithNew(const std::vector<HueLight>& existing,
                                                       const std::vector<HueLight>& fresh) const;
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

    // Menu commands and lifecycle.
    void allOff();
    void allOffInMinutes(int minutes);
    // The minutes a delayed-off menu title stands for: 5, 30 or 60.
    static int minutesFromMenuTitle(const std::string& title);
    void applicationWillTerminate();
    void onSleepNote();
    void onWakeNote();

    // Global shortcuts: one key-up handler per name, each acting on the UI thread.
    void registerKeyboardHotkeys();
    void applyToAllGroups(AllGroupsAction action);
    void applyGroupSlot(int slot);  // 0 to 4

    const std::weak_ptr<RepeatingTimer>& actionQueueProcessor() const {
        return actionQueueProcessor_;
    }
    const std::weak_ptr<RepeatingTimer>& bridgeStateRefresher() const {
        return bridgeStateRefresher_;
    }
    // Requests started by the queue whose reply has not come back yet.
    int sendsInFlight() const { return inFlight_->load(); }
    // True when nothing waits in the queue and nothing is on its way.
    bool queueDrained() const;
    // How queued commands travel; the HTTP client unless replaced (tests).
    using Transport = Services::Transport;
    void setTransport(Transport transport) { services_.transport = std::move(transport); }

  private:
    // What background work holds of this delegate instead of `this`: a way
    // back to it on the UI thread. The token is checked there, where the
    // delegate is also destroyed, so a worker never reads the delegate and
    // the delegate may go while a read or pairing is still on its way.
    // Only the dispatcher's own workers hold one: the dispatcher waits for
    // them before it goes, so it is there for every post.
    class UiHandle {
      public:
        // Runs `work` with the delegate on the UI thread, if it still exists then.
        void post(std::function<void(AppDelegate&)> work) const;
        // A hint for a worker to skip work nobody waits for; decides nothing.
        bool gone() const { return alive_.expired(); }
        Dispatcher& dispatcher() const { return *dispatcher_; }

      private:
        friend class AppDelegate;
        UiHandle(AppDelegate* delegate, Dispatcher* dispatcher, std::weak_ptr<int> alive)
            : delegate_(delegate), dispatcher_(dispatcher), alive_(std::move(alive)) {}
        AppDelegate* delegate_;  // followed only on the UI thread, after the check
        Dispatcher* dispatcher_;
        std::weak_ptr<int> alive_;
    };
    UiHandle uiHandle() { return UiHandle(this, &dispatcher_, alive_); }

    // Brings hueIP to its bare HOST[:PORT]; false, with the reason shown, when
    // what was typed is no address.
    bool useTypedAddress();
    // Static, so what runs on a worker cannot reach the delegate but through `self`.
    static void fetchLightsWith(UiHandle self, const std::string& ip, const std::string& key,
                                const ConsoleSink& console, std::shared_ptr<FetchMemo> memo);
    static void fetchGroupsWith(UiHandle self, const std::string& ip, const std::string& key,
                                const ConsoleSink& console, std::shared_ptr<FetchMemo> memo);
    static void fetchScenesWith(UiHandle self, const std::string& ip, const std::string& key,
                                const ConsoleSink& console, std::shared_ptr<FetchMemo> memo);
    static void pairWith(UiHandle self, const std::string& ip);
    void send(const ActionQueueItem& item);
    // Runs `work` on the UI thread if this delegate still exists then. Only
    // for callers on the UI thread; workers use a UiHandle.
    void onUI(std::function<void()> work);

    Services services_;
    // The services' dispatcher, which they keep alive as long as this delegate.
    Dispatcher& dispatcher_;
    std::unique_ptr<AppSettings> settings_;
    // This delegate's last replies; shared with the reads still on a worker.
    std::shared_ptr<FetchMemo> fetchMemo_;
    CarbonKeyboardShortcuts hotKeyLayer_;
    KeyboardShortcuts shortcuts_;
    Shell* shell_;
    std::weak_ptr<RepeatingTimer> actionQueueProcessor_;
    std::weak_ptr<RepeatingTimer> bridgeStateRefresher_;
    std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    Detector detector_;
    std::string helpURL_;
    std::string feedbackURL_;
    std::uint64_t resizeObserver_ = 0;
};

// The stored light order, under "lightOrder".
std::vector<std::string> loadDeviceOrder(const DefaultsStore& store);
void saveDeviceOrder(const std::vector<HueLight>& lights, DefaultsStore& store);
std::vector<HueLight> orderedLights(const std::vector<HueLight>& lights,
                                    const DefaultsStore& store);
std::vector<HueScene> orderedScenes(std::vector<HueScene> scenes);

}  // namespace lumora
