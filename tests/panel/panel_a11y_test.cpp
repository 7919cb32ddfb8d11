// The panel for people who do not use the mouse: what a screen reader is
// told about every control, and the panel driven by keys alone, inside the
// real panel window and its controller, on virtual time for the queue.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <nlohmann/json.hpp>

#include "panel/panel_window.h"
#include "panel/views/content_view.h"
#include "panel/views/panel_lists.h"
#include "support/accessible_tree.h"
#include "support/controller_fixture.h"
#include "support/qt_test_main.h"
#include "ui/panel_tab.h"

namespace lumora::panel {
namespace {

using lumora::testing::findByName;
using lumora::testing::unnamedControls;
using namespace std::chrono_literals;

struct Send {
    std::string url;
    nlohmann::json body;
};

class PanelA11yTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        transport_ = [this](const HttpRequest& r) {
            sends_.push_back({r.url, nlohmann::json::parse(r.body, nullptr, false)});
            return HttpResponse{};
        };
        HueLight kitchen = lamp("3", true, true, true, "Kitchen lamp");
        kitchen.brightness = 100;
        settings().setLights({kitchen, lamp("4", false, false, false, "Hall plug")});
        auto lit = [](HueGroup g) {
            g.is_on = true;
            g.brightness = 128;
            return g;
        };
        settings().setGroups({lit(room("1", "Downstairs", "Zone", {"3"})),
                              lit(room("2", "Living room", "Room", {"4"})),
                              lit(room("5", "Kitchen", "Room", {"3"}))});
        settings().setScenes({scene("s-relax", "Relax", "5"), scene("s-read", "Read", "2")});
        settings().setShowScenes(true);
        settings().setShowZones(true);
        settings().setActiveMainPanel(MainPanels::rooms);

        StatusBarMenuWindowController::Environment env;
        env.iconGeometry = [] { return std::optional<QRect>(QRect(1000, 0, 24, 24)); };
        env.pointer = [] { return QPoint(1010, 10); };
        env.screenAt = [](QPoint) { return QRect(0, 0, 1280, 1000); };
        env.fadeMilliseconds = 1;
        PanelActions actions;
        actions.closePanel = [this] { controller_->close(); };
        actions.showSettings = [] {};
        content_ = new ContentView(settings(), *ControllerFixture::controller_, actions);
        controller_ =
            std::make_unique<StatusBarMenuWindowController>(content_, settings().defaults(), env);
    }
    void TearDown() override {
        controller_.reset();
        ControllerFixture::TearDown();
    }

    // The panel on screen and holding the keyboard.
    void open() {
        controller_->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller_->window()));
        QCoreApplication::processEvents();
        exec_->runPending();
    }
    GroupRow* row(const std::string& name) {
        auto* list = qobject_cast<ListGroups*>(content_->body());
        if (!list) return nullptr;
        for (GroupRow* r : list->rows())
            if (r->group().name == name) return r;
        return nullptr;
    }
    static void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_TRUE(target) << "nothing has the keyboard";
        QTest::keyClick(target, static_cast<Qt::Key>(k), mods);
        QCoreApplication::processEvents();
    }
    void showPanel(MainPanels panel) {
        settings().setActiveMainPanel(panel);
        content_->sync();
        QCoreApplication::processEvents();
    }
    void clearQueue() {
        exec_->runPending();
        settings().setActionQueue({});
    }

    ContentView* content_ = nullptr;
    std::unique_ptr<StatusBarMenuWindowController> controller_;
    std::vector<Send> sends_;
};

// (That every control of every panel has a name TranslatedLayout checks, in
// each language.)
TEST_F(PanelA11yTest, EachControlIsAnnouncedByTheRoleAndStateItHas) {
    open();
    QWidget* window = controller_->window();
    // What each control is announced as.
    auto announced = [&](const char* name, QAccessible::Role role) {
        QAccessibleInterface* found = findByName(window, name);
        EXPECT_TRUE(found) << name;
        if (found) {
            EXPECT_EQ(found->role(), role) << name;
        }
        return found;
    };
    showPanel(MainPanels::rooms);
    QAccessibleInterface* slider = announced("Kitchen brightness, 50 %", QAccessible::Slider);
    QAccessibleInterface* onOff = announced("Kitchen on", QAccessible::CheckBox);
    // The row holds the room's controls.
    QAccessibleInterface* kitchen = announced("Kitchen", QAccessible::Grouping);
    announced("ZONES", QAccessible::Heading);
    QAccessibleInterface* rooms = announced("ROOMS", QAccessible::PageTab);
    QAccessibleInterface* lights = announced("LIGHTS", QAccessible::PageTab);
    announced("Kitchen colour", QAccessible::ColorChooser);
    QAccessibleInterface* temperature =
        announced("Living room colour temperature", QAccessible::Slider);
    announced("Kitchen scenes", QAccessible::Button);
    ASSERT_TRUE(slider && onOff && kitchen && rooms && lights && temperature);

    EXPECT_TRUE(slider->state().focusable);
    QAccessibleValueInterface* value = slider->valueInterface();
    ASSERT_TRUE(value) << "a slider has a value a screen reader can read and set";
    EXPECT_NEAR(value->currentValue().toDouble(), 128 / 2.55, 1e-9);
    EXPECT_EQ(value->minimumValue().toDouble(), 0);
    EXPECT_EQ(value->maximumValue().toDouble(), 100);
    EXPECT_NEAR(value->minimumStepSize().toDouble(), 50 / 2.55, 1e-9) << "the hotkey step";
    EXPECT_EQ(slider->text(QAccessible::Value), "50 %");
    EXPECT_TRUE(onOff->state().checkable);
    EXPECT_TRUE(onOff->state().checked);
    EXPECT_EQ(onOff->parent()->object(), kitchen->object());
    EXPECT_TRUE(rooms->state().selected);
    EXPECT_FALSE(lights->state().selected);
    EXPECT_TRUE(temperature->valueInterface());

    showPanel(MainPanels::scenes);
    announced("Scene Relax", QAccessible::Button);

    // Nothing known yet: the welcome title and the link warning's button.
    settings().setActiveMainPanel(MainPanels::lights);
    settings().setLights({});
    settings().setNeedsLinkButton(true);
    content_->sync();
    QCoreApplication::processEvents();
    EXPECT_EQ(content_->bodyName(), "NoLights");
    announced("Connect", QAccessible::Button);
}

// (The change events need a live accessibility bus: the desktop test
// listens for them.)
TEST_F(PanelA11yTest, AScreenReaderActsOnTheControlsTheWayTheMouseDoes) {
    open();
    QWidget* window = controller_->window();
    GroupRow* kitchen = row("Kitchen");
    ASSERT_TRUE(kitchen);

    QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(kitchen->slider());
    ASSERT_TRUE(slider->valueInterface());
    slider->valueInterface()->setCurrentValue(80.0);
    EXPECT_EQ(settings().groups()[2].brightness, 204);
    auto q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(q[0].body)["bri"], 204);
    EXPECT_EQ(slider->text(QAccessible::Name), "Kitchen brightness, 80 %");
    // Increase: one step of the hotkey step size, which follows the setting.
    settings().setKeyIncrement(10);
    content_->sync();
    QCoreApplication::processEvents();
    slider->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(settings().groups()[2].brightness, 214);

    QAccessibleInterface* onOff = QAccessible::queryAccessibleInterface(kitchen->onOff());
    ASSERT_TRUE(onOff->actionInterface());
    EXPECT_TRUE(onOff->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::toggleAction()));
    clearQueue();
    onOff->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(settings().groups()[2].is_on);
    EXPECT_FALSE(onOff->state().checked);
    q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].body, "{\"on\":false}");

    // A refresh that switches the room on from elsewhere shows.
    settings().mutateGroups([](auto& gs) { gs[2].is_on = true; });
    content_->sync();
    QCoreApplication::processEvents();
    EXPECT_TRUE(onOff->state().checked);

    // The tabs: pressing ROOMS' neighbour selects it and the state follows.
    QAccessibleInterface* lights = findByName(window, "LIGHTS");
    ASSERT_TRUE(lights && lights->actionInterface());
    lights->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(settings().activeMainPanel(), MainPanels::lights);
    content_->sync();
    EXPECT_TRUE(lights->state().selected);

    showPanel(MainPanels::scenes);
    clearQueue();
    QAccessibleInterface* relax = findByName(window, "Scene Relax");
    ASSERT_TRUE(relax && relax->actionInterface());
    relax->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_NE(q[0].body.find("s-relax"), std::string::npos) << q[0].body;
}

TEST_F(PanelA11yTest, TheKeyboardAloneReachesTheKitchenSliderStepsItThroughTheQueueAndCloses) {
    QPalette accent = QApplication::palette();
    accent.setColor(QPalette::Highlight, QColor(255, 0, 255));
    controller_->window()->setPalette(accent);
    open();
    GroupRow* kitchen = row("Kitchen");
    ASSERT_TRUE(kitchen);
    settings().mutateGroups([](auto& gs) { gs[2].brightness = 100; });
    content_->sync();

    // Tab through the rows: every stop is a named control.
    std::vector<QWidget*> stops;
    for (int n = 0; n < 30 && QApplication::focusWidget() != kitchen->slider(); ++n) {
        key(Qt::Key_Tab);
        stops.push_back(QApplication::focusWidget());
        EXPECT_FALSE(stops.back()->accessibleName().isEmpty())
            << stops.back()->metaObject()->className();
    }
    ASSERT_EQ(QApplication::focusWidget(), kitchen->slider()) << "Tab never reached it";
    ASSERT_GE(stops.size(), 2u);
    EXPECT_EQ(stops[stops.size() - 2], kitchen->onOff()) << "the row's switch comes first";

    // The focus ring, in the accent colour, only for focus by the keyboard.
    auto ringPixels = [](QWidget* w) {
        const QImage img = w->grab().toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                n += c.red() > 180 && c.blue() > 180 && c.green() < 90;
            }
        return n;
    };
    EXPECT_GT(ringPixels(kitchen->slider()), 40);
    EXPECT_EQ(ringPixels(row("Living room")->slider()), 0);

    // Steps of 50, pressed faster than the queue sends: the bridge gets where
    // they ended. (Presses a tick apart, each sent and paced, and the name
    // that follows: the accessibility-bus test in tray_e2e_test.)
    exec_->advance(1000ms);
    sends_.clear();
    key(Qt::Key_Right);
    key(Qt::Key_Up);
    key(Qt::Key_Right);
    exec_->advance(900ms);
    ASSERT_EQ(sends_.size(), 1u);
    EXPECT_EQ(sends_[0].body.value("bri", -1), 250) << sends_[0].body.dump();
    EXPECT_NE(sends_[0].url.find("/groups/5/action"), std::string::npos);
    EXPECT_EQ(settings().groups()[2].brightness, 250);

    // Shift+Tab back to the switch; Space switches off, Enter on again.
    key(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), kitchen->onOff());
    key(Qt::Key_Space);
    EXPECT_FALSE(settings().groups()[2].is_on);
    key(Qt::Key_Return);
    EXPECT_TRUE(settings().groups()[2].is_on);

    // On to the scene button: Enter opens the scenes, whose first has the
    // keyboard; Enter recalls it and the list closes.
    key(Qt::Key_Tab);  // past the slider
    key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), kitchen->sceneButton());
    key(Qt::Key_Return);
    ASSERT_TRUE(kitchen->scenePopover());
    // Escape there closes the scenes only.
    key(Qt::Key_Escape);
    QTest::qWait(20);
    EXPECT_FALSE(kitchen->scenePopover());
    EXPECT_TRUE(controller_->isShown());
    ASSERT_EQ(QApplication::focusWidget(), kitchen->sceneButton());
    key(Qt::Key_Return);
    ASSERT_TRUE(kitchen->scenePopover());
    auto* relax = qobject_cast<SceneButton*>(QApplication::focusWidget());
    ASSERT_TRUE(relax) << "the scene list took no focus";
    EXPECT_EQ(relax->accessibleName(), "Scene Relax");
    EXPECT_TRUE(relax->showsFocusRing());
    clearQueue();
    key(Qt::Key_Enter);
    const auto q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_NE(q[0].body.find("s-relax"), std::string::npos);
    QTest::qWait(20);
    EXPECT_FALSE(kitchen->scenePopover());

    // A click gives the focus without the ring.
    CustomSlider* living = row("Living room")->slider();
    QTest::mouseClick(living, Qt::LeftButton, {}, QPoint(20, 8));
    ASSERT_TRUE(living->hasFocus());
    EXPECT_EQ(ringPixels(living), 0);

    // Escape from a control closes the panel.
    ASSERT_TRUE(controller_->isShown());
    key(Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !controller_->isShown(); }, 2000));
    EXPECT_FALSE(controller_->window()->isVisible());
}

TEST_F(PanelA11yTest, ArrowKeysOnTheColourControlsStartFromTheColourTheLightHas) {
    settings().setActiveMainPanel(MainPanels::lights);
    settings().mutateLights([](auto& ls) {
        ls[0].color_temperature = 500;  // the warm end
        ls[0].hue = 0;
        ls[0].saturation = 250;
    });
    open();
    auto* list = qobject_cast<ListLights*>(content_->body());
    ASSERT_TRUE(list);
    LightRow* lamp = list->rows().at(0);
    ASSERT_TRUE(lamp->temperatureBar() && lamp->hueField());
    clearQueue();
    // One step to the right of the warm end is still the warm end, not the
    // middle of the strip.
    lamp->temperatureBar()->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Right);
    exec_->runPending();
    EXPECT_EQ(settings().lights()[0].color_temperature, 500);
    key(Qt::Key_Left);
    exec_->runPending();
    EXPECT_EQ(settings().lights()[0].color_temperature,
              TemperatureBar::temperatureAt(171, 153, 500));
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(lamp->temperatureBar());
    EXPECT_NEAR(bar->valueInterface()->currentValue().toDouble(), 95, 0.5);

    // Red at full saturation: Right moves the hue on from red.
    lamp->hueField()->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Right);
    EXPECT_EQ(settings().lights()[0].hue, HueSatField::hueAt(9));
    EXPECT_EQ(settings().lights()[0].saturation, HueSatField::saturationAt(48));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(lamp->hueField())->text(QAccessible::Value),
              "hue 18°, saturation 94 %");
}

}  // namespace
}  // namespace lumora::panel

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(views_resources);)
