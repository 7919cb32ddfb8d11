// The portal shortcut service against a stand-in portal on a private bus, its
// actions reaching the simulated bridge through the controller's queue.

#include "shortcuts/portal/portal_shortcuts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QTest>
#include <chrono>
#include <nlohmann/json.hpp>
#include <set>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "app/qt/qt_executor.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"
#include "simulator/sim_server.h"
#include "support/desktop_session.h"
#include "support/qt_test_main.h"

namespace lumora {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Name = KeyboardShortcuts::Name;

json after(const std::string& line, const std::string& word) {
    return json::parse(line.substr(word.size() + 1));
}

class PortalShortcutsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LUMORA_REQUIRE_DESKTOP(session_);
        bus_ = QDBusConnection::connectToBus(QString::fromStdString(session_.sessionBusAddress()),
                                             QStringLiteral("portal-test"));
        ASSERT_TRUE(bus_.isConnected());

        ASSERT_TRUE(server_.start());
        auto& s = controller_.settings();
        s.setHueIP(server_.address());
        s.setHueKey(sim::kDemoUser);
        auto groups = fetchGroupsNow(httpSend, {server_.address(), sim::kDemoUser});
        ASSERT_TRUE(std::holds_alternative<std::vector<HueGroup>>(groups));
        s.setGroups(std::get<std::vector<HueGroup>>(groups));
        ASSERT_GE(s.groups().size(), 2u);
        server_.clearLog();
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("portal-test")); }

    // The stand-in portal on the private bus, answering with `version`; a
    // skip where its Python modules are missing.
    void startPortal(const std::string& version) {
        portal_ = session_.spawn("portal", {"/usr/bin/python3", LUMORA_FAKE_PORTAL, "--address",
                                            session_.sessionBusAddress(), "--version", version});
        ASSERT_TRUE(portal_);
        if (!portal_->waitLine("READY", 10s)) {
            if (portal_->waitExit(2s) == 77) GTEST_SKIP() << portal_->stderrText();
            FAIL() << "the stand-in portal did not come up: " << portal_->stderrText();
        }
    }

    std::optional<json> take(const std::string& word) {
        auto line = portal_->waitLine(word + " ", 5s);
        if (!line) return std::nullopt;
        return after(*line, word);
    }

    testing::DesktopSession session_{{.sessionBus = true}};
    testing::ChildProcess* portal_ = nullptr;
    QDBusConnection bus_{QStringLiteral("none")};
    sim::SimServer server_;
    std::shared_ptr<QtExecutor> dispatcher_ = std::make_shared<QtExecutor>();
    Services services_ = servicesWith(dispatcher_, std::make_shared<InMemoryDefaultsStore>());
    BridgeController controller_{services_};
    HotkeyActions hotkeys_{controller_, services_};
};

TEST_F(PortalShortcutsTest, BindsTheThirteenActionsAndRunsTheirHandlersOnActivation) {
    KeyboardShortcuts& shortcuts = hotkeys_.shortcuts();
    shortcuts.setShortcut(Shortcut(Key::k, Modifier::control | Modifier::option),
                          Name::actionAllLightsOff);
    shortcuts.setShortcut(Shortcut(Key::f5, Modifier::shift | Modifier::command),
                          Name::actionAllLightsBrighter);
    hotkeys_.registerKeyboardHotkeys();

    const QString id = QStringLiteral("io.github.lumora.Lumora");
    // No portal on the bus: the X11 grabs it is.
    EXPECT_EQ(portalShortcutsVersion(bus_, id, 2000), std::nullopt);
    startPortal("2");
    if (IsSkipped() || HasFatalFailure()) return;
    const auto version = portalShortcutsVersion(bus_, id);
    ASSERT_EQ(version, 2u);
    PortalShortcuts portal(shortcuts, bus_, {shortcutTitle, *version});
    int changes = 0;
    QObject::connect(&portal, &PortalShortcuts::triggersChanged, [&] { ++changes; });
    EXPECT_FALSE(portal.canConfigure());
    portal.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.bound(); })) << portal_->stderrText();

    // The application id first, then one session, then the thirteen names.
    auto registered = take("REGISTER");
    ASSERT_TRUE(registered);
    EXPECT_EQ((*registered)["app_id"], "io.github.lumora.Lumora");
    const auto lines = portal_->lines();
    auto index = [&](const std::string& word) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return l.starts_with(word); }) -
               lines.begin();
    };
    EXPECT_LT(index("REGISTER"), index("CREATE"));
    auto created = take("CREATE");
    ASSERT_TRUE(created);
    EXPECT_EQ((*created)["session"], portal.session().toStdString());
    auto bind = take("BIND");
    ASSERT_TRUE(bind);
    EXPECT_EQ((*bind)["session"], portal.session().toStdString());
    const json& bound = (*bind)["shortcuts"];
    ASSERT_EQ(bound.size(), 13u);
    for (size_t i = 0; i < 13; ++i) {
        const Name& name = Name::all()[i];
        SCOPED_TRACE(name.rawValue());
        EXPECT_EQ(bound[i][0], name.rawValue());
        EXPECT_EQ(bound[i][1]["description"], shortcutTitle(name).toStdString());
        if (name == Name::actionAllLightsOff)
            EXPECT_EQ(bound[i][1]["preferred_trigger"], "CTRL+ALT+k");
        else if (name == Name::actionAllLightsBrighter)
            EXPECT_EQ(bound[i][1]["preferred_trigger"], "SHIFT+LOGO+F5");
        else
            EXPECT_FALSE(bound[i][1].contains("preferred_trigger"));
    }
    EXPECT_EQ(shortcutTitle(Name::actionTogglePanel), "Open Panel");
    EXPECT_EQ(shortcutTitle(Name::actionCustomGroup3), "Shortcut of hotkey 3");

    // What the desktop answered is what the pane will show.
    EXPECT_EQ(portal.trigger(Name::actionAllLightsOff), "CTRL + ALT + k");
    EXPECT_EQ(portal.trigger(Name::actionAllLightsDarker), "");
    EXPECT_EQ(portal.triggers().size(), 13u);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(portal.canConfigure());

    // One activation: one brightness command per room, paced by the queue.
    ASSERT_EQ(portal_->ask("ACTIVATE allLightsBrighter", {"EMITTED", "ERR"}), "EMITTED");
    const size_t rooms = controller_.settings().groups().size();
    auto puts = [&] {
        std::vector<sim::LoggedRequest> out;
        for (auto& r : server_.requestLog())
            if (r.method == "PUT") out.push_back(r);
        return out;
    };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return puts().size() >= rooms && controller_.queueDrained(); },
                        int(rooms * 1000 + 5000)));
    const auto sent = puts();
    ASSERT_EQ(sent.size(), rooms);
    std::set<std::string> paths;
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(sent[i].path);
        EXPECT_TRUE(paths.insert(sent[i].path).second);
        EXPECT_NE(sent[i].path.find("/groups/"), std::string::npos);
        EXPECT_EQ(json::parse(sent[i].body)["bri_inc"], controller_.settings().keyIncrement());
        // One queue tick (0.3 s) apart, less what a loaded machine shifts.
        if (i > 0) {
            EXPECT_GE(sent[i].wallTime - sent[i - 1].wallTime, 250ms);
        }
    }

    // The desktop's settings changed a key: the pane's text follows.
    ASSERT_EQ(portal_->ask("CHANGED allLightsDarker Ctrl+Shift+D", {"EMITTED", "ERR"}), "EMITTED");
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.trigger(Name::actionAllLightsDarker) != ""; }));
    EXPECT_EQ(portal.trigger(Name::actionAllLightsDarker), "Ctrl+Shift+D");
    EXPECT_EQ(portal.trigger(Name::actionAllLightsOff), "CTRL + ALT + k");
    EXPECT_EQ(changes, 2);

    EXPECT_TRUE(portal.configure());
    auto configured = take("CONFIGURE");
    ASSERT_TRUE(configured);
    EXPECT_EQ((*configured)["session"], portal.session().toStdString());
}

TEST_F(PortalShortcutsTest, ANewRecordingIsOfferedInAFreshSessionAndTheOldOneCloses) {
    startPortal("1");
    if (IsSkipped() || HasFatalFailure()) return;
    KeyboardShortcuts& shortcuts = hotkeys_.shortcuts();
    const auto version = portalShortcutsVersion(bus_, QStringLiteral("io.github.lumora.Lumora"));
    ASSERT_EQ(version, 1u);
    PortalShortcuts portal(shortcuts, bus_, {shortcutTitle, *version});
    portal.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.bound(); }));
    const QString first = portal.session();
    EXPECT_FALSE(portal.canConfigure());  // version 1
    EXPECT_FALSE(portal.configure());
    ASSERT_TRUE(take("BIND"));

    // Two recordings at once make one new session.
    shortcuts.setShortcut(Shortcut(Key::d, Modifier::control | Modifier::shift),
                          Name::actionAllLightsDarker);
    shortcuts.setShortcut(Shortcut(Key::l, Modifier::command), Name::actionTogglePanel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.bound() && portal.session() != first; }));
    auto closed = take("CLOSED");
    ASSERT_TRUE(closed);
    EXPECT_EQ((*closed)["session"], first.toStdString());
    auto bind = take("BIND");
    ASSERT_TRUE(bind);
    EXPECT_EQ((*bind)["session"], portal.session().toStdString());
    EXPECT_EQ((*bind)["shortcuts"][3][1]["preferred_trigger"], "CTRL+SHIFT+d");
    EXPECT_EQ((*bind)["shortcuts"][12][1]["preferred_trigger"], "LOGO+l");
    EXPECT_FALSE(portal_->waitLine("BIND ", 300ms)) << "bound once more";

    // Activations now come for the new session.
    int toggled = 0;
    shortcuts.onKeyUp(Name::actionTogglePanel, [&] { ++toggled; });
    ASSERT_EQ(portal_->ask("ACTIVATE togglePanel", {"EMITTED", "ERR"}), "EMITTED");
    ASSERT_TRUE(QTest::qWaitFor([&] { return toggled == 1; }));
}

}  // namespace
}  // namespace lumora

LUMORA_QT_TEST_MAIN()
