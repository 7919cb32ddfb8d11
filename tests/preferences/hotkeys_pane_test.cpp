// The Hotkeys pane and the recorder under the offscreen platform, driven with
// mouse and key events; the assertions are on AppSettings, the defaults store
// and the hot-key service. The pane also for each other holder of the global
// keys: the desktop's portal (on a private bus) and nobody (commands to bind).

#include "preferences/hotkeys_pane.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>

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
using testing::FakeHotKeyService;

const Shortcut ctrlOptK(Key::k, Modifier::control | Modifier::option);
const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);
constexpr Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

HueGroup room(const std::string& id, const std::string& name) {
    HueGroup g;
    g.group_id = id;
    g.name = name;
    return g;
}

// With LUMORA_SCREENSHOT_DIR set, the pane as shown, for docs/.
void screenshot(QWidget& pane, const char* name) {
    const QString dir = qEnvironmentVariable("LUMORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    pane.resize(pane.sizeHint());
    pane.show();
    QCoreApplication::processEvents();
    pane.grab().save(QStringLiteral("%1/prefs-hotkeys-%2.png").arg(dir, QLatin1String(name)));
}

class PrefsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_ = std::make_unique<AppSettings>(store_, *executor_);
        settings_->setGroups({room("3", "Hall"), room("8", "Hall"), room("11", "Attic")});
    }
    void TearDown() override {
        window_.reset();
        settings_.reset();
        executor_->runPending();
    }
    // A window holding `w` (and `more` under it), shown and active so focus works.
    template <typename W, typename... More>
    W* show(W* w, More*... more) {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        layout->addWidget(w);
        (layout->addWidget(more), ...);
        window_->show();
        window_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
        return w;
    }
    static void focus(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        QCoreApplication::processEvents();
        ASSERT_TRUE(w->hasFocus());
    }
    std::optional<Shortcut> stored(const Name& n) { return shortcuts_.getShortcut(n); }

    std::shared_ptr<ManualExecutor> executor_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<FakeHotKeyService> service_ = std::make_shared<FakeHotKeyService>();
    CarbonKeyboardShortcuts layer_{service_};
    KeyboardShortcuts shortcuts_{store_, center_, layer_};
    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<QWidget> window_;
};

// --- the pane ---------------------------------------------------------------

TEST_F(PrefsTest, SlotsOfferEveryRoomAndStoreThePickedEntry) {
    auto* pane = show(new HotkeysPane(*settings_, shortcuts_));
    HotkeysIndividualView* view = pane->individual();
    for (int slot = 0; slot < kGroupHotkeySlots; ++slot) {
        EXPECT_EQ(view->picker(slot)->currentText(), "(No Action)") << slot;
        EXPECT_EQ(view->picker(slot)->count(), 13);
    }
    // Two rooms called Hall: the same titles, different ids.
    GroupActionPicker* picker = view->picker(2);
    EXPECT_EQ(picker->itemText(2), "Hall Off");
    EXPECT_EQ(picker->itemText(2), picker->itemText(6));
    EXPECT_NE(picker->itemData(2), picker->itemData(6));

    // The user opens slot 2 and picks the first Hall's "Off".
    picker->showPopup();
    QAbstractItemView* list = picker->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const QRect item = list->visualRect(list->model()->index(2, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QCoreApplication::processEvents();
    EXPECT_EQ(store_->string("hotkeyCustomGroupAction2"), "3_off");
    EXPECT_EQ(picker->selectedAction(), "3_off");
    for (int other : {0, 1, 3, 4})
        EXPECT_FALSE(store_->contains("hotkeyCustomGroupAction" + std::to_string(other)));

    // Shown afresh the choice is there; a choice whose room is gone shows no
    // entry and stays stored.
    store_->setString("hotkeyCustomGroupAction4", "99_on");
    auto* again = show(new HotkeysPane(*settings_, shortcuts_));
    EXPECT_EQ(again->individual()->picker(2)->currentText(), "Hall Off");
    EXPECT_EQ(again->individual()->picker(2)->currentData(), "3_off");
    EXPECT_EQ(again->individual()->picker(4)->currentIndex(), -1);
    EXPECT_EQ(store_->string("hotkeyCustomGroupAction4"), "99_on");
}

TEST_F(PrefsTest, StepSizeIsStoredWhileThePaneIsShown) {
    settings_->setKeyIncrement(10);
    auto pane = std::make_unique<HotkeysPane>(*settings_, shortcuts_);
    SegmentedControl* step = pane->individual()->stepSize();
    ASSERT_EQ(step->count(), 3);
    EXPECT_EQ(step->segment(0)->text(), "Small");
    EXPECT_TRUE(step->segment(0)->isChecked());

    QTest::mouseClick(step->segment(2), Qt::LeftButton);
    EXPECT_EQ(step->segment(2)->text(), "Large");
    EXPECT_EQ(settings_->keyIncrement(), 50);
    EXPECT_EQ(store_->object("keyIncrement"), DefaultsValue(std::int64_t{50}));

    // A change made elsewhere shows and is stored too.
    settings_->setKeyIncrement(25);
    EXPECT_TRUE(step->segment(1)->isChecked());
    EXPECT_EQ(store_->integer("keyIncrement"), 25);

    // Once the pane is gone nothing of it listens any more.
    pane.reset();
    settings_->setKeyIncrement(10);
    EXPECT_EQ(store_->integer("keyIncrement"), 25);
}

TEST_F(PrefsTest, SlotFourRecordsUnderTheFifthGroupName) {
    auto* pane = show(new HotkeysPane(*settings_, shortcuts_));
    // Opening the pane records nothing: the first field does not keep the
    // focus the window hands it.
    EXPECT_FALSE(shortcuts_.isPaused());
    EXPECT_FALSE(pane->everything()->recorders()[0]->hasFocus());
    // Nor does the settings window putting focus on the pane's first field.
    pane->everything()->recorders()[0]->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shortcuts_.isPaused());
    EXPECT_FALSE(pane->everything()->recorders()[0]->isRecording());
    // Each all-rooms row records the name its label says.
    const std::map<QString, Name> rows{{"Off", Name::actionAllLightsOff},
                                       {"On", Name::actionAllLightsOn},
                                       {"Darker", Name::actionAllLightsDarker},
                                       {"Brighter", Name::actionAllLightsBrighter},
                                       {"Open Panel", Name::actionTogglePanel}};
    for (RecorderWidget* r : pane->everything()->recorders())
        EXPECT_EQ(rows.at(r->accessibleName()), r->name()) << r->accessibleName().toStdString();
    RecorderWidget* rec = pane->individual()->recorder(4);
    EXPECT_EQ(rec->placeholderText(), "Record Shortcut");
    focus(rec);
    EXPECT_EQ(rec->placeholderText(), "Press Shortcut");
    // And it is drawn: a centred field hides its placeholder under focus
    // unless the recorder paints it.
    const QImage shot = rec->grab().toImage();
    const QColor base = rec->palette().color(QPalette::Base);
    int inked = 0;
    for (int x = rec->width() / 3; x < 2 * rec->width() / 3; ++x)
        for (int y = rec->height() / 3; y < 2 * rec->height() / 3; ++y)
            inked += std::abs(QColor(shot.pixel(x, y)).lightness() - base.lightness()) > 40;
    EXPECT_GT(inked, 10);
    QTest::keyPress(rec, Qt::Key_Control, Qt::ControlModifier);  // on the way to a combination
    EXPECT_TRUE(rec->isRecording());
    QTest::keyClick(rec, Qt::Key_K, kCtrlAlt);

    EXPECT_EQ(stored(Name::actionCustomGroup5), ctrlOptK);
    EXPECT_EQ(store_->string("KeyboardShortcuts_actionCustomGroup5"),
              R"({"carbonKeyCode":40,"carbonModifiers":6144})");
    for (const Name& n : Name::all())
        if (n != Name::actionCustomGroup5) {
            EXPECT_FALSE(shortcuts_.userDefaultsContains(n)) << n.rawValue();
        }
    EXPECT_EQ(rec->text(), "⌃⌥K");
    EXPECT_TRUE(rec->clearButtonVisible());
    EXPECT_FALSE(rec->hasFocus());
    EXPECT_EQ(rec->placeholderText(), "Record Shortcut");
    EXPECT_EQ(service_->active.size(), 1u) << "registered once recording ended";
}

// --- the recorder -----------------------------------------------------------

// (A bound combination pressed into the recorder: recorder_x11_test, with
// the real grabs.)

TEST_F(PrefsTest, EscapeCancelsBackspaceClearsTabMovesOn) {
    auto* next = new QPushButton("next");
    next->setFocusPolicy(Qt::StrongFocus);
    auto* rec = show(new RecorderWidget(shortcuts_, Name::actionAllLightsOff), next);
    shortcuts_.setShortcut(ctrlOptL, Name::actionAllLightsOff);
    EXPECT_EQ(rec->text(), "⌃⌥L");

    focus(rec);
    QTest::keyClick(rec, Qt::Key_Escape);
    EXPECT_FALSE(rec->hasFocus());
    EXPECT_FALSE(shortcuts_.isPaused());
    EXPECT_EQ(stored(Name::actionAllLightsOff), ctrlOptL);

    // A letter alone or with Shift only is refused; recording goes on.
    focus(rec);
    QTest::keyClick(rec, Qt::Key_K);
    QTest::keyClick(rec, Qt::Key_K, Qt::ShiftModifier);
    EXPECT_TRUE(rec->isRecording());
    EXPECT_EQ(stored(Name::actionAllLightsOff), ctrlOptL);

    QTest::keyClick(rec, Qt::Key_Backspace);
    EXPECT_EQ(store_->object("KeyboardShortcuts_allLightsOff"), DefaultsValue(false));
    EXPECT_EQ(rec->text(), "");
    EXPECT_FALSE(rec->clearButtonVisible());
    EXPECT_TRUE(rec->hasFocus()) << "ready for the next combination";
    EXPECT_TRUE(service_->active.empty());

    // F5 alone passes; Tab hands the focus on and records nothing.
    QTest::keyClick(rec, Qt::Key_F5);
    EXPECT_EQ(stored(Name::actionAllLightsOff), Shortcut(Key::f5));
    focus(rec);
    QTest::keyClick(rec, Qt::Key_Tab);
    EXPECT_TRUE(next->hasFocus());
    EXPECT_FALSE(shortcuts_.isPaused());
    EXPECT_EQ(stored(Name::actionAllLightsOff), Shortcut(Key::f5));
}

TEST_F(PrefsTest, ClearButtonAndClicksOutside) {
    auto* box = new QWidget;
    box->setMinimumSize(300, 120);
    auto* layout = new QVBoxLayout(box);
    auto* rec = new RecorderWidget(shortcuts_, Name::actionAllLightsDarker);
    layout->addWidget(rec);
    layout->addStretch(1);
    show(box);
    shortcuts_.setShortcut(ctrlOptK, Name::actionAllLightsDarker);
    ASSERT_TRUE(rec->clearButtonVisible());

    // Not recording: the clear button clears and recording starts.
    auto* clear = rec->findChild<QToolButton*>();
    ASSERT_TRUE(clear);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_FALSE(shortcuts_.getShortcut(Name::actionAllLightsDarker));
    EXPECT_TRUE(rec->hasFocus());
    EXPECT_TRUE(rec->isRecording());

    // A click within 3 points of the field keeps recording; further out ends it.
    const QPoint justBelow = rec->mapTo(box, QPoint(10, rec->height() + 2));
    QTest::mouseClick(box, Qt::LeftButton, {}, justBelow);
    EXPECT_TRUE(rec->isRecording());
    const QPoint farBelow = rec->mapTo(box, QPoint(10, rec->height() + 40));
    QTest::mouseClick(box, Qt::LeftButton, {}, farBelow);
    EXPECT_FALSE(rec->isRecording());
    EXPECT_FALSE(shortcuts_.isPaused());
}

// The default alert; the one a caller sets is used by the X11 recorder test.
TEST_F(PrefsTest, CombinationTakenElsewhereWarnsPausedStoresNothingAndRecordsAgain) {
    service_->heldElsewhere = {FakeHotKeyService::combo(ctrlOptK)};
    auto* rec = show(new RecorderWidget(shortcuts_, Name::actionCustomGroup1));
    focus(rec);
    QString shown;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = box->text();
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_FALSE(box->informativeText().isEmpty());
        EXPECT_FALSE(rec->isRecording()) << "recording pauses for the alert";
        box->accept();
    });
    QTest::keyClick(rec, Qt::Key_K, kCtrlAlt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 2000));
    EXPECT_EQ(shown, "This shortcut is already taken by the desktop or another program.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rec->isRecording(); }, 2000));
    EXPECT_TRUE(rec->hasFocus()) << "back to recording after the alert";
    EXPECT_FALSE(shortcuts_.userDefaultsContains(Name::actionCustomGroup1));
}

TEST(RecorderKeys, QtKeysWithoutANativeCodeMapToTheKeyThatTypesThem) {
    auto code = [](int qtKey, Qt::KeyboardModifiers m = {}) {
        const QKeyEvent e(QEvent::KeyPress, qtKey, m);
        const auto r = RecorderWidget::recorderEvent(e);
        return r ? r->keyCode : -100;
    };
    EXPECT_EQ(code(Qt::Key_K, Qt::ControlModifier), static_cast<int>(Key::k));
    // Shift turns 1 into !, the key is still the 1 key.
    EXPECT_EQ(code(Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier),
              static_cast<int>(Key::one));
    EXPECT_EQ(code(Qt::Key_Question, Qt::ShiftModifier), static_cast<int>(Key::slash));
    EXPECT_EQ(code(Qt::Key_5, Qt::KeypadModifier), static_cast<int>(Key::keypad5));
    EXPECT_EQ(code(Qt::Key_5), static_cast<int>(Key::five));
    EXPECT_EQ(code(Qt::Key_Minus, Qt::KeypadModifier), static_cast<int>(Key::keypadMinus));
    EXPECT_EQ(code(Qt::Key_F1), static_cast<int>(Key::f1));
    EXPECT_EQ(code(Qt::Key_F13), static_cast<int>(Key::f13));
    EXPECT_EQ(code(Qt::Key_F20), static_cast<int>(Key::f20));
    EXPECT_EQ(code(Qt::Key_Eacute), -1) << "no Carbon key: refused with a beep";
    // A modifier alone is no event at all, not a refused key.
    EXPECT_EQ(code(Qt::Key_Control, Qt::ControlModifier), -100);
    EXPECT_EQ(code(Qt::Key_Super_L, Qt::MetaModifier), -100);

    const QKeyEvent all(
        QEvent::KeyPress, Qt::Key_L,
        Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
    const EventModifiers m = RecorderWidget::recorderEvent(all)->modifiers;
    EXPECT_TRUE(m.control && m.option && m.shift && m.command);
    EXPECT_FALSE(m.numericPad);
}

TEST_F(PrefsTest, TwoRecordersOfOneNameStayInStep) {
    std::vector<std::optional<Shortcut>> changes;
    auto* b = new RecorderWidget(shortcuts_, Name::actionCustomGroup3,
                                 [&](const std::optional<Shortcut>& s) { changes.push_back(s); });
    auto* other = new RecorderWidget(shortcuts_, Name::actionCustomGroup4);
    auto* a = show(new RecorderWidget(shortcuts_, Name::actionCustomGroup3), b, other);

    focus(a);
    QTest::keyClick(a, Qt::Key_K, kCtrlAlt);
    EXPECT_EQ(b->text(), "⌃⌥K");
    EXPECT_TRUE(b->clearButtonVisible());
    EXPECT_EQ(other->text(), "");
    EXPECT_TRUE(changes.empty()) << "only the recorder that saved reports";

    focus(b);
    QTest::keyClick(b, Qt::Key_Delete);
    EXPECT_EQ(a->text(), "");
    EXPECT_FALSE(a->clearButtonVisible());
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::nullopt);
}

// --- who holds the keys ------------------------------------------------------

TEST_F(PrefsTest, OurOwnGrabsKeepTheRecordersAndNobodyGetsTheCommandsToBind) {
    HotkeysPane grabs(*settings_, shortcuts_);
    for (auto* r : grabs.everything()->recorders()) EXPECT_NE(r, nullptr);
    EXPECT_NE(grabs.individual()->recorder(0), nullptr);
    EXPECT_EQ(grabs.hostNote(), nullptr);
    EXPECT_EQ(grabs.everything()->cells()[3]->text(), nullptr);

    HotkeysPane none(*settings_, shortcuts_, {Kind::commands});
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

TEST_F(PrefsTest, ThePortalsKeysAreShownAndFollowItsChanges) {
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
        HotkeysPane pane(*settings_, shortcuts_, {Kind::portal, &portal});
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
