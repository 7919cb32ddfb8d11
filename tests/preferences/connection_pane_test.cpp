// The connection pane under the offscreen platform, on virtual time: clicks
// go through QTest, the 0.5 s delay and the link animation run on the manual
// executor's clock, and the assertions are on AppSettings, the defaults store
// and the calls the pane makes.

#include "preferences/connection_pane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/bridge_controller.h"
#include "app/qt/qt_executor.h"
#include "preferences/settings_panes.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"
#include "support/qt_test_main.h"

namespace lumora::prefs {
namespace {

using namespace std::chrono_literals;

class ConnectionPaneTest : public ::testing::Test {
  protected:
    void SetUp() override { settings_.setHueIP("10.0.0.2"); }
    void TearDown() override {
        view_.reset();
        exec_->runPending();
    }

    // The pane as the window shows it, with every call it makes recorded.
    ConnectionView* show() {
        ConnectionActions a;
        a.detect = [this] {
            ++detects_;
            return detect_ ? detect_() : std::string();
        };
        a.connectToBridge = [this] {
            calls_.push_back("connect ip=" + settings_.hueIP() + " key=" + settings_.hueKey());
        };
        a.disconnectBridge = [this] { calls_.push_back("disconnect"); };
        a.trustCertificate = [this](const std::string& fingerprint) {
            calls_.push_back("trust " + fingerprint);
        };
        a.sendDebug = [this] { calls_.push_back("sendDebug"); };
        a.showDebugWindow = [this] { calls_.push_back("showDebugWindow"); };
        a.version = "1.4.2";
        view_ = std::make_unique<ConnectionView>(settings_, std::move(a));
        view_->resize(480, 560);
        view_->show();
        QCoreApplication::processEvents();
        return view_.get();
    }
    ConfigurationPart* part() { return view_->configuration(); }
    static void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void chooseManual() {
        click(part()->manualChoice());
        ASSERT_EQ(part()->connectionType(), 1);
    }
    // Replaces the field's text the way a user does: select all, type.
    void type(const QString& text) {
        QLineEdit* f = part()->addressField();
        f->setFocus();
        f->selectAll();
        if (text.isEmpty())
            QTest::keyClick(f, Qt::Key_Backspace);
        else
            QTest::keyClicks(f, text);
    }
    std::optional<std::string> storedUser() { return store_->string("bridgeUser"); }
    // The parts that come and go, as far as they are on screen now.
    std::string onScreen() {
        const std::pair<const char*, QWidget*> parts[] = {
            {"title", part()->title()},        {"error", part()->errorBar()},
            {"form", part()->form()},          {"detect", part()->detectButton()},
            {"field", part()->addressField()}, {"connect", part()->formConnectButton()},
            {"linkHint", part()->linkHint()},  {"connectedHint", part()->connectedHint()},
            {"debug", view_->debugLink()},
        };
        std::string out;
        for (auto [name, w] : parts)
            if (w->isVisible()) out += (out.empty() ? "" : " ") + std::string(name);
        return out;
    }

    // Before the settings, which read its clock when built.
    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    AppSettings settings_{store_, *exec_};
    std::unique_ptr<ConnectionView> view_;
    std::function<std::string()> detect_;
    int detects_ = 0;
    std::vector<std::string> calls_;
};

TEST_F(ConnectionPaneTest, ManualShowsTheFieldAndConnectAndEveryNewPaneStartsAtAutomatic) {
    const std::string automatic = "title form detect linkHint debug";
    show();
    EXPECT_TRUE(part()->automaticChoice()->isChecked());
    EXPECT_EQ(onScreen(), automatic);

    chooseManual();
    EXPECT_EQ(onScreen(), "title form field connect linkHint debug");
    EXPECT_EQ(part()->addressField()->text(), "10.0.0.2");

    click(part()->automaticChoice());
    EXPECT_EQ(onScreen(), automatic);

    // The window rebuilds the pane each time: the choice is not remembered.
    chooseManual();
    show();
    EXPECT_EQ(part()->connectionType(), 0);
    EXPECT_TRUE(part()->automaticChoice()->isChecked());
    EXPECT_EQ(onScreen(), automatic);
}

TEST_F(ConnectionPaneTest, OnlyARefusalThePersonMayOverruleOffersTrustAndTheLinkIsNamed) {
    show();
    const std::string fingerprint =
        "3F:A1:09:7C:5B:E2:44:D0:18:9E:C3:6A:71:F0:2B:8D:55:C9:0E:A7:62:1D:B4:93:E8:07:4F:3C:A2:"
        "D6:19:8B";
    TlsRefusal refusal;
    refusal.fingerprint = fingerprint;
    for (auto [reason, offered] : {std::pair{TlsFailure::untrustedIssuer, true},
                                   {TlsFailure::fingerprintMismatch, true},
                                   {TlsFailure::wrongBridge, false},
                                   {TlsFailure::expired, false}}) {
        SCOPED_TRACE(int(reason));
        refusal.reason = reason;
        settings_.setConnectionError(
            {ConnectionProblem::certificateRefused, "10.0.0.2", refusal, {}});
        QCoreApplication::processEvents();
        EXPECT_TRUE(part()->errorBar()->isVisible());
        EXPECT_EQ(part()->trustOffer()->isVisible(), offered);
        if (offered) {
            EXPECT_EQ(part()->trustFingerprint()->text().toStdString(), fingerprint);
            click(part()->trustButton());
        }
    }
    EXPECT_EQ(calls_, (std::vector<std::string>{"trust " + fingerprint, "trust " + fingerprint}));
    settings_.setConnectionError({});
    QCoreApplication::processEvents();
    EXPECT_FALSE(part()->trustOffer()->isVisible());

    // Connected: secure with the id, or plain for a first generation.
    settings_.setBridgeConnected(true);
    settings_.setBridgeLink({BridgeLink::Kind::secure, "c42996fffec4e2d8", false});
    QCoreApplication::processEvents();
    EXPECT_TRUE(part()->securityLine()->text().contains("c42996fffec4e2d8"));
    EXPECT_TRUE(part()->securityLine()->text().contains("HTTPS"));
    settings_.setBridgeLink({BridgeLink::Kind::plain, "", false});
    QCoreApplication::processEvents();
    EXPECT_TRUE(part()->securityLine()->text().startsWith("Plain HTTP"));
    settings_.setBridgeConnected(false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(part()->securityLine()->isVisible());
}

TEST_F(ConnectionPaneTest, TheErrorBarReplacesTheTitleAndOneTypedCharacterClearsIt) {
    show();
    EXPECT_EQ(part()->title()->text(), "Connect to Hue Bridge");

    settings_.setConnectionError({ConnectionProblem::pressLinkButton, {}});
    EXPECT_EQ(onScreen(), "error form detect linkHint debug");
    EXPECT_EQ(part()->errorBar()->text(), "Bridge responded: Press LINK BUTTON and retry");

    chooseManual();
    QLineEdit* f = part()->addressField();
    f->setFocus();
    f->end(false);
    QTest::keyClick(f, Qt::Key_5);
    EXPECT_TRUE(settings_.connectionError().empty());
    EXPECT_EQ(settings_.hueIP(), "10.0.0.25");
    EXPECT_EQ(onScreen(), "title form field connect linkHint debug");

    // An address set elsewhere (start-up detection) shows in the field and
    // is not taken for an edit.
    settings_.setConnectionError({ConnectionProblem::noUserName, {}});
    settings_.setHueIP("10.0.0.77");
    EXPECT_EQ(f->text(), "10.0.0.77");
    EXPECT_EQ(settings_.connectionError().problem, ConnectionProblem::noUserName);
}

TEST_F(ConnectionPaneTest, DetectWithNothingFoundKeepsTheAddressAndRunsOnlyOnce) {
    show();
    QPushButton* detect = part()->detectButton();
    bool busyWhileRunning = false;
    detect_ = [&] {
        // Mid-search: the button shows it and a click does nothing.
        busyWhileRunning = !detect->isEnabled() && detect->text() != "Detect";
        click(detect);
        return std::string();
    };
    settings_.setConnectionError({ConnectionProblem::noUserName, {}});
    click(detect);
    EXPECT_TRUE(settings_.connectionError().empty()) << "cleared at once";
    EXPECT_FALSE(detect->isEnabled());
    click(detect);

    exec_->advance(499ms);
    EXPECT_EQ(detects_, 0) << "half a second passes first";
    exec_->advance(1ms);
    EXPECT_EQ(detects_, 1);
    EXPECT_TRUE(busyWhileRunning);
    EXPECT_EQ(settings_.connectionError().problem, ConnectionProblem::unreachable);
    EXPECT_EQ(part()->errorBar()->text(),
              "Unable to connect to the Hue bridge. Is the IP address correct?");
    EXPECT_TRUE(part()->errorBar()->isVisible());
    EXPECT_EQ(settings_.hueIP(), "10.0.0.2");
    EXPECT_TRUE(calls_.empty());
    EXPECT_TRUE(detect->isEnabled());
    EXPECT_EQ(detect->text(), "Detect");

    // Another go is possible once the first is over.
    click(detect);
    exec_->advance(1s);
    EXPECT_EQ(detects_, 2);
}

TEST_F(ConnectionPaneTest, ConnectErasesTheStoredUserAndPairsAfresh) {
    store_->setString("bridgeUser", "olduser");
    settings_.setHueKey("olduser");
    settings_.setConnectionError({ConnectionProblem::unreachable, {}});
    show();
    chooseManual();
    click(part()->formConnectButton());
    EXPECT_TRUE(settings_.connectionError().empty());
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(storedUser(), "olduser") << "nothing changes during the delay";
    exec_->advance(500ms);
    EXPECT_EQ(storedUser(), "");
    EXPECT_EQ(settings_.hueKey(), "");
    EXPECT_EQ(calls_, std::vector<std::string>{"connect ip=10.0.0.2 key="});

    // The status row's Connect does the same at once, without the delay.
    settings_.setHueKey("newuser");
    store_->setString("bridgeUser", "newuser");
    settings_.setConnectionError({ConnectionProblem::noUserName, {}});
    EXPECT_EQ(part()->statusButton()->text(), "Connect");
    click(part()->statusButton());
    EXPECT_EQ(storedUser(), "");
    EXPECT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_.back(), "connect ip=10.0.0.2 key=");
    EXPECT_EQ(settings_.connectionError().problem, ConnectionProblem::noUserName)
        << "the core decides about the message";

    // Two quick clicks of the form's Connect pair once.
    click(part()->formConnectButton());
    exec_->advance(300ms);
    click(part()->formConnectButton());
    exec_->advance(300ms);
    EXPECT_EQ(calls_.size(), 2u);
    exec_->advance(200ms);
    EXPECT_EQ(calls_.size(), 3u);
}

TEST_F(ConnectionPaneTest, ATypedAddressThatIsNoAddressShowsWhyAndSendsNothing) {
    store_->setString("bridgeUser", "olduser");
    settings_.setHueKey("olduser");
    show();
    chooseManual();
    const struct {
        QString typed;
        std::string shows;
    } bad[] = {
        {"192.168. 1.20", "\"192.168. 1.20\" is not a bridge address"},
        {"http://192.168.1.20/api", "\"http://192.168.1.20/api\" is not a bridge address"},
        {"bridge.local/api/config", "is not a bridge address"},
        {"https://192.168.1.20/api", "is not a bridge address"},
        {"", "No bridge address yet"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.typed.toStdString());
        type(c.typed);
        click(part()->formConnectButton());
        exec_->advance(500ms);
        const std::string shown = part()->errorBar()->text().toStdString();
        EXPECT_NE(shown.find(c.shows), std::string::npos) << shown;
        EXPECT_TRUE(part()->errorBar()->isVisible());
        EXPECT_TRUE(calls_.empty());
        EXPECT_EQ(storedUser(), "olduser");
        EXPECT_EQ(settings_.hueKey(), "olduser");
    }

    // White space around a good address, and the scheme a browser adds, go;
    // what is kept is the bare address.
    const struct {
        QString typed;
        std::string kept;
    } good[] = {
        {"  192.168.1.20 \t", "192.168.1.20"},
        {"http://10.0.0.7:8080/", "10.0.0.7:8080"},
        {"192.168.1.21/", "192.168.1.21"},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.typed.toStdString());
        calls_.clear();
        type(c.typed);
        click(part()->formConnectButton());
        exec_->advance(500ms);
        EXPECT_TRUE(settings_.connectionError().empty());
        EXPECT_EQ(settings_.hueIP(), c.kept);
        EXPECT_EQ(part()->addressField()->text().toStdString(), c.kept);
        EXPECT_EQ(calls_, std::vector<std::string>{"connect ip=" + c.kept + " key="});
    }
}

TEST_F(ConnectionPaneTest, ConnectedShowsOnlyTheStatusAndDisconnect) {
    show();
    LinkExplainer* explainer = part()->linkExplainer();
    EXPECT_EQ(part()->statusLabel()->text(), "DISCONNECTED");
    EXPECT_TRUE(explainer->isTicking());
    const QColor red = part()->statusLabel()->palette().color(QPalette::WindowText);
    EXPECT_GT(red.red(), 150);
    EXPECT_LT(red.green(), 100);

    settings_.setBridgeConnected(true);
    EXPECT_EQ(part()->statusLabel()->text(), "CONNECTED");
    EXPECT_TRUE(part()->statusLabel()->font().bold());
    const QColor green = part()->statusLabel()->palette().color(QPalette::WindowText);
    EXPECT_GT(green.green(), 120);
    EXPECT_LT(green.red(), 100);
    EXPECT_EQ(onScreen(), "title connectedHint");
    EXPECT_FALSE(explainer->isTicking()) << "no animation timer while it is not shown";
    EXPECT_EQ(part()->statusButton()->text(), "Disconnect");
    click(part()->statusButton());
    EXPECT_EQ(calls_, std::vector<std::string>{"disconnect"});

    settings_.setBridgeConnected(false);
    EXPECT_EQ(onScreen(), "title form detect linkHint debug");
    EXPECT_TRUE(explainer->isTicking());
    EXPECT_EQ(part()->statusButton()->text(), "Connect");
}

TEST_F(ConnectionPaneTest, TheLinkAnimationAlternatesEverySecondAndStopsWithThePane) {
    show();
    LinkExplainer* explainer = part()->linkExplainer();
    EXPECT_EQ(explainer->imageIndex(), 0);
    exec_->advance(999ms);
    EXPECT_EQ(explainer->imageIndex(), 0);
    exec_->advance(1ms);
    EXPECT_EQ(explainer->imageIndex(), 1);
    exec_->advance(1s);
    EXPECT_EQ(explainer->imageIndex(), 0);
    exec_->advance(3s);
    EXPECT_EQ(explainer->imageIndex(), 1);
    EXPECT_EQ(exec_->liveTimers(), 1u);

    view_->hide();
    EXPECT_EQ(exec_->liveTimers(), 0u);
    view_->show();
    EXPECT_EQ(exec_->liveTimers(), 1u) << "one timer, not one per showing";
    view_.reset();
    EXPECT_EQ(exec_->liveTimers(), 0u);

    // Both frames are there to show.
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(QImage(LinkExplainer::imageName(i)).isNull()) << i;
}

TEST_F(ConnectionPaneTest, TheDebugLinkSendsOnEveryClickAndTheVersionOpensTheDebugWindow) {
    show();
    LinkLabel* link = view_->debugLink();
    EXPECT_EQ(link->text(), "Connection troube? Click to send debug data!");
    click(link);
    EXPECT_EQ(link->text(), "Thank you!");
    click(link);
    EXPECT_EQ(link->text(), "Thank you!");
    EXPECT_EQ(calls_, (std::vector<std::string>{"sendDebug", "sendDebug"}));

    EXPECT_EQ(view_->versionLine()->text(), "Version 1.4.2");
    click(view_->versionLine());
    EXPECT_EQ(calls_.back(), "showDebugWindow");

    // Rebuilt, the pane has not sent anything yet.
    show();
    EXPECT_EQ(view_->debugLink()->text(), "Connection troube? Click to send debug data!");
}

TEST_F(ConnectionPaneTest, APaneClosedMidwayDropsWhatComesBack) {
    // Closed during the half-second wait: the search never starts.
    show();
    click(part()->detectButton());
    view_.reset();
    exec_->advance(1s);
    EXPECT_EQ(detects_, 0);

    // Closed while the search runs: what it finds changes nothing.
    show();
    detect_ = [this] {
        view_.reset();
        return std::string("192.168.1.30");
    };
    click(part()->detectButton());
    exec_->advance(1s);
    EXPECT_EQ(detects_, 1);
    EXPECT_EQ(settings_.hueIP(), "10.0.0.2");
    EXPECT_TRUE(calls_.empty());
}

// A store whose file is in trouble until told otherwise.
class TroubledStore : public InMemoryDefaultsStore {
  public:
    std::optional<StoreProblem> trouble;
    std::optional<StoreProblem> problem() const override { return trouble; }
};

TEST(ConnectionPaneSettings, ShowsWhatKeepsTheSettingsAndAUserNameToCopy) {
    ManualExecutor exec;
    auto store = std::make_shared<TroubledStore>();
    store->trouble = StoreProblem{StoreProblem::Kind::Unreadable,
                                  "/home/u/.config/lumora/defaults.json", "permission denied"};
    AppSettings settings(store, exec);
    settings.loadFromStore();
    ConnectionView view(settings, {});
    view.show();
    EXPECT_TRUE(view.settingsNotice()->isVisible());
    EXPECT_EQ(view.settingsNotice()->text(),
              "Settings cannot be read: /home/u/.config/lumora/defaults.json (permission denied). "
              "Lumora is using defaults and saves nothing until the file can be read.");
    EXPECT_FALSE(view.unsavedUserRow()->isVisible());

    // Pairing worked, storing did not: the name is there to copy, not to edit.
    store->trouble =
        StoreProblem{StoreProblem::Kind::WriteFailed, "/home/u/.config/lumora/defaults.json",
                     "no space left on device"};
    settings.noteStoreProblem();
    settings.setUnsavedUserName("hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj");
    EXPECT_EQ(view.settingsNotice()->text(),
              "Settings could not be saved to /home/u/.config/lumora/defaults.json: no space left "
              "on device.");
    ASSERT_TRUE(view.unsavedUserRow()->isVisible());
    EXPECT_EQ(view.unsavedUserField()->text(), "hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj");
    EXPECT_TRUE(view.unsavedUserField()->isReadOnly());

    // Mended: both go.
    store->trouble.reset();
    settings.noteStoreProblem();
    settings.setUnsavedUserName("");
    EXPECT_FALSE(view.settingsNotice()->isVisible());
    EXPECT_FALSE(view.unsavedUserRow()->isVisible());
}

// The program's own dispatcher, in real time: the delay and the animation on
// QTimers, the search on a worker so it never blocks the user-interface
// thread, and what it found in place, trimmed, when the pane connects there.
TEST(ConnectionPaneQtLoop, TheDelayAndTheAnimationRunOnTheEventLoopAndTheSearchOnAWorker) {
    QtExecutor dispatcher(2);
    {
        AppSettings s(std::make_shared<InMemoryDefaultsStore>(), dispatcher);
        const auto ui = std::this_thread::get_id();
        std::atomic<bool> onWorker{false};
        std::vector<std::string> connects;
        ConnectionActions a;
        a.detect = [&] {
            onWorker = std::this_thread::get_id() != ui;
            return std::string("192.168.1.50\n");
        };
        a.connectToBridge = [&] {
            connects.push_back(s.hueIP() + (std::this_thread::get_id() == ui ? " on ui" : ""));
        };
        ConnectionView view(s, a);
        view.show();
        LinkExplainer* explainer = view.configuration()->linkExplainer();
        const std::size_t timers = dispatcher.timerCount();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(view.configuration()->detectButton(), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !connects.empty(); }, 3000));
        EXPECT_GE(clock.elapsed(), 450);
        EXPECT_TRUE(onWorker);
        // The one-shot delay fired once and let its repeating timer go.
        EXPECT_EQ(dispatcher.timerCount(), timers);
        EXPECT_EQ(connects, std::vector<std::string>{"192.168.1.50 on ui"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return explainer->imageIndex() == 1; }, 2000));
        view.hide();
        EXPECT_FALSE(explainer->isTicking());
    }
}

// The real application core against the simulator on loopback: the pane's
// buttons pair with a bridge for real.
TEST(ConnectionPaneWithBridge, ConnectBeforeTheLinkButtonFailsAndAfterItConnects) {
    auto exec = std::make_shared<ManualExecutor>();
    sim::SimServer server;
    ASSERT_TRUE(server.start());
    auto store = std::make_shared<InMemoryDefaultsStore>();
    store->setString("bridgeUser", "stale-user");
    {
        BridgeController controller(servicesWith(exec, store));
        AppSettings& s = controller.settings();
        s.loadFromStore();
        // The program's own wiring of the pane to the controller.
        ConnectionView view(s, connectionActions(controller, [] {}));
        view.resize(480, 560);
        view.show();
        ConfigurationPart* part = view.configuration();

        QTest::mouseClick(part->manualChoice(), Qt::LeftButton);
        part->addressField()->setFocus();
        QTest::keyClicks(part->addressField(),
                         QString::fromStdString(" " + server.address() + " "));
        QTest::mouseClick(part->formConnectButton(), Qt::LeftButton);
        exec->advance(500ms);
        EXPECT_EQ(part->errorBar()->text(), "Bridge responded: Press LINK BUTTON and retry");
        EXPECT_EQ(part->statusLabel()->text(), "DISCONNECTED");
        EXPECT_EQ(s.hueIP(), server.address());
        EXPECT_EQ(store->string("bridgeUser"), "");

        server.pressLinkButton();
        QTest::mouseClick(part->formConnectButton(), Qt::LeftButton);
        exec->advance(500ms);
        EXPECT_EQ(part->statusLabel()->text(), "CONNECTED");
        EXPECT_EQ(s.hueKey().size(), 40u);
        EXPECT_FALSE(part->errorBar()->isVisible()) << "the bridge's refusal is over";

        QTest::mouseClick(part->statusButton(), Qt::LeftButton);
        exec->runPending();
        EXPECT_EQ(part->statusLabel()->text(), "DISCONNECTED");
        EXPECT_EQ(s.hueKey(), "");
        exec->runPending();
    }
}

}  // namespace
}  // namespace lumora::prefs

LUMORA_QT_TEST_MAIN()
