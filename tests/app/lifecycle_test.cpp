// Start-up order, the status item's clicks and the review request, against
// a recording shell on virtual time.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

namespace lumora {
namespace {

class RecordingShell : public Shell {
  public:
    std::vector<std::string> calls;
    bool shown = false;
    void buildInterface() override { calls.push_back("build"); }
    void repositionWindow(double h) override {
        calls.push_back("reposition " + std::to_string(int(h)));
    }
    void openURL(const std::string& url) override { calls.push_back("open " + url); }
    bool isPanelShown() const override { return shown; }
    void showPanel(std::int64_t h) override {
        shown = true;
        calls.push_back("show " + std::to_string(h));
    }
    void closePanel() override {
        shown = false;
        calls.push_back("close");
    }
    void popUpContextMenu() override { calls.push_back("menu"); }
    void showWelcomeWindow() override { calls.push_back("welcome"); }
    void showDebugWindow() override { calls.push_back("debug"); }
    void showSettings() override { calls.push_back("settings"); }
};

class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::ServerOptions options;
        options.linkButtonPressed = true;
        sim_ = std::make_unique<sim::SimServer>(options);
        ASSERT_TRUE(sim_->start());
    }
    void TearDown() override {
        exec_->runPending();
        delegate_.reset();
    }
    AppDelegate& delegate() {
        if (!delegate_) {
            delegate_ = std::make_unique<AppDelegate>(servicesWith(exec_, store_), &shell_);
            delegate_->setDetector([this] {
                ++detections_;
                return detected_;
            });
        }
        return *delegate_;
    }
    void openAndClose() {
        delegate().togglePopover(AppDelegate::Click::left);
        exec_->runPending();
        delegate().togglePopover(AppDelegate::Click::left);
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    RecordingShell shell_;
    std::unique_ptr<AppDelegate> delegate_;
    int detections_ = 0;
    std::string detected_;
    std::unique_ptr<sim::SimServer> sim_;
    // The paths the bridge saw, in order.
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& r : sim_->requestLog()) out.push_back(r.method + " " + r.path);
        return out;
    }
};

TEST_F(LifecycleTest, StartUpWithAStoredAddressConnectsWithoutDetecting) {
    store_->setString("bridgeIP", sim_->address());
    store_->setString("bridgeUser", sim::kDemoUser);
    store_->setBool("hasSeenWelcomeScreen", true);
    delegate().applicationDidFinishLaunching();
    exec_->runPending();
    EXPECT_EQ(detections_, 0);
    // The interface is built after the settings loaded, and no welcome.
    ASSERT_FALSE(shell_.calls.empty());
    EXPECT_EQ(shell_.calls.front(), "build");
    EXPECT_EQ(std::count(shell_.calls.begin(), shell_.calls.end(), "welcome"), 0);
    EXPECT_FALSE(delegate().settings().lights().empty());
    ASSERT_FALSE(paths().empty());
    EXPECT_EQ(paths().front(), std::string("GET /api/") + sim::kDemoUser + "/lights");
}

TEST_F(LifecycleTest, StartUpWithoutAnAddressDetectsAndConnectsToTheTrimmedResult) {
    detected_ = "  " + sim_->address() + "\n";
    delegate().applicationDidFinishLaunching();
    exec_->runPending();
    EXPECT_EQ(detections_, 1);
    EXPECT_EQ(delegate().settings().hueIP(), sim_->address());
    // No user name yet: connecting starts with pairing, then reads the lights.
    ASSERT_FALSE(paths().empty());
    EXPECT_EQ(paths().front(), "POST /api");
    EXPECT_FALSE(delegate().settings().hueKey().empty());
    EXPECT_FALSE(delegate().settings().lights().empty());

    // Nothing found: nothing happens, the panel shows its empty state.
    delegate_.reset();
    sim_->clearLog();
    detected_.clear();
    store_ = std::make_shared<InMemoryDefaultsStore>();
    delegate().applicationDidFinishLaunching();
    exec_->runPending();
    EXPECT_TRUE(delegate().settings().hueIP().empty());
    EXPECT_TRUE(paths().empty());
}

TEST_F(LifecycleTest, TheWelcomeOpensUntilATrueIsStored) {
    // Only a stored true Boolean counts.
    const std::pair<DefaultsValue, int> cases[] = {{DefaultsValue(std::string("true")), 1},
                                                   {DefaultsValue(std::int64_t{1}), 1},
                                                   {DefaultsValue(true), 0}};
    for (const auto& [value, welcomes] : cases) {
        store_->set("hasSeenWelcomeScreen", value);
        shell_.calls.clear();
        delegate_.reset();
        delegate().applicationDidFinishLaunching();
        EXPECT_EQ(std::count(shell_.calls.begin(), shell_.calls.end(), "welcome"), welcomes);
        exec_->runPending();
    }
}

TEST_F(LifecycleTest, ClicksToggleThePanelAndARightClickSwapsItForTheMenu) {
    store_->setInteger("preferredWindowHeightLights", 333);
    delegate().settings().setLights({HueLight{}});
    delegate().togglePopover(AppDelegate::Click::left);
    EXPECT_TRUE(shell_.shown);
    EXPECT_EQ(shell_.calls.back(), "show 333");
    // The review check waits for the next turn.
    EXPECT_FALSE(store_->contains("appInvocations"));
    exec_->runPending();
    EXPECT_EQ(store_->integer("appInvocations"), 1);

    delegate().togglePopover(AppDelegate::Click::right);
    EXPECT_FALSE(shell_.shown);
    EXPECT_EQ(shell_.calls.back(), "menu");
    EXPECT_EQ(shell_.calls[shell_.calls.size() - 2], "close");
    delegate().togglePopover(AppDelegate::Click::left);
    EXPECT_TRUE(shell_.shown);
    delegate().togglePopover(AppDelegate::Click::left);
    EXPECT_FALSE(shell_.shown);
}

TEST_F(LifecycleTest, ThePanelShortcutTogglesThePanelAsALeftClickDoes) {
    const Shortcut panelKeys(40, 4096 | 2048);  // control-option-K
    const Shortcut offKeys(37, 4096 | 2048);    // control-option-L
    store_->setString("KeyboardShortcuts_togglePanel", panelKeys.json());
    store_->setString("KeyboardShortcuts_allLightsOff", offKeys.json());
    store_->setInteger("preferredWindowHeightLights", 345);
    delegate().settings().setLights({HueLight{}});
    delegate().registerKeyboardHotkeys();
    EXPECT_EQ(delegate().shortcuts().registeredShortcuts(),
              (std::set<Shortcut>{panelKeys, offKeys}));

    delegate().shortcuts().handleOnKeyDown(panelKeys);
    exec_->runPending();
    EXPECT_FALSE(shell_.shown) << "it opens on release, as the others act";
    delegate().shortcuts().handleOnKeyUp(panelKeys);
    EXPECT_FALSE(shell_.shown) << "on the UI thread's next turn, not inside the key handler";
    exec_->runPending();
    EXPECT_TRUE(shell_.shown);
    EXPECT_EQ(shell_.calls.back(), "show 345");
    EXPECT_EQ(store_->integer("appInvocations"), 1) << "an opening like any other";

    delegate().shortcuts().handleOnKeyUp(offKeys);
    exec_->runPending();
    EXPECT_TRUE(shell_.shown) << "another shortcut leaves the panel alone";
    delegate().shortcuts().handleOnKeyUp(panelKeys);
    exec_->runPending();
    EXPECT_FALSE(shell_.shown);
    EXPECT_EQ(shell_.calls.back(), "close");
}

TEST_F(LifecycleTest, TheReviewRequestShowsFromThe27thToThe41stOpening) {
    std::vector<int> shownAt;
    for (int opening = 1; opening <= 50; ++opening) {
        openAndClose();
        exec_->runPending();
        if (delegate().settings().showReviewRequest()) shownAt.push_back(opening);
    }
    ASSERT_FALSE(shownAt.empty());
    EXPECT_EQ(shownAt.front(), 27);
    EXPECT_EQ(shownAt.back(), 41);
    EXPECT_EQ(shownAt.size(), 15u);
    EXPECT_EQ(store_->integer("appInvocations"), 50);

    // After acting on it, never again.
    store_->setInteger("appInvocations", 26);
    store_->setBool("noMoreReviewRequests", true);
    openAndClose();
    exec_->runPending();
    EXPECT_FALSE(delegate().settings().showReviewRequest());
    EXPECT_EQ(store_->integer("appInvocations"), 27);
}

TEST_F(LifecycleTest, SettingsOpenBeforeThePanelClosesAndPagesOpenTheirURLs) {
    delegate().setSiteURLs("file:///site/index.html", "file:///site/feedback/index.html");
    delegate().togglePopover(AppDelegate::Click::left);
    shell_.calls.clear();
    delegate().openSettings();
    EXPECT_EQ(shell_.calls, (std::vector<std::string>{"settings", "close"}));
    delegate().openHelp();
    delegate().openFeedback();
    EXPECT_EQ(shell_.calls[2], "open file:///site/index.html");
    EXPECT_EQ(shell_.calls[3], "open file:///site/feedback/index.html");
}

TEST_F(LifecycleTest, TwoDelegatesWithTheirOwnServicesDoNotSeeEachOther) {
    // A second program in the same process: its own dispatcher, store, centre
    // and shell.
    auto otherExec = std::make_shared<ManualExecutor>();
    Services otherServices = servicesWith(otherExec, std::make_shared<InMemoryDefaultsStore>());
    const auto runBoth = [&] {
        exec_->runPending();
        otherExec->runPending();
    };
    RecordingShell otherShell;
    auto other = std::make_unique<AppDelegate>(otherServices, &otherShell);
    other->setDetector([] { return std::string(); });
    for (DefaultsStore* s :
         {static_cast<DefaultsStore*>(store_.get()), otherServices.store.get()}) {
        s->setBool("hasSeenWelcomeScreen", true);
        s->setInteger("preferredWindowHeightRooms", 410);
    }
    otherServices.store->setInteger("preferredWindowHeightRooms", 390);
    delegate().applicationDidFinishLaunching();
    other->applicationDidFinishLaunching();
    runBoth();
    shell_.calls.clear();
    otherShell.calls.clear();

    // One delegate's panel switch is stored and answered, on the next turn,
    // in its own world only.
    delegate().settings().setGroups({HueGroup{}});
    delegate().settings().setActiveMainPanel(MainPanels::rooms);
    EXPECT_TRUE(shell_.calls.empty());
    runBoth();
    EXPECT_EQ(std::count(shell_.calls.begin(), shell_.calls.end(), "reposition 410"), 1);
    EXPECT_TRUE(otherShell.calls.empty());
    EXPECT_EQ(store_->integer("activePanel"), 1);
    EXPECT_EQ(otherServices.store->integer("activePanel"), 0);

    // A request posted in the other centre reaches the other delegate alone.
    otherServices.center->post(kWindowResizePlease,
                               {{"height", NotificationValue(std::int64_t{390})}});
    runBoth();
    EXPECT_EQ(std::count(otherShell.calls.begin(), otherShell.calls.end(), "reposition 390"), 1);
    EXPECT_EQ(std::count(shell_.calls.begin(), shell_.calls.end(), "reposition 390"), 0);

    // A setting changed in one leaves the other's copy and store alone.
    other->settings().setShowZones(true);
    EXPECT_TRUE(otherServices.store->boolean("showZones"));
    EXPECT_FALSE(store_->boolean("showZones"));
    EXPECT_FALSE(delegate().settings().showZones());
    other.reset();
}

}  // namespace
}  // namespace lumora
