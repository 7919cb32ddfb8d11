// The Hotkeys pane for each holder of the global keys: our own grabs
// (recorders), the desktop's portal (the keys it reports, kept up to date,
// and its settings), and nobody (the command lines to bind, copied).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <chrono>

#include "preferences/hotkeys_pane.h"
#include "shortcuts/portal/portal_shortcuts.h"
#include "support/desktop_session.h"
#include "support/fake_hotkey_service.h"
#include "support/manual_executor.h"
#include "support/qt_test_main.h"

namespace lumora::prefs {
namespace {

using namespace std::chrono_literals;
using Name = KeyboardShortcuts::Name;
using Kind = HotkeysHost::Kind;

// With LUMORA_SCREENSHOT_DIR set, the pane as shown, for docs/.
void screenshot(QWidget& pane, const char* name) {
    const QString dir = qEnvironmentVariable("LUMORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    pane.resize(pane.sizeHint());
    pane.show();
    QCoreApplication::processEvents();
    pane.grab().save(QStringLiteral("%1/prefs-hotkeys-%2.png").arg(dir, QLatin1String(name)));
}

class HotkeysModesTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<testing::FakeHotKeyService> service_ =
        std::make_shared<testing::FakeHotKeyService>();
    CarbonKeyboardShortcuts layer_{service_};
    KeyboardShortcuts shortcuts_{store_, center_, layer_};
    AppSettings settings_{store_, *executor_};
};

TEST_F(HotkeysModesTest, OurOwnGrabsKeepTheRecordersAndNobodyGetsTheCommandsToBind) {
    HotkeysPane grabs(settings_, shortcuts_);
    for (auto* r : grabs.everything()->recorders()) EXPECT_NE(r, nullptr);
    EXPECT_NE(grabs.individual()->recorder(0), nullptr);
    EXPECT_EQ(grabs.hostNote(), nullptr);
    EXPECT_EQ(grabs.everything()->cells()[3]->text(), nullptr);

    HotkeysPane none(settings_, shortcuts_, {Kind::commands});
    ASSERT_NE(none.hostNote(), nullptr);
    EXPECT_EQ(none.configureButton(), nullptr);
    const char* everything[] = {"all-off", "all-on", "darker", "brighter", "toggle-panel"};
    for (int i = 0; i < 5; ++i) {
        HotkeyCell* cell = none.everything()->cells()[i];
        EXPECT_EQ(none.everything()->recorders()[i], nullptr) << "no recorder";
        ASSERT_NE(cell->text(), nullptr);
        EXPECT_EQ(cell->text()->text(), QStringLiteral("lumora-ctl ") + everything[i]);
    }
    HotkeyCell* slot3 = none.individual()->cell(2);
    EXPECT_EQ(none.individual()->recorder(2), nullptr);
    EXPECT_EQ(slot3->text()->text(), "lumora-ctl slot 3");
    ASSERT_NE(slot3->copyButton(), nullptr);
    slot3->copyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "lumora-ctl slot 3");
    screenshot(none, "commands");
}

TEST_F(HotkeysModesTest, ThePortalsKeysAreShownAndFollowItsChanges) {
    testing::DesktopSession session({.sessionBus = true});
    LUMORA_REQUIRE_DESKTOP(session);
    testing::ChildProcess* fake =
        session.spawn("portal", {"/usr/bin/python3", LUMORA_FAKE_PORTAL, "--address",
                                 session.sessionBusAddress(), "--version", "2"});
    ASSERT_TRUE(fake);
    if (!fake->waitLine("READY", 10s)) {
        if (fake->waitExit(2s) == 77) GTEST_SKIP() << fake->stderrText();
        FAIL() << fake->stderrText();
    }
    {
        QDBusConnection bus = QDBusConnection::connectToBus(
            QString::fromStdString(session.sessionBusAddress()), QStringLiteral("pane-test"));
        shortcuts_.setShortcut(Shortcut(Key::k, Modifier::control | Modifier::option),
                               Name::actionAllLightsBrighter);
        const auto version = portalShortcutsVersion(bus, QStringLiteral("io.github.lumora.Lumora"));
        ASSERT_EQ(version, 2u);
        PortalShortcuts portal(shortcuts_, bus, {shortcutTitle, *version});
        HotkeysPane pane(settings_, shortcuts_, {Kind::portal, &portal});
        ASSERT_NE(pane.hostNote(), nullptr);
        HotkeyCell* brighter = pane.everything()->cells()[3];
        EXPECT_EQ(pane.everything()->recorders()[3], nullptr) << "the desktop holds the key";
        ASSERT_NE(brighter->text(), nullptr);
        EXPECT_EQ(brighter->text()->text(), "No key assigned") << "not bound yet";

        portal.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return portal.bound(); })) << fake->stderrText();
        EXPECT_EQ(brighter->text()->text(), portal.trigger(Name::actionAllLightsBrighter));
        EXPECT_NE(brighter->text()->text(), "No key assigned");
        EXPECT_EQ(pane.everything()->cells()[2]->text()->text(), "No key assigned");
        ASSERT_NE(pane.configureButton(), nullptr);
        EXPECT_FALSE(pane.configureButton()->isHidden()) << "version 2 can configure";

        // The person picked another key in the desktop's settings.
        ASSERT_EQ(fake->ask("CHANGED " + Name::actionAllLightsBrighter.rawValue() + " Ctrl+Alt+B",
                            {"EMITTED", "ERR"}),
                  "EMITTED");
        EXPECT_TRUE(QTest::qWaitFor([&] { return brighter->text()->text() == "Ctrl+Alt+B"; }))
            << brighter->text()->text().toStdString();
        screenshot(pane, "portal");

        pane.configureButton()->click();
        EXPECT_TRUE(fake->waitLine("CONFIGURE ", 5s)) << fake->stderrText();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("pane-test"));
}

}  // namespace
}  // namespace lumora::prefs

LUMORA_QT_TEST_MAIN()
