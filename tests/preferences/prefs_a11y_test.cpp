// The settings window as a screen reader meets it: every pane, in the states
// that show different controls, walked through the accessibility interfaces;
// a control without a name fails.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "app/linux/launch_at_login.h"
#include "preferences/advanced_pane.h"
#include "preferences/connection_pane.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "support/accessible_tree.h"
#include "support/manual_executor.h"
#include "support/qt_test_main.h"
#include "support/settings_panes.h"

namespace lumora::prefs {
namespace {

using lumora::testing::findByName;
using lumora::testing::unnamedControls;

class PrefsA11yTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.setHueIP("10.0.0.2");
        std::vector<HueLight> lights;
        for (auto [id, name] : {std::pair{"1", "Desk lamp"}, {"2", "Kitchen"}}) {
            HueLight l;
            l.lamp_id = id;
            l.unique_id = std::string("uid-") + id;
            l.name = name;
            lights.push_back(l);
        }
        settings_.setLights(lights);
        HueGroup kitchen;
        kitchen.group_id = "5";
        kitchen.name = "Kitchen";
        kitchen.type = "Room";
        settings_.setGroups({kitchen});
        // A recorded shortcut shows the recorder's clear button.
        shortcuts_.setShortcut(Shortcut(40, 4096 | 2048),
                               KeyboardShortcuts::Name::actionTogglePanel);

        window_ = std::make_unique<PreferencesWindow>(
            lumora::testing::settingsPanes(settings_, shortcuts_, login_, "file:///site/"),
            *store_);
    }
    void TearDown() override {
        window_.reset();
        exec_->runPending();
    }
    QWidget* showPane(const std::string& id) {
        window_->show(id);
        QCoreApplication::processEvents();
        return window_.get();
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>();
    AppSettings settings_{store_, *exec_};
    CarbonKeyboardShortcuts hotKeys_;
    KeyboardShortcuts shortcuts_{store_, center_, hotKeys_};
    QTemporaryDir config_;
    LaunchAtLogin login_{config_.path().toStdString(), "/usr/bin/lumora"};
    std::unique_ptr<PreferencesWindow> window_;
};

// (Every pane's first face, and the small windows, in each language:
// TranslatedLayout.)
TEST_F(PrefsA11yTest, EveryPaneNamesEveryControl) {
    showPane("general");
    // The toolbar's pane buttons carry the panes' names.
    for (const char* title : {"Connection", "Advanced", "Lights", "Hotkeys", "Information"}) {
        // Checkable tool buttons: announced as toggles.
        EXPECT_TRUE(findByName(window_.get(), title, {QAccessible::Button, QAccessible::CheckBox}))
            << title;
    }

    // The connection pane's other faces: a manual address, then connected,
    // then a connection error.
    auto* view = qobject_cast<ConnectionView*>(showPane("general")->findChild<ConnectionView*>());
    ASSERT_TRUE(view);
    QTest::mouseClick(view->configuration()->manualChoice(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(unnamedControls(window_.get()), "") << "manual";
    EXPECT_TRUE(
        findByName(window_.get(), "IP address of your HUE bridge", {QAccessible::EditableText}));

    settings_.setHueKey("user");
    settings_.setBridgeConnected(true);
    exec_->runPending();
    QCoreApplication::processEvents();
    EXPECT_EQ(unnamedControls(window_.get()), "") << "connected";
    settings_.setBridgeConnected(false);
    settings_.setConnectionError({ConnectionProblem::unreachable, {}});
    exec_->runPending();
    QCoreApplication::processEvents();
    EXPECT_EQ(unnamedControls(window_.get()), "") << "error";

    // The fifth all-rooms recorder: an edit field named after its row.
    showPane("hotkeys");
    QAccessibleInterface* openPanel =
        findByName(window_.get(), "Open Panel", {QAccessible::EditableText});
    ASSERT_TRUE(openPanel);
    EXPECT_EQ(openPanel->text(QAccessible::Value), "⌃⌥K");
    ASSERT_EQ(openPanel->childCount(), 1) << "the clear button, shown for a recorded shortcut";
    EXPECT_EQ(openPanel->child(0)->text(QAccessible::Name), "Clear");

    // The lights to show, each an item named after its light.
    showPane("lights");
    EXPECT_TRUE(
        findByName(window_.get(), "Which lights do you want to control?", {QAccessible::List}));
    EXPECT_TRUE(findByName(window_.get(), "Desk lamp", {QAccessible::ListItem}));
}

}  // namespace
}  // namespace lumora::prefs

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(lumora); Q_INIT_RESOURCE(preferences);)
