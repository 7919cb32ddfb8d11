// The panel's views under the offscreen platform, driven with mouse events;
// the assertions are on AppSettings and on the queued bridge commands.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "panel/views/content_view.h"
#include "panel/views/panel_lists.h"
#include "support/controller_fixture.h"
#include "support/qt_test_main.h"
#include "ui/panel_tab.h"

namespace lumora::panel {
namespace {

class ViewsTest : public ControllerFixture {
  protected:
    // Shows a widget 200 wide so rows get their real geometry.
    template <typename W>
    std::unique_ptr<W> shown(std::unique_ptr<W> w) {
        w->resize(200, 600);
        w->show();
        QCoreApplication::processEvents();
        return w;
    }
    static void clickAt(QWidget* w, QPoint p) { QTest::mouseClick(w, Qt::LeftButton, {}, p); }
    // The queued items after the UI work has run, and the queue emptied.
    std::vector<ActionQueueItem> take() {
        auto items = queued();
        settings().setActionQueue({});
        return items;
    }
};

TEST_F(ViewsTest, RoomRowControlsWriteTheRecordAtOnceAndQueueOneCommand) {
    HueLight white = lamp("3", false, true, true);
    HueLight colour = lamp("4", true, true, true);
    settings().setLights({white, colour});
    HueGroup warm = room("5", "Bedroom", "Room", {"3"});
    warm.ct_min = 153;
    warm.ct_max = 500;
    settings().setGroups({warm, room("6", "Kitchen", "room", {"3", "4"})});
    auto list = shown(std::make_unique<ListGroups>(settings(), *controller_));
    ASSERT_EQ(list->rows().size(), 2u);
    GroupRow* bedroom = list->rows()[0];
    GroupRow* kitchen = list->rows()[1];
    take();

    // The slider's right end: full brightness, and on, before any reply.
    CustomSlider* s = bedroom->slider();
    clickAt(s, QPoint(s->width() - 1, 8));
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(s->width() + 30, 8));
    EXPECT_EQ(settings().groups()[0].brightness, 255);
    EXPECT_TRUE(settings().groups()[0].is_on);
    auto items = take();
    ASSERT_FALSE(items.empty());
    EXPECT_NE(items.back().url.find("/groups/5/action"), std::string::npos);
    EXPECT_NE(items.back().body.find("255"), std::string::npos);

    // White-only room: the temperature bar; a release at x = 90 sets 326.
    ASSERT_TRUE(bedroom->temperatureBar());
    EXPECT_FALSE(bedroom->hueField());
    QTest::mouseRelease(bedroom->temperatureBar(), Qt::LeftButton, {}, QPoint(90, 7));
    QCoreApplication::processEvents();
    EXPECT_EQ(settings().groups()[0].color_temperature, 326);
    items = take();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].body.find("\"ct\":326"), std::string::npos) << items[0].body;

    // A room with a colour light: the hue field; x = 90 gives 32767.
    ASSERT_TRUE(kitchen->hueField());
    EXPECT_FALSE(kitchen->temperatureBar());
    QTest::mousePress(kitchen->hueField(), Qt::LeftButton, {}, QPoint(90, 25));
    EXPECT_EQ(settings().groups()[1].hue, 32767);
    EXPECT_EQ(settings().groups()[1].saturation, 125);
    EXPECT_TRUE(settings().groups()[1].is_on);

    // On/off flips the row's state and sends only that.
    take();
    const bool was = settings().groups()[1].is_on;
    clickAt(kitchen->onOff(), QPoint(10, 6));
    EXPECT_EQ(settings().groups()[1].is_on, !was);
    items = take();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].body.find("\"on\":false"), std::string::npos) << items[0].body;
}

TEST_F(ViewsTest, ARowWhoseRecordVanishedIgnoresInput) {
    settings().setGroups({room("5", "Hall", "room")});
    auto list = shown(std::make_unique<ListGroups>(settings(), *controller_));
    GroupRow* hall = list->rows().at(0);
    HueGroup other = room("9", "Attic", "room");
    other.brightness = 17;
    // The hall is gone; the list has not caught up yet.
    settings().setGroups({other});
    take();
    clickAt(hall->slider(), QPoint(100, 8));
    EXPECT_EQ(settings().groups()[0].brightness, 17) << "another room must not change";
    EXPECT_TRUE(take().empty());
}

TEST_F(ViewsTest, ZonesAndRoomsSectionsAndTheirHeaders) {
    settings().setGroups({room("1", "Upstairs", "Zone"), room("2", "Kitchen", "Room"),
                          room("3", "TV area", "Entertainment"), room("4", "Bath", "room")});
    settings().setShowZones(true);
    auto list = shown(std::make_unique<ListGroups>(settings(), *controller_));
    EXPECT_EQ(list->headers(), (QStringList{"ZONES", "ROOMS"}));
    ASSERT_EQ(list->rows().size(), 3u);
    EXPECT_EQ(list->rows()[0]->group().name, "Upstairs");
    EXPECT_EQ(list->rows()[2]->group().name, "Bath");

    settings().setShowZones(false);
    list->sync();
    EXPECT_TRUE(list->headers().isEmpty());
    ASSERT_EQ(list->rows().size(), 2u);
    EXPECT_EQ(list->rows()[0]->group().name, "Kitchen");

    // Zones shown but no rooms: the rooms section has no header.
    settings().setShowZones(true);
    settings().setGroups({room("1", "Upstairs", "zone")});
    list->sync();
    EXPECT_EQ(list->headers(), (QStringList{"ZONES"}));
}

TEST_F(ViewsTest, TheSceneButtonNeedsScenesAndTheSwitchAndRecallsOncePerClick) {
    settings().setGroups({room("5", "Living", "room"), room("6", "Hall", "room")});
    settings().setScenes({scene("s1", "Relax", "5"), scene("s2", "Read", "5")});
    settings().setShowScenes(false);
    auto list = shown(std::make_unique<ListGroups>(settings(), *controller_));
    EXPECT_FALSE(list->rows()[0]->sceneButton());
    settings().setShowScenes(true);
    list->sync();
    ASSERT_TRUE(list->rows()[0]->sceneButton());
    EXPECT_FALSE(list->rows()[1]->sceneButton()) << "the hall has no scenes";

    GroupRow* living = list->rows()[0];
    clickAt(living->sceneButton(), QPoint(5, 5));
    ASSERT_TRUE(living->scenePopover());
    auto buttons = living->scenePopover()->findChildren<SceneButton*>();
    ASSERT_EQ(buttons.size(), 2);
    take();
    clickAt(buttons[0], QPoint(20, 10));
    auto items = take();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].body.find("\"scene\":\"s"), std::string::npos) << items[0].body;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(living->scenePopover()) << "the popover closes after a pick";

    // The scenes panel: every scene, one recall each, hover raises the background.
    settings().setScenes({scene("a", "Morning", "5"), scene("b", "Night", "6")});
    auto scenes = shown(std::make_unique<ListScenes>(settings(), *controller_));
    ASSERT_EQ(scenes->buttons().size(), 2u);
    SceneButton* night = scenes->buttons()[1];
    take();
    clickAt(night, QPoint(30, 10));
    items = take();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].body.find("\"b\""), std::string::npos);
    EXPECT_DOUBLE_EQ(night->opacity(), 0.2);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(night, &enter);
    EXPECT_DOUBLE_EQ(night->opacity(), 0.5);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(night, &leave);
    EXPECT_DOUBLE_EQ(night->opacity(), 0.2);
}

TEST_F(ViewsTest, ALightRowHasTheControlsItsLightAllows) {
    settings().setLights({lamp("1", true, true, true), lamp("2", false, false, false),
                          lamp("3", false, true, true)});
    auto list = shown(std::make_unique<ListLights>(settings(), *controller_));
    ASSERT_EQ(list->rows().size(), 3u);
    LightRow* full = list->rows()[0];
    LightRow* plug = list->rows()[1];
    LightRow* white = list->rows()[2];
    EXPECT_TRUE(full->slider() && full->hueField() && full->temperatureBar());
    EXPECT_LT(full->hueField()->y(), full->temperatureBar()->y()) << "hue above temperature";
    EXPECT_FALSE(plug->slider() || plug->hueField() || plug->temperatureBar());
    EXPECT_TRUE(white->slider() && white->temperatureBar());
    EXPECT_FALSE(white->hueField());

    settings().setShowColorBarsForLights(false);
    list->sync();
    for (LightRow* r : list->rows()) EXPECT_FALSE(r->hueField() || r->temperatureBar());

    // Off by the button keeps the brightness and sends only on/off.
    settings().mutateLights([](auto& ls) {
        ls[0].is_on = true;
        ls[0].brightness = 80;
    });
    list->sync();
    take();
    clickAt(list->rows()[0]->onOff(), QPoint(10, 6));
    EXPECT_FALSE(settings().lights()[0].is_on);
    EXPECT_EQ(settings().lights()[0].brightness, 80);
    auto items = take();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].body, "{\"on\":false}");

    QTest::mousePress(list->rows()[2]->slider(), Qt::LeftButton, {}, QPoint(0, 8));
    EXPECT_EQ(settings().lights()[2].brightness, 0);
}

TEST_F(ViewsTest, TheColourBarsReachBothEndsBesideTheScrollBar) {
    std::vector<HueLight> lights;
    for (int i = 1; i <= 6; ++i) lights.push_back(lamp(std::to_string(i), true, true, true));
    settings().setLights(lights);
    auto list = std::make_unique<ListLights>(settings(), *controller_);
    list->resize(200, 300);
    list->show();
    QCoreApplication::processEvents();
    LightRow* row = list->rows()[0];
    TemperatureBar* bar = row->temperatureBar();
    HueSatField* field = row->hueField();
    ASSERT_LT(bar->width(), 180) << "the list scrolls, so the rows are narrower";
    ASSERT_EQ(field->width(), bar->width());

    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() - 1, 7));
    QCoreApplication::processEvents();
    EXPECT_GE(settings().lights()[0].color_temperature, 153 + (500 - 153) * 99 / 100);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(0, 7));
    QCoreApplication::processEvents();
    EXPECT_EQ(settings().lights()[0].color_temperature, 153);

    QTest::mousePress(field, Qt::LeftButton, {}, QPoint(field->width() - 1, 25));
    EXPECT_GE(settings().lights()[0].hue, 65535 * 99 / 100);
    QTest::mousePress(field, Qt::LeftButton, {}, QPoint(0, 25));
    EXPECT_EQ(settings().lights()[0].hue, 0);
}

TEST_F(ViewsTest, ARefreshThatChangesNothingRebuildsNothing) {
    settings().setGroups({room("5", "Living", "room")});
    auto list = shown(std::make_unique<ListGroups>(settings(), *controller_));
    const int before = list->rebuilds();
    GroupRow* row = list->rows()[0];
    // What a refresh does: fresh records with the same content.
    settings().setGroups({room("5", "Living", "room")});
    list->sync();
    EXPECT_EQ(list->rebuilds(), before);
    EXPECT_EQ(list->rows()[0], row);
    // A new value is shown in place.
    HueGroup brighter = room("5", "Living", "room");
    brighter.brightness = 200;
    settings().setGroups({brighter});
    list->sync();
    EXPECT_EQ(list->rebuilds(), before);
    EXPECT_NEAR(row->slider()->value(), 200 / 255.0, 1e-9);
    // A new room changes the rows.
    settings().setGroups({brighter, room("6", "Hall", "room")});
    list->sync();
    EXPECT_EQ(list->rebuilds(), before + 1);
}

class ContentViewTest : public ViewsTest {
  protected:
    std::unique_ptr<ContentView> make() {
        PanelActions a;
        a.closePanel = [this] { calls_.push_back("close"); };
        a.showSettings = [this] { calls_.push_back("settings"); };
        a.connectToBridge = [this] { calls_.push_back("connect"); };
        a.openURL = [this](const std::string& u) { calls_.push_back("open " + u); };
        a.reviewURL = "file:///review";
        a.version = "1.2.3";
        return shown(std::make_unique<ContentView>(settings(), *controller_, a));
    }
    std::vector<std::string> calls_;
};

TEST_F(ContentViewTest, TitleBodyAndTabsFollowTheState) {
    settings().setLights({});
    settings().setActiveMainPanel(MainPanels::rooms);
    auto view = make();
    EXPECT_TRUE(view->showsWelcomeTitle());
    EXPECT_EQ(view->bodyName(), "ListGroups");
    EXPECT_TRUE(view->roomsTab()->isSelected());

    clickAt(view->lightsTab(), QPoint(10, 5));
    EXPECT_EQ(settings().activeMainPanel(), MainPanels::lights);
    view->sync();
    EXPECT_EQ(view->bodyName(), "NoLights");
    EXPECT_FALSE(view->connectButton());
    settings().setNeedsLinkButton(true);
    view->sync();
    ASSERT_TRUE(view->connectButton());
    EXPECT_EQ(view->warningLabel()->text(), "Bridge responded: Press LINK BUTTON and retry");
    clickAt(view->connectButton(), QPoint(5, 5));
    EXPECT_EQ(calls_, std::vector<std::string>{"connect"});

    settings().setActiveMainPanel(MainPanels::scenes);
    view->sync();
    EXPECT_EQ(view->bodyName(), "NoScenes");
    EXPECT_FALSE(view->lightsTab()->isSelected() || view->roomsTab()->isSelected());

    settings().setLights({lamp("1", false, false, true)});
    settings().setActiveMainPanel(MainPanels::lights);
    view->sync();
    EXPECT_FALSE(view->showsWelcomeTitle());
    EXPECT_EQ(view->bodyName(), "ListLights");
}

TEST_F(ContentViewTest, TheGearClosesFirstAndTheReviewIsStoredAndWithdrawn) {
    settings().setLights({lamp("1", false, false, true)});
    auto view = make();
    clickAt(view->settingsButton(), QPoint(5, 5));
    EXPECT_EQ(calls_, (std::vector<std::string>{"close", "settings"}));

    settings().setShowReviewRequest(true);
    view->sync();
    ASSERT_TRUE(view->reviewButton()->isVisible());
    calls_.clear();
    clickAt(view->reviewButton(), QPoint(5, 5));
    EXPECT_EQ(calls_, std::vector<std::string>{"open file:///review"});
    EXPECT_TRUE(store_->boolean("noMoreReviewRequests"));
    EXPECT_EQ(store_->string("reviewedVersion").value_or(""), "1.2.3");
    EXPECT_FALSE(settings().showReviewRequest());
    view->sync();
    EXPECT_FALSE(view->reviewButton()->isVisible());
}

TEST_F(ContentViewTest, AClosedPanelCatchesUpWhenItOpens) {
    settings().setLights({});
    auto view = make();
    view->hide();
    settings().setLights({lamp("1", false, false, true)});
    QCoreApplication::processEvents();
    view->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->bodyName(), "ListLights");
    EXPECT_FALSE(view->showsWelcomeTitle());
    auto* list = qobject_cast<ListLights*>(view->body());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rows().size(), 1u);
}

}  // namespace
}  // namespace lumora::panel

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(views_resources);)
