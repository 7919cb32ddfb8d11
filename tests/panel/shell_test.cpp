// The tray program's Qt layer under the offscreen platform: placement, the
// panel window's life, start-up, clicks, the context menu, the review
// request, the small windows, the executor and the script runner.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "app/linux/run_script.h"
#include "app/qt/qt_executor.h"
#include "panel/panel_placement.h"
#include "panel/panel_window.h"
#include "panel/qt_shell.h"
#include "panel/views/content_view.h"
#include "preferences/debug_view.h"
#include "preferences/image_player.h"
#include "preferences/settings_panes.h"
#include "support/dispatcher_teardown.h"
#include "support/manual_executor.h"
#include "support/qt_test_main.h"
#include "ui/icon_button.h"

namespace lumora::panel {
namespace {

const QRect kScreen(0, 0, 1280, 1000);

// What repositionWindow computes: under the icon, or at the pointer when the
// tray gives no icon geometry (a StatusNotifierItem tray).
TEST(PanelPlacementTest, UnderTheIconOrAtThePointer) {
    const struct {
        const char* what;
        QRect frame;
        std::optional<QRect> icon;
        QPoint pointer = {};
        double height = 300;
        QRect screen = kScreen;
    } cases[] = {
        {"under the icon", {512, 29, 200, 300}, QRect(600, 0, 24, 24)},
        {"pulled in 5 at the right edge", {1075, 29, 200, 300}, QRect(1256, 0, 24, 24)},
        {"not at the left edge", {-88, 29, 200, 300}, QRect(0, 0, 24, 24)},
        {"height 0", {-88, 29, 200, kDefaultPanelHeight}, QRect(0, 0, 24, 24), {}, 0},
        {"height < 0", {-88, 29, 200, kDefaultPanelHeight}, QRect(0, 0, 24, 24), {}, -20},
        {"a bottom tray: upwards", {512, 671, 200, 300}, QRect(600, 976, 24, 24)},
        {"no icon: under the pointer", {540, 15, 200, 300}, QRect(), {640, 10}},
        {"lower half: above the pointer", {540, 685, 200, 300}, std::nullopt, {640, 990}},
        {"top right corner", {1075, 7, 200, 300}, std::nullopt, {1279, 2}},
        {"bottom left corner", {5, 694, 200, 300}, std::nullopt, {2, 999}},
        {"small screen", {300, 5, 200, 230}, std::nullopt, {400, 10}, 300, {0, 0, 800, 240}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlacementInput in;
        in.screen = c.screen;
        in.icon = c.icon;
        in.pointer = c.pointer;
        in.preferredHeight = c.height;
        EXPECT_EQ(panelFrame(in), c.frame);
    }
}

// A StatusNotifierItem host passes only the click's point, inside its bar:
// the panel goes past the bar (twice the point's distance from the edge, or
// the work area's edge), centred on the point and kept on the screen.
TEST(PanelPlacementTest, AtTheHostsPointPastItsBar) {
    const QRect full(0, 0, 1280, 720);
    const struct {
        const char* what;
        QPoint point;
        QRect frame;
        QRect available = QRect(0, 0, 1280, 720);
        double height = 300;
    } cases[] = {
        {"a 24 px bar at the top right", {1262, 12}, {1075, 29, 200, 300}},
        {"centred in the middle of a top bar", {640, 12}, {540, 29, 200, 300}},
        {"the left end", {3, 12}, {5, 29, 200, 300}},
        {"a bottom bar: above it", {640, 708}, {540, 391, 200, 300}},
        {"the work area knows the bar", {1262, 12}, {1075, 35, 200, 300}, {0, 30, 1280, 690}},
        {"the bottom work area too", {640, 708}, {540, 385, 200, 300}, {0, 0, 1280, 690}},
        {"a point far from any edge: just past it", {640, 300}, {540, 305, 200, 300}},
        {"a bar down the left side: beside it", {14, 400}, {33, 250, 200, 300}},
        {"a bar down the right side", {1266, 300}, {1047, 150, 200, 300}},
        {"taller than the screen", {640, 12}, {540, 5, 200, 710}, full, 2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PlacementInput in;
        in.hostPoint = c.point;
        in.pointer = {999, 999};  // never used when the host tells
        in.screen = c.available;
        in.fullScreen = full;
        in.preferredHeight = c.height;
        EXPECT_EQ(panelFrame(in), c.frame);
    }
}

class FakeMonitor : public ClickMonitor {
  public:
    FakeMonitor(bool works, std::function<void(bool)>* press, std::function<void()>* release)
        : works_(works), press_(press), release_(release) {}
    bool start(std::function<void(bool)> onOutsideClick,
               std::function<void()> onLeftRelease) override {
        if (works_) *press_ = std::move(onOutsideClick);
        if (works_) *release_ = std::move(onLeftRelease);
        return works_;
    }
    void stop() override { *press_ = nullptr, *release_ = nullptr; }

  private:
    bool works_;
    std::function<void(bool)>* press_;
    std::function<void()>* release_;
};

class WindowControllerTest : public ::testing::Test {
  protected:
    std::unique_ptr<StatusBarMenuWindowController> make(bool monitorWorks = true,
                                                        std::optional<QRect> icon = QRect(600, 0,
                                                                                          24, 24)) {
        StatusBarMenuWindowController::Environment env;
        env.iconGeometry = [icon] { return icon; };
        env.pointer = [] { return QPoint(100, 100); };
        env.screenAt = [](QPoint) { return kScreen; };
        env.makeMonitor = [this, monitorWorks] {
            return std::make_unique<FakeMonitor>(monitorWorks, &outsideClick_, &release_);
        };
        env.fadeMilliseconds = 30;
        env.now = [this] { return now_; };
        auto* content = new QWidget;
        content->setFixedWidth(200);
        return std::make_unique<StatusBarMenuWindowController>(content, store_, std::move(env));
    }
    InMemoryDefaultsStore store_;
    std::function<void(bool left)> outsideClick_;
    std::function<void()> release_;
    std::chrono::steady_clock::time_point now_;
};

TEST_F(WindowControllerTest, ShowsUnderTheIconFadesOutAndClosesOnAnOutsideClick) {
    auto c = make();
    c->setPreferredHeight(300);
    c->showWindow();
    EXPECT_TRUE(c->isShown());
    EXPECT_TRUE(c->window()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return c->window()->geometry() == QRect(512, 29, 200, 300);
    })) << c->window()->geometry().y();

    // A later reposition lands on the next turn, not at once.
    c->repositionWindow(400);
    EXPECT_EQ(c->window()->height(), 300);
    EXPECT_TRUE(QTest::qWaitFor([&] { return c->window()->height() == 400; }));

    bool willClose = false;
    c->windowWillClose = [&] { willClose = true; };
    ASSERT_TRUE(outsideClick_);
    outsideClick_(/*left=*/false);
    EXPECT_TRUE(c->isShown()) << "shown until the fade-out ends";
    EXPECT_TRUE(c->isFading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c->isShown(); }));
    EXPECT_TRUE(willClose);
    EXPECT_FALSE(c->window()->isVisible());
    EXPECT_FALSE(outsideClick_) << "the monitor stops with the panel";

    // Showing again during a fade-out cancels it.
    c->showWindow();
    c->close();
    c->showWindow();
    QTest::qWait(80);
    EXPECT_TRUE(c->isShown());
    EXPECT_TRUE(c->window()->isVisible());
}

// A tray that activates on release: the activation of the left click whose
// press closed the panel is that click's, once, until its time is up or
// another press starts a new click.
TEST_F(WindowControllerTest, TheClickThatClosedThePanelIsNotTakenForANewOne) {
    using std::chrono::milliseconds;
    const milliseconds window = StatusBarMenuWindowController::kReleaseToActivation;
    const struct {
        const char* what;
        bool left, release, newPress;
        milliseconds after;
        bool itsOwn;
    } cases[] = {
        {"released, activation soon after", true, true, false, window, true},
        {"still held", true, false, false, milliseconds(0), true},
        {"activation too late", true, true, false, window + milliseconds(1), false},
        {"another press since", true, true, true, milliseconds(0), false},
        {"closed by a right click", false, false, false, milliseconds(0), false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        auto c = make();
        c->showWindow();
        outsideClick_(k.left);
        if (k.release) release_();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !c->isShown(); }));
        if (k.newPress) outsideClick_(true);
        now_ += k.after;
        EXPECT_EQ(c->takeClosingClick(), k.itsOwn);
        EXPECT_FALSE(c->takeClosingClick()) << "once";
        EXPECT_FALSE(outsideClick_) << "nothing left to watch for";
    }
}

// Without a monitor the program losing the focus closes the panel; the focus
// moving to another of its windows (the settings) does not.
TEST_F(WindowControllerTest, WithoutAMonitorLosingFocusCloses) {
    auto c = make(/*monitorWorks=*/false);
    c->showWindow();
    QWidget settingsWindow;
    settingsWindow.show();
    QApplication::setActiveWindow(&settingsWindow);
    QCoreApplication::processEvents();
    EXPECT_TRUE(c->isShown() && !c->isFading()) << "the focus is still the program's";
    QApplication::setActiveWindow(nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !c->isShown(); }));

    c->showWindow();
    emit c->window()->activationChanged(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !c->isShown(); }));
}

TEST_F(WindowControllerTest, WithoutAStatusItemThePanelIsCentred) {
    StatusBarMenuWindowController::Environment env;
    env.screenAt = [](QPoint) { return kScreen; };
    StatusBarMenuWindowController c(new QWidget, store_, std::move(env));
    const QRect f = c.computeFrame(0);
    EXPECT_EQ(f.height(), kDefaultPanelHeight);
    EXPECT_EQ(f.center(), kScreen.center());
}

TEST_F(WindowControllerTest, TheHeightGivenIsStoredPerPanelAtLeast200) {
    auto c = make();
    c->showWindow();
    QCoreApplication::processEvents();
    store_.setInteger("activePanel", 1);
    c->window()->resize(200, 150);
    EXPECT_EQ(store_.integer("preferredWindowHeightRooms"), 200);
    c->window()->resize(200, 420);
    EXPECT_EQ(store_.integer("preferredWindowHeightRooms"), 420);
    store_.setInteger("activePanel", 0);
    c->window()->resize(200, 380);
    EXPECT_EQ(store_.integer("preferredWindowHeightLights"), 380);
    EXPECT_EQ(store_.integer("preferredWindowHeightRooms"), 420);
    store_.setInteger("activePanel", 7);
    c->window()->resize(200, 500);
    EXPECT_FALSE(store_.contains("preferredWindowHeightScenes"));
    EXPECT_EQ(store_.integer("preferredWindowHeightLights"), 380);
}

// Takes the URLs the shell asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QStringList opened;
    Q_INVOKABLE void open(const QUrl& url) { opened << url.toString(); }
};

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_->setString("bridgeIP", "127.0.0.1:9");
        store_->setString("bridgeUser", "key");
        Services services = servicesWith(exec_, store_);
        // Nothing leaves the process: no bridge answers, none is found.
        services.transport = [](const HttpRequest&) {
            HttpResponse refused;
            refused.error = HttpError::connectionFailed;
            return refused;
        };
        services.detector = [] { return std::string(); };
        controller_ = std::make_unique<BridgeController>(services);
        hotkeys_ = std::make_unique<HotkeyActions>(*controller_, services);
        options_.monitorClicks = false;
        options_.watchSleep = false;
        options_.fadeMilliseconds = 10;
        options_.helpURL = "file:///site/index.html";
        options_.feedbackURL = "file:///site/feedback/index.html";
        options_.showSettings = [this](QtShell&) { calls_.push_back("settings"); };
        options_.makeWelcomeView = prefs::makeWelcomeView;
        options_.makeDebugView = prefs::makeDebugView;
        shell_ = std::make_unique<QtShell>(*controller_, *hotkeys_, options_);
        QDesktopServices::setUrlHandler("file", &urls_, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        exec_->runPending();
        shell_.reset();
        hotkeys_.reset();
        controller_.reset();
    }
    // The start-up of a program that has seen its welcome.
    void launch() {
        store_->setBool("hasSeenWelcomeScreen", true);
        shell_->applicationDidFinishLaunching();
    }
    AppSettings& settings() { return controller_->settings(); }
    QAction* action(const QString& title) {
        for (QAction* a : shell_->contextMenu()->actions()) {
            if (a->text() == title) return a;
        }
        return nullptr;
    }
    std::vector<ActionQueueItem> queued() {
        exec_->runPending();
        return settings().actionQueue();
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<BridgeController> controller_;
    std::unique_ptr<HotkeyActions> hotkeys_;
    QtShell::Options options_;
    std::unique_ptr<QtShell> shell_;
    std::vector<std::string> calls_;
    UrlCatcher urls_;
};

TEST_F(ShellTest, StartUpBuildsTheInterfaceAndWelcomesUntilATrueIsStored) {
    // Only a stored true Boolean counts.
    const std::pair<DefaultsValue, bool> cases[] = {{DefaultsValue(std::string("true")), true},
                                                    {DefaultsValue(std::int64_t{1}), true},
                                                    {DefaultsValue(true), false}};
    store_->remove("bridgeIP");
    for (const auto& [value, welcomed] : cases) {
        store_->set("hasSeenWelcomeScreen", value);
        store_->setInteger("keyIncrement", 30);
        auto shell = std::make_unique<QtShell>(*controller_, *hotkeys_, options_);
        shell->applicationDidFinishLaunching();
        EXPECT_TRUE(shell->statusItem());
        EXPECT_TRUE(shell->contextMenu());
        EXPECT_EQ(settings().keyIncrement(), 30) << "the settings loaded";
        EXPECT_EQ(shell->welcomeWindow() != nullptr, welcomed);
        exec_->runPending();
    }
    EXPECT_TRUE(settings().hueIP().empty()) << "nothing found, nothing connected";
}

TEST_F(ShellTest, TheContextMenuHasItsTitlesAndKeysInOrder) {
    launch();
    QStringList titles;
    for (QAction* a : shell_->contextMenu()->actions()) {
        if (!a->isVisible()) continue;
        const QString key = a->shortcut().toString();
        titles << (a->isSeparator() ? "-"
                   : key.isEmpty()  ? a->text()
                                    : a->text() + "[" + key + "]");
    }
    EXPECT_EQ(titles.join("|").toStdString(),
              "Darkness![X]|Off in 5 minutes|Off in 30 minutes|Off in 60 minutes|-|Settings[S]|-|"
              "Help[H]|Provide Feedback[F]|-|Quit Lumora[Q]");
}

TEST_F(ShellTest, DarknessSwitchesEveryKnownLightOffAndNothingWithoutLights) {
    launch();
    action("Darkness!")->trigger();
    EXPECT_TRUE(queued().empty());

    std::vector<HueLight> lights(2);
    for (size_t i = 0; i < lights.size(); ++i) {
        lights[i].lamp_id = std::to_string(i + 1);
        lights[i].hue_ip = "10.0.0.2";
        lights[i].hue_key = "key";
    }
    settings().setLights(lights);
    action("Darkness!")->trigger();
    const auto items = queued();
    ASSERT_EQ(items.size(), 2u);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_NE(items[i].url.find("/lights/" + std::to_string(i + 1) + "/state"),
                  std::string::npos);
        EXPECT_NE(items[i].body.find("\"on\":false"), std::string::npos) << items[i].body;
    }
}

TEST_F(ShellTest, TheDelayedOffItemsSchedule5_30And60Minutes) {
    launch();
    for (auto [title, time] : {std::pair{"Off in 5 minutes", "PT00:05:00"},
                               {"Off in 30 minutes", "PT00:30:00"},
                               {"Off in 60 minutes", "PT01:00:00"}}) {
        SCOPED_TRACE(title);
        action(title)->trigger();
        const auto items = queued();
        ASSERT_FALSE(items.empty());
        EXPECT_NE(items.back().body.find(time), std::string::npos) << items.back().body;
        settings().setActionQueue({});
    }
}

TEST_F(ShellTest, ClicksToggleThePanelAndARightClickSwapsItForTheMenu) {
    launch();
    store_->setInteger("preferredWindowHeightLights", 333);
    settings().setLights({HueLight{}});
    shell_->togglePopover(QtShell::Click::left);
    EXPECT_TRUE(shell_->isPanelShown());
    EXPECT_EQ(shell_->windowController()->preferredHeight(), 333);
    // The review check waits for the next turn.
    EXPECT_FALSE(store_->contains("appInvocations"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return store_->integer("appInvocations") == 1; }));

    shell_->togglePopover(QtShell::Click::right);
    EXPECT_TRUE(shell_->isMenuOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell_->isPanelShown(); }));
    // The menu opens once the panel has faded out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->contextMenu()->isVisible(); }));
    shell_->contextMenu()->hide();
    EXPECT_FALSE(shell_->isMenuOpen()) << "menuDidClose";
    shell_->togglePopover(QtShell::Click::left);
    EXPECT_TRUE(shell_->isPanelShown());
    shell_->togglePopover(QtShell::Click::left);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell_->isPanelShown(); }));
}

TEST_F(ShellTest, ThePanelShortcutTogglesThePanelAsALeftClickDoes) {
    const Shortcut panelKeys(40, 4096 | 2048);  // control-option-K
    const Shortcut offKeys(37, 4096 | 2048);    // control-option-L
    store_->setString("KeyboardShortcuts_togglePanel", panelKeys.json());
    store_->setString("KeyboardShortcuts_allLightsOff", offKeys.json());
    launch();
    EXPECT_EQ(hotkeys_->shortcuts().registeredShortcuts(),
              (std::set<Shortcut>{panelKeys, offKeys}));
    hotkeys_->shortcuts().handleOnKeyDown(panelKeys);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shell_->isPanelShown()) << "it opens on release, as the others act";
    hotkeys_->shortcuts().handleOnKeyUp(panelKeys);
    EXPECT_FALSE(shell_->isPanelShown()) << "on the next turn, not inside the key handler";
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell_->isPanelShown(); }));
    hotkeys_->shortcuts().handleOnKeyUp(offKeys);
    exec_->runPending();
    QCoreApplication::processEvents();
    EXPECT_TRUE(shell_->isPanelShown()) << "another shortcut leaves the panel alone";
    hotkeys_->shortcuts().handleOnKeyUp(panelKeys);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell_->isPanelShown(); }));
}

TEST_F(ShellTest, APanelSwitchResizesThePanelToTheNewListsHeight) {
    launch();
    store_->setInteger("preferredWindowHeightRooms", 410);
    settings().setGroups({HueGroup{}});
    settings().setLights({HueLight{}});
    shell_->togglePopover(QtShell::Click::left);
    ASSERT_TRUE(shell_->isPanelShown());
    const int before = shell_->windowController()->window()->height();
    settings().setActiveMainPanel(MainPanels::rooms);
    EXPECT_EQ(shell_->windowController()->window()->height(), before) << "once the switch is drawn";
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return shell_->windowController()->window()->height() == 410;
    })) << shell_->windowController()->window()->height();
}

TEST_F(ShellTest, TheReviewRequestShowsFromThe27thToThe41stOpening) {
    std::vector<int> shownAt;
    for (int opening = 1; opening <= 50; ++opening) {
        shell_->reviewCheck();
        if (settings().showReviewRequest()) shownAt.push_back(opening);
    }
    ASSERT_FALSE(shownAt.empty());
    EXPECT_EQ(shownAt.front(), 27);
    EXPECT_EQ(shownAt.back(), 41);
    EXPECT_EQ(shownAt.size(), 15u);
    EXPECT_EQ(store_->integer("appInvocations"), 50);

    // After acting on it, never again.
    store_->setInteger("appInvocations", 26);
    store_->setBool("noMoreReviewRequests", true);
    shell_->reviewCheck();
    EXPECT_FALSE(settings().showReviewRequest());
    EXPECT_EQ(store_->integer("appInvocations"), 27);
}

// The menu's Settings and the ordinary title bar's gear close the panel;
// the welcome title bar's button leaves it open.
TEST_F(ShellTest, SettingsOpenWithOrWithoutThePanelAndThePagesOpenTheirURLs) {
    launch();
    shell_->togglePopover(QtShell::Click::left);
    auto* view = shell_->windowController()->window()->findChild<ContentView*>();
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->welcomeSettingsButton()->isVisible()) << "no lights: the welcome";
    QTest::mouseClick(view->welcomeSettingsButton(), Qt::LeftButton);
    EXPECT_EQ(calls_, std::vector<std::string>{"settings"});
    EXPECT_TRUE(shell_->isPanelShown() && !shell_->windowController()->isFading());

    settings().setLights({HueLight{}});
    QCoreApplication::processEvents();
    QTest::mouseClick(view->settingsButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell_->isPanelShown(); }));
    shell_->togglePopover(QtShell::Click::left);
    action("Settings")->trigger();
    EXPECT_EQ(calls_, (std::vector<std::string>{"settings", "settings", "settings"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shell_->isPanelShown(); }));
    action("Help")->trigger();
    action("Provide Feedback")->trigger();
    EXPECT_EQ(urls_.opened,
              (QStringList{"file:///site/index.html", "file:///site/feedback/index.html"}));
}

TEST_F(ShellTest, SmallWindowsAreReplacedAndTheWelcomeOpensThePanel) {
    shell_->buildInterface();
    shell_->showDebugWindow();
    QPointer<QWidget> first = shell_->debugWindow();
    ASSERT_TRUE(first);
    shell_->showDebugWindow();
    EXPECT_NE(shell_->debugWindow(), first.data());
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); })) << "the old debug window is gone";
    // The size the translated layouts are checked at.
    EXPECT_EQ(shell_->debugWindow()->size(), QSize(320, 300));

    // The log shows live.
    auto* view = shell_->debugWindow()->findChild<DebugView*>();
    ASSERT_TRUE(view);
    settings().logger("a line for the log");
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->logText().contains("a line for the log"); }));

    shell_->showWelcomeWindow();
    QPointer<QWidget> welcome = shell_->welcomeWindow();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->size(), QSize(320, 500));
    EXPECT_FALSE(store_->contains("hasSeenWelcomeScreen"));
    shell_->welcomeDone();
    EXPECT_TRUE(shell_->isPanelShown());
    EXPECT_TRUE(store_->boolean("hasSeenWelcomeScreen"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return welcome.isNull(); }));
}

TEST(ImagePlayerTest, PlaysOnceHoldsTheLastFrame30TicksAndStartsAgain) {
    ImagePlayer player;
    for (int i = 0; i < 62; ++i) player.tick();
    EXPECT_EQ(player.imageIndex(), 62);
    int held = 0;
    while (player.imageIndex() == 62 && held < 100) {
        player.tick();
        ++held;
    }
    EXPECT_EQ(held, 30);
    EXPECT_EQ(player.imageIndex(), 0);
    EXPECT_EQ(player.frame(10).size(), QSize(320, 180) * player.devicePixelRatioF());
    EXPECT_NE(player.frame(0).toImage(), player.frame(62).toImage());

    player.show();
    EXPECT_TRUE(player.isTicking());
    player.hide();
    EXPECT_FALSE(player.isTicking());
}

TEST(QtExecutorTest, UIWorkIsQueuedInOrderAndInvalidatedTimersStop) {
    QtExecutor exec(1);
    std::vector<int> order;
    exec.postUI([&] { order.push_back(1); });
    exec.postUI([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty()) << "never inline";
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    int ticks = 0;
    auto timer = exec.scheduleRepeating(std::chrono::milliseconds(5), [&] { ++ticks; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }));
    invalidate(timer);
    EXPECT_TRUE(timer.expired());
    const int after = ticks;
    QTest::qWait(40);
    EXPECT_EQ(ticks, after);
    EXPECT_EQ(exec.timerCount(), 0u);

    // A timer may end itself from its own tick.
    std::weak_ptr<RepeatingTimer> self;
    int selfTicks = 0;
    self = exec.scheduleRepeating(std::chrono::milliseconds(5), [&] {
        ++selfTicks;
        invalidate(self);
    });
    QTest::qWait(40);
    EXPECT_EQ(selfTicks, 1);

    std::atomic<bool> ran{false};
    exec.postBG([&] { ran = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran.load(); }));
}

TEST(QtExecutorTest, GoneWhileAWorkerRunsItWaitsForItAndDropsItsUIWork) {
    const auto t = lumora::testing::destroyWhileAWorkerRuns(
        std::make_unique<QtExecutor>(1), [] { QCoreApplication::processEvents(); });
    EXPECT_TRUE(t.workerFinished);
    EXPECT_EQ(t.laterBackground, 1) << "queued work still runs before the pool closes";
    EXPECT_FALSE(t.uiRan) << "nothing runs on the loop for a gone executor";
}

TEST(QtExecutorTest, ALateTickPushesTheNextOneBackInsteadOfCatchingUp) {
    // As in the loop dispatcher: the queue timer paces commands, so two ticks
    // never come closer than the period, also after the UI thread was held up.
    QtExecutor exec(1);
    std::vector<std::chrono::steady_clock::time_point> ticks;
    auto timer = exec.scheduleRepeating(std::chrono::milliseconds(100), [&] {
        ticks.push_back(std::chrono::steady_clock::now());
        if (ticks.size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks.size() >= 4; }, 5000));
    invalidate(timer);
    // Catching up would bring the third tick 50 ms after the second.
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i] - ticks[i - 1], std::chrono::milliseconds(90)) << "tick " << i;
}

TEST(RunScriptTest, RunsThroughTheShellWithArgumentsAndEnvironment) {
    QTemporaryDir temp;
    const std::filesystem::path dir = temp.path().toStdString();
    {
        std::ofstream s(dir / "echo_back");
        s << "printf '%s|%s|%s\\n' \"$1\" \"$2\" \"$LUMORA_TEST_VALUE\"\n";
        std::ofstream bad(dir / "bad_bytes");
        bad << "printf 'ok\\377\\376 done'\n";
    }
    EXPECT_EQ(runScript(dir, "echo_back", {"one", "two words"}, {"LUMORA_TEST_VALUE=x y"}),
              "one|two words|x y\n");
    EXPECT_EQ(runScript(dir, "bad_bytes"), "ok\xEF\xBF\xBD\xEF\xBF\xBD done");
    EXPECT_EQ(runScript(dir, "no_such_script"), "");
    EXPECT_EQ(runScript(dir, "../" + dir.filename().string() + "/missing"), "");
}

TEST(RunScriptTest, TheReportScriptWritesWhatItIsGiven) {
    QTemporaryDir temp;
    const std::filesystem::path cache = temp.path().toStdString();
    const auto log = cache / "log.txt";
    std::ofstream(log) << "Connecting to Bridge... [<user>]\n";
    const std::string path =
        runScript(LUMORA_SOURCE_RESOURCES, "send_debug", {},
                  {"XDG_CACHE_HOME=" + cache.string(), "LUMORA_VERSION=9.9",
                   "LUMORA_BRIDGE_ADDRESS=127.0.0.1:80", "LUMORA_BRIDGE_MODEL=BSB002",
                   "LUMORA_LOG_FILE=" + log.string()});
    ASSERT_FALSE(path.empty());
    const std::string file = path.substr(0, path.find('\n'));
    EXPECT_EQ(std::filesystem::path(file).parent_path(), cache / "lumora");
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("9.9"), std::string::npos);
    EXPECT_NE(text.find("BSB002"), std::string::npos);
    EXPECT_NE(text.find("127.0.0.1:80"), std::string::npos);
    EXPECT_NE(text.find("Connecting to Bridge... [<user>]"), std::string::npos);
}

}  // namespace
}  // namespace lumora::panel

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(lumora);)

#include "shell_test.moc"
