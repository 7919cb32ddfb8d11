// The recorder on a private X server with real key presses (xdotool), the X11
// hot-key service holding its grabs: what the user presses into a focused
// recorder is recorded there, whoever else grabbed it.

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>

#include "app/qt/qt_executor.h"
#include "preferences/recorder_widget.h"
#include "shortcuts/x11/x11_hotkey_service.h"
#include "support/xvfb.h"

namespace lumora::prefs {
namespace {

using Name = KeyboardShortcuts::Name;
using lumora::testing::OtherClient;

const Shortcut ctrlOptK(Key::k, Modifier::control | Modifier::option);
const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);

class RecorderX11Test : public lumora::testing::XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        service_ = X11HotKeyService::connect(dispatcher_, server->display.c_str());
        ASSERT_TRUE(service_);
        layer_ = std::make_unique<CarbonKeyboardShortcuts>(service_);
        shortcuts_ = std::make_unique<KeyboardShortcuts>(store_, center_, *layer_);
    }
    void TearDown() override {
        window_.reset();
        shortcuts_.reset();
        layer_.reset();
        service_.reset();
    }
    RecorderWidget* showFocused(RecorderWidget* rec) {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        layout->addWidget(rec);
        window_->show();
        window_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
        rec->setFocus(Qt::MouseFocusReason);
        EXPECT_TRUE(QTest::qWaitFor([&] { return rec->isRecording(); }));
        return rec;
    }

    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    // The presses come through the Qt loop, as in the program.
    std::shared_ptr<lumora::QtExecutor> dispatcher_ = std::make_shared<lumora::QtExecutor>(1);
    std::shared_ptr<X11HotKeyService> service_;
    std::unique_ptr<CarbonKeyboardShortcuts> layer_;
    std::unique_ptr<KeyboardShortcuts> shortcuts_;
    std::unique_ptr<QWidget> window_;
};

TEST_F(RecorderX11Test, ABoundCombinationPressedIntoTheRecorderIsRecordedAndFiresNothing) {
    int offs = 0, ons = 0;
    shortcuts_->setShortcut(ctrlOptL, Name::actionAllLightsOff);
    shortcuts_->onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });
    shortcuts_->onKeyUp(Name::actionAllLightsOn, [&] { ++ons; });
    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return offs == 1; }));

    RecorderWidget* rec = showFocused(new RecorderWidget(*shortcuts_, Name::actionAllLightsOn));
    EXPECT_EQ(rec->placeholderText(), "Press Shortcut");
    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return shortcuts_->getShortcut(Name::actionAllLightsOn).has_value(); }));
    EXPECT_EQ(shortcuts_->getShortcut(Name::actionAllLightsOn), ctrlOptL);
    EXPECT_EQ(rec->text(), "⌃⌥L");
    EXPECT_FALSE(shortcuts_->isPaused());

    // Recording over: the combination acts again, for both names now, once
    // the keyboard is back with the grabs (a press before that reaches
    // nobody). Each press that acts fires both, so one more "off" than "on"
    // would be the recorded press.
    for (int i = 0; i < 20 && ons == 0; ++i) {
        ASSERT_TRUE(press("ctrl+alt+l"));
        (void)QTest::qWaitFor([&] { return ons > 0; }, 250);
    }
    EXPECT_EQ(ons, 1);
    EXPECT_EQ(offs, 2) << "the recorded press must not fire";
}

TEST_F(RecorderX11Test, ACombinationTheDesktopHoldsGivesTheAlertNotTheDesktopsAction) {
    OtherClient desktop(server->display);
    const xcb_keycode_t k = desktop.keycode(XKB_KEY_k);
    ASSERT_TRUE(desktop.grab(XKB_KEY_k, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    auto* rec = new RecorderWidget(*shortcuts_, Name::actionCustomGroup1);
    QStringList alerts;
    rec->setAlert([&](QWidget*, const QString& title, const QString&) { alerts << title; });
    showFocused(rec);

    ASSERT_TRUE(press("ctrl+alt+k"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.isEmpty(); }));
    EXPECT_EQ(alerts.front(), "This shortcut is already taken by the desktop or another program.");
    EXPECT_FALSE(shortcuts_->userDefaultsContains(Name::actionCustomGroup1));

    // The desktop's grab never went off.
    for (const auto& e : desktop.keyPresses()) EXPECT_NE(e.detail, k);

    // Back to recording after the alert; a free combination is taken.
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->isRecording(); }));
    ASSERT_TRUE(press("ctrl+alt+j"));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return shortcuts_->getShortcut(Name::actionCustomGroup1) ==
               Shortcut(Key::j, Modifier::control | Modifier::option);
    }));
}

}  // namespace
}  // namespace lumora::prefs

int main(int argc, char** argv) {
    lumora::testing::Xvfb xvfb;
    lumora::testing::XvfbTest::useServer(&xvfb);  // Qt needs the display first
    ::testing::InitGoogleTest(&argc, argv);
    if (!xvfb.failure.empty()) {
        // No display for Qt either; every test skips with the reason.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        qputenv("DISPLAY", xvfb.display.c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
