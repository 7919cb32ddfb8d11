// The tray program's Qt layer under the offscreen platform: placement, the
// panel window's life, the context menu, the small windows, the executor and
// the script runner.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/app_delegate.h"
#include "app/linux/run_script.h"
#include "app/qt/qt_executor.h"
#include "panel/panel_placement.h"
#include "panel/panel_window.h"
#include "panel/qt_shell.h"
#include "preferences/debug_view.h"
#include "preferences/image_player.h"
#include "preferences/welcome_view.h"
#include "support/dispatcher_teardown.h"
#include "support/manual_executor.h"
#include "support/qt_test_main.h"

namespace lumora::panel {
namespace {

// Runs the Qt loop until `done` or the limit; true when done.
bool spinUntil(const std::function<bool()>& done, int limitMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

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

class FakeMonitor : public ClickMonitor {
  public:
    explicit FakeMonitor(bool works, std::function<void()>* hook) : works_(works), hook_(hook) {}
    bool start(std::function<void()> onOutsideClick) override {
        if (works_) *hook_ = std::move(onOutsideClick);
        return works_;
    }
    void stop() override { *hook_ = nullptr; }

  private:
    bool works_;
    std::function<void()>* hook_;
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
            return std::make_unique<FakeMonitor>(monitorWorks, &outsideClick_);
        };
        env.fadeMilliseconds = 30;
        auto* content = new QWidget;
        content->setFixedWidth(200);
        return std::make_unique<StatusBarMenuWindowController>(content, store_, std::move(env));
    }
    InMemoryDefaultsStore store_;
    std::function<void()> outsideClick_;
};

TEST_F(WindowControllerTest, ShowsUnderTheIconFadesOutAndClosesOnAnOutsideClick) {
    auto c = make();
    c->setPreferredHeight(300);
    c->showWindow();
    EXPECT_TRUE(c->isShown());
    EXPECT_TRUE(c->window()->isVisible());
    spinUntil([&] { return c->window()->geometry() == QRect(512, 29, 200, 300); });
    EXPECT_EQ(c->window()->geometry(), QRect(512, 29, 200, 300));

    // A later reposition lands on the next turn, not at once.
    c->repositionWindow(400);
    EXPECT_EQ(c->window()->height(), 300);
    spinUntil([&] { return c->window()->height() == 400; });
    EXPECT_EQ(c->window()->height(), 400);

    bool willClose = false;
    c->windowWillClose = [&] { willClose = true; };
    ASSERT_TRUE(outsideClick_);
    outsideClick_();
    EXPECT_TRUE(c->isShown()) << "shown until the fade-out ends";
    EXPECT_TRUE(c->isFading());
    ASSERT_TRUE(spinUntil([&] { return !c->isShown(); }));
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

TEST_F(WindowControllerTest, WithoutAMonitorLosingFocusCloses) {
    auto c = make(/*monitorWorks=*/false);
    c->showWindow();
    emit c->window()->activationChanged(false);
    EXPECT_TRUE(spinUntil([&] { return !c->isShown(); }));
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

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_->setString("bridgeIP", "10.0.0.2");
        store_->setString("bridgeUser", "key");
        delegate_ = std::make_unique<AppDelegate>(servicesWith(exec_, store_));
        QtShell::Options options;
        options.monitorClicks = false;
        options.watchSleep = false;
        options.fadeMilliseconds = 10;
        options.makeWelcomeView = [](auto done) { return new WelcomeView(std::move(done)); };
        options.makeDebugView = [](AppSettings& s, auto send, auto close) {
            return new DebugView(s, std::move(send), std::move(close));
        };
        shell_ = std::make_unique<QtShell>(*delegate_, options);
        delegate_->setShell(shell_.get());
        delegate_->settings().loadFromStore();
        shell_->buildInterface();
    }
    void TearDown() override {
        exec_->runPending();
        shell_.reset();
        delegate_.reset();
    }
    QAction* action(const QString& title) {
        for (QAction* a : shell_->contextMenu()->actions()) {
            if (a->text() == title) return a;
        }
        return nullptr;
    }
    std::vector<ActionQueueItem> queued() {
        exec_->runPending();
        return delegate_->settings().actionQueue();
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::unique_ptr<AppDelegate> delegate_;
    std::unique_ptr<QtShell> shell_;
};

TEST_F(ShellTest, TheContextMenuHasItsTitlesAndKeysInOrder) {
    QStringList titles;
    for (QAction* a : shell_->contextMenu()->actions()) {
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
    action("Darkness!")->trigger();
    EXPECT_TRUE(queued().empty());

    std::vector<HueLight> lights(2);
    for (size_t i = 0; i < lights.size(); ++i) {
        lights[i].lamp_id = std::to_string(i + 1);
        lights[i].hue_ip = "10.0.0.2";
        lights[i].hue_key = "key";
    }
    delegate_->settings().setLights(lights);
    action("Darkness!")->trigger();
    const auto items = queued();
    ASSERT_EQ(items.size(), 2u);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_NE(items[i].url.find("/lights/" + std::to_string(i + 1) + "/state"),
                  std::string::npos);
        EXPECT_NE(items[i].body.find("\"on\":false"), std::string::npos) << items[i].body;
    }
}

TEST_F(ShellTest, TheDelayedOffTitlesSchedule5_30And60Minutes) {
    for (auto [title, time] : {std::pair{"Off in 5 minutes", "PT00:05:00"},
                               {"Off in 30 minutes", "PT00:30:00"},
                               {"Off in 60 minutes", "PT01:00:00"}}) {
        SCOPED_TRACE(title);
        action(title)->trigger();
        const auto items = queued();
        ASSERT_FALSE(items.empty());
        EXPECT_NE(items.back().body.find(time), std::string::npos) << items.back().body;
        delegate_->settings().setActionQueue({});
    }
}

TEST_F(ShellTest, ARightClickClosesThePanelAndTheNextLeftClickOpensIt) {
    delegate_->togglePopover(AppDelegate::Click::left);
    EXPECT_TRUE(shell_->isPanelShown());
    delegate_->togglePopover(AppDelegate::Click::right);
    EXPECT_TRUE(shell_->isMenuOpen());
    ASSERT_TRUE(spinUntil([&] { return !shell_->isPanelShown(); }));
    // The menu opens once the panel has faded out.
    ASSERT_TRUE(spinUntil([&] { return shell_->contextMenu()->isVisible(); }));
    shell_->contextMenu()->hide();
    EXPECT_FALSE(shell_->isMenuOpen()) << "menuDidClose";
    delegate_->togglePopover(AppDelegate::Click::left);
    EXPECT_TRUE(shell_->isPanelShown());
}

TEST_F(ShellTest, SmallWindowsAreReplacedAndTheWelcomeOpensThePanel) {
    shell_->showDebugWindow();
    QPointer<QWidget> first = shell_->debugWindow();
    ASSERT_TRUE(first);
    shell_->showDebugWindow();
    EXPECT_NE(shell_->debugWindow(), first.data());
    spinUntil([&] { return first.isNull(); });
    EXPECT_TRUE(first.isNull()) << "the old debug window is gone";
    // The size the translated layouts are checked at.
    EXPECT_EQ(shell_->debugWindow()->size(), QSize(320, 300));

    // The log shows live.
    auto* view = shell_->debugWindow()->findChild<DebugView*>();
    ASSERT_TRUE(view);
    delegate_->settings().logger("a line for the log");
    spinUntil([&] { return view->logText().contains("a line for the log"); });
    EXPECT_TRUE(view->logText().contains("a line for the log"));

    shell_->showWelcomeWindow();
    QPointer<QWidget> welcome = shell_->welcomeWindow();
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->size(), QSize(320, 500));
    EXPECT_FALSE(store_->contains("hasSeenWelcomeScreen"));
    shell_->welcomeDone();
    EXPECT_TRUE(shell_->isPanelShown());
    EXPECT_TRUE(store_->boolean("hasSeenWelcomeScreen"));
    spinUntil([&] { return welcome.isNull(); });
    EXPECT_TRUE(welcome.isNull());
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
    spinUntil([&] { return order.size() == 2; });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    int ticks = 0;
    auto timer = exec.scheduleRepeating(std::chrono::milliseconds(5), [&] { ++ticks; });
    spinUntil([&] { return ticks >= 3; });
    EXPECT_GE(ticks, 3);
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
    spinUntil([&] { return ran.load(); });
    EXPECT_TRUE(ran);
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
    EXPECT_TRUE(spinUntil([&] { return ticks.size() >= 4; }, 5000));
    invalidate(timer);
    // Catching up would bring the third tick 50 ms after the second.
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i] - ticks[i - 1], std::chrono::milliseconds(90)) << "tick " << i;
}

TEST(RunScriptTest, RunsThroughTheShellWithArgumentsAndEnvironment) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("lumora-run-script-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
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
    std::filesystem::remove_all(dir);
}

TEST(RunScriptTest, TheDebugReportNeverHoldsTheUserName) {
    const auto cache =
        std::filesystem::temp_directory_path() / ("lumora-report-" + std::to_string(getpid()));
    std::filesystem::create_directories(cache);
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
    std::filesystem::remove_all(cache);
}

}  // namespace
}  // namespace lumora::panel

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(lumora);)
