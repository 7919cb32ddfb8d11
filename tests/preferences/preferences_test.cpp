// The settings window and its Advanced, Lights and Information panes under
// the offscreen platform; assertions on AppSettings and the defaults store.

#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrlQuery>
#include <filesystem>

#include "app/linux/launch_at_login.h"
#include "panel/views/panel_lists.h"
#include "preferences/advanced_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"
#include "preferences/settings_form.h"
#include "preferences/site_pages.h"
#include "support/controller_fixture.h"
#include "support/qt_test_main.h"

namespace lumora::prefs {
namespace {
namespace fs = std::filesystem;

const std::string kSite =
    QUrl::fromLocalFile(LUMORA_SOURCE_RESOURCES "/site/").toString().toStdString();

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    QCoreApplication::processEvents();
}

class WindowTest : public ::testing::Test {
  protected:
    // A pane of a given height that counts how often it was made.
    PaneEntry pane(const std::string& id, int height) {
        return PaneEntry{id, QString::fromStdString(id), QStringLiteral("no-such-icon-here"),
                         QStringLiteral(":/preferences/advanced.svg"),
                         [this, id, height](QWidget* parent) {
                             auto* w = new QWidget(parent);
                             w->setObjectName(QString::fromStdString(id));
                             w->setFixedSize(450, height);
                             ++made[id];
                             return w;
                         }};
    }
    InMemoryDefaultsStore store;
    std::map<std::string, int> made;
};

TEST_F(WindowTest, ToolbarOnlyWithMoreThanOnePaneEachWithItsTitleAndAnImage) {
    PreferencesWindow single({pane("a", 100)}, store);
    single.show();
    EXPECT_FALSE(single.toolBar()->isVisible());
    EXPECT_EQ(single.currentPaneId(), "a");

    PreferencesWindow two({pane("a", 100), pane("b", 200)}, store);
    two.show();
    ASSERT_TRUE(two.toolBar()->isVisible());
    auto* button = qobject_cast<QToolButton*>(two.toolBar()->widgetForAction(two.paneAction("b")));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "b");
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    // The theme has no such icon: the bundled one stands in.
    EXPECT_FALSE(button->icon().isNull());
}

TEST_F(WindowTest, ShowPicksThePaneMakesItAfreshAndTheWindowTakesItsSize) {
    PreferencesWindow w({pane("a", 100), pane("b", 300)}, store);
    w.show("b");
    EXPECT_EQ(w.currentPaneId(), "b");
    EXPECT_EQ(w.currentPane()->objectName(), "b");
    EXPECT_TRUE(w.paneAction("b")->isChecked());
    EXPECT_FALSE(w.paneAction("a")->isChecked());
    QPointer<QWidget> first = w.currentPane();
    const int tall = w.height();

    // Showing the same pane again makes a new one and the old one is gone.
    w.show("b");
    QCoreApplication::processEvents();
    EXPECT_EQ(made["b"], 2);
    EXPECT_TRUE(first.isNull());

    // Empty or unknown: the first pane. The window shrinks to it.
    w.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.currentPaneId(), "a");
    EXPECT_EQ(w.height(), tall - 200);
    w.show("nonsense");
    EXPECT_EQ(w.currentPaneId(), "a");
    EXPECT_EQ(made["a"], 2);

    // The toolbar switches panes; pressing the current one rebuilds nothing.
    QPointer<QWidget> a = w.currentPane();
    w.paneAction("b")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.currentPaneId(), "b");
    EXPECT_TRUE(a.isNull());
    w.paneAction("b")->trigger();
    EXPECT_EQ(made["b"], 3);
    EXPECT_TRUE(w.isVisible());

    // Closed, the window lets its pane go; the next show makes it again.
    QPointer<QWidget> b = w.currentPane();
    w.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(b.isNull());
    EXPECT_EQ(w.currentPane(), nullptr);
    w.show("b");
    EXPECT_EQ(made["b"], 4);
    EXPECT_NE(w.currentPane(), nullptr);
}

TEST_F(WindowTest, TheFrameIsRememberedAcrossWindowsButNotRestoredOffScreen) {
    QSize size;
    {
        PreferencesWindow w({pane("a", 200)}, store);
        w.show();
        w.move(37, 53);
        QCoreApplication::processEvents();
        size = w.frameGeometry().size();
        w.hide();
    }
    const std::string frame = store.string(PreferencesWindow::kFrameKey).value_or("");
    EXPECT_EQ(frame, "37 53 " + std::to_string(size.width()) + " " + std::to_string(size.height()));
    {
        PreferencesWindow w({pane("a", 200)}, store);
        w.show();
        EXPECT_EQ(w.pos(), QPoint(37, 53));
    }
    // A frame on a screen that is gone is not where the window goes.
    store.setString(PreferencesWindow::kFrameKey, "40000 30000 450 200");
    PreferencesWindow w({pane("a", 200)}, store);
    w.show();
    EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(w.pos())) << w.pos().x();
}

class AdvancedTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        login_ = std::make_unique<LaunchAtLogin>(dir_.path().toStdString(), "/usr/bin/lumora");
    }
    void TearDown() override {
        pane_.reset();
        ControllerFixture::TearDown();
    }
    AdvancedPane& pane() {
        pane_ = std::make_unique<AdvancedPane>(
            settings(), *login_, [this](const std::string& n) { trayIcons.push_back(n); },
            [this](const std::string& u) { opened.push_back(u); }, kSite);
        pane_->show();
        QCoreApplication::processEvents();
        return *pane_;
    }
    QTemporaryDir dir_;
    std::unique_ptr<LaunchAtLogin> login_;
    std::unique_ptr<AdvancedPane> pane_;
    std::vector<std::string> trayIcons;
    std::vector<std::string> opened;
};

TEST_F(AdvancedTest, DisplaySwitchesWriteTheSettingsAndFollowChangesMadeElsewhere) {
    settings().setShowColorBarsForRooms(true);
    settings().setShowColorBarsForLights(true);
    settings().setShowZones(false);
    settings().setShowScenes(true);
    AdvancedPane& p = pane();
    EXPECT_EQ(p.form()->labelFor(p.colorBarsForRooms())->text(), "Show color bars for rooms");
    click(p.colorBarsForRooms());
    EXPECT_FALSE(settings().showColorBarsForRooms());
    EXPECT_FALSE(store_->boolean("showColorBarsForRooms"));
    EXPECT_TRUE(settings().showColorBarsForLights());
    click(p.showZones());
    EXPECT_TRUE(settings().showZones());
    EXPECT_TRUE(store_->boolean("showZones"));
    click(p.showScenePanel());
    EXPECT_FALSE(store_->boolean("showScenes"));

    settings().setShowColorBarsForLights(false);
    EXPECT_FALSE(p.colorBarsForLights()->isChecked());
    // A pane that is gone has let go of the settings.
    pane_.reset();
    settings().setShowZones(false);
}

TEST_F(AdvancedTest, ChoosingAnIconSetsTheTrayAtOnceAndSurvivesARestart) {
    AdvancedPane& p = pane();
    EXPECT_EQ(p.appIcon()->current(), "Icon_Lamp0");
    click(p.appIcon()->segment("Icon_Lamp2"));
    EXPECT_EQ(trayIcons, std::vector<std::string>{"Icon_Lamp2"});
    EXPECT_EQ(settings().appIcon(), "Icon_Lamp2");
    EXPECT_EQ(store_->string("appIcon"), "Icon_Lamp2");

    AppSettings restarted(store_, *exec_);
    restarted.loadFromStore();
    EXPECT_EQ(restarted.appIcon(), "Icon_Lamp2");
    // The next pane starts at the stored choice.
    EXPECT_EQ(pane().appIcon()->current(), "Icon_Lamp2");
}

TEST_F(AdvancedTest, RunAtStartWritesAndRemovesTheAutostartEntry) {
    AdvancedPane& p = pane();
    EXPECT_FALSE(p.runAtStart()->isChecked());
    click(p.runAtStart());
    EXPECT_TRUE(fs::exists(login_->entryFile()));
    EXPECT_TRUE(p.runAtStart()->isChecked());
    // A new pane reads the entry, not a remembered value.
    EXPECT_TRUE(pane().runAtStart()->isChecked());
    click(pane_->runAtStart());
    EXPECT_FALSE(fs::exists(login_->entryFile()));
    EXPECT_FALSE(pane_->runAtStart()->isChecked());
}

TEST_F(AdvancedTest, SupportButtonsOpenBundledPagesThatExist) {
    AdvancedPane& p = pane();
    click(p.helpButton());
    click(p.feedbackButton());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], kSite + "faq/index.html");
    EXPECT_EQ(opened[1], kSite + "feedback/index.html");
    // Every page the settings window links to ships with the program.
    for (const char* page : {"faq", "feedback", "donate", "app_view"}) {
        const QUrl url(QString::fromStdString(sitePage(kSite, page)));
        EXPECT_TRUE(QFileInfo::exists(url.toLocalFile())) << page;
    }
}

class LightsTest : public ControllerFixture {
  protected:
    static HueLight named(const std::string& id, const std::string& name, const std::string& uid) {
        HueLight l = light(id);
        l.name = name;
        l.unique_id = uid;
        return l;
    }
    std::unique_ptr<LightsPane> pane() {
        auto p = std::make_unique<LightsPane>(settings());
        p->show();
        QCoreApplication::processEvents();
        return p;
    }
    static void flip(LampSelectorView* v, int row) {
        QListWidget* list = v->list();
        const QRect r = LampRowDelegate::switchRect(list->visualItemRect(list->item(row)));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QCoreApplication::processEvents();
    }
    std::vector<std::string> panelIds(AppSettings& s) {
        panel::ListLights panelList(s, *controller_);
        std::vector<std::string> ids;
        for (auto* row : panelList.rows()) ids.push_back(row->light().lamp_id);
        return ids;
    }
};

// Hidden is kept per unique id: two lights of one name are apart.
TEST_F(LightsTest, HidingALightTakesItOffThePanelButNotOffThePane) {
    settings().setLights(
        {named("1", "Desk", "u1"), named("2", "Desk", "u2"), named("7", "Porch", "u7")});
    // The panel's list is open all the while.
    panel::ListLights open(settings(), *controller_);
    open.show();
    auto openIds = [&] {
        QCoreApplication::processEvents();
        std::vector<std::string> out;
        for (auto* row : open.rows()) out.push_back(row->light().lamp_id);
        return out;
    };
    auto p = pane();
    LampSelectorView* v = p->selector();
    EXPECT_FALSE(store_->contains("hide_light_u2"));
    flip(v, 1);
    EXPECT_TRUE(store_->boolean("hide_light_u2"));
    EXPECT_FALSE(store_->contains("hide_light_u1"));
    EXPECT_TRUE(v->toggle(1)->lightHidden());
    EXPECT_FALSE(v->toggle(0)->lightHidden());
    EXPECT_EQ(v->list()->count(), 3);
    EXPECT_EQ(openIds(), (std::vector<std::string>{"1", "7"}));
    EXPECT_EQ(panelIds(settings()), (std::vector<std::string>{"1", "7"}));
    EXPECT_EQ(settings().lights().size(), 3u) << "the hidden light stays known";
    // A new pane shows it, switched off.
    auto again = pane();
    EXPECT_EQ(again->selector()->list()->count(), 3);
    EXPECT_TRUE(again->selector()->toggle(1)->lightHidden());
    flip(again->selector(), 1);
    EXPECT_TRUE(store_->contains("hide_light_u2"));
    EXPECT_FALSE(store_->boolean("hide_light_u2"));
    EXPECT_EQ(openIds(), (std::vector<std::string>{"1", "2", "7"}));
    // A press on the name rather than the switch changes nothing.
    QListWidget* list = again->selector()->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_FALSE(store_->contains("hide_light_u1"));
}

TEST_F(LightsTest, ThePaneKeepsTheCopyItWasMadeWith) {
    settings().setLights({named("1", "Desk", "u1")});
    auto p = pane();
    settings().setLights({named("1", "Desk", "u1"), named("2", "Hall", "u2")});
    EXPECT_EQ(p->selector()->list()->count(), 1);
    EXPECT_EQ(pane()->selector()->list()->count(), 2);
}

TEST(InformationAddress, SecondsSince2001InShortestFormWithAFractionAndTheVersion) {
    using namespace std::chrono;
    const system_clock::time_point ref{seconds(978307200)};
    EXPECT_EQ(informationPageAddress("https://lumora.invalid/", ref + milliseconds(1500), "1.2.3"),
              "https://lumora.invalid/app_view/?ac=1.5&v=1.2.3");
    // A whole number still has its fraction, and a large one is not written with an exponent.
    EXPECT_EQ(referenceSecondsText(ref + seconds(849000000)), "849000000.0");
    EXPECT_EQ(referenceSecondsText(ref - seconds(2)), "-2.0");
    // The bundled site has no server to find index pages.
    EXPECT_EQ(informationPageAddress("file:///opt/site", ref, "0.1.0"),
              "file:///opt/site/app_view/index.html?ac=0.0&v=0.1.0");
    // Read back, the text is the same double; and no shorter text would be.
    const auto t = ref + nanoseconds(812345678901234567);
    const std::string text = referenceSecondsText(t);
    const double exact = duration<double>(t.time_since_epoch() - seconds(978307200)).count();
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), exact) << text;
    const std::string shorter = text.substr(0, text.size() - 1);
    EXPECT_NE(std::strtod(shorter.c_str(), nullptr), exact) << text;
}

TEST(InformationPane, EachOpeningBuildsANewAddressAndWithoutTheWebViewOffersItAsALink) {
    // Whatever is installed, this run has no web view plugin.
    qputenv("LUMORA_WEBVIEW_PLUGIN", "/nonexistent/liblumora_webview.so");
    InMemoryDefaultsStore store;
    std::vector<std::string> opened;
    auto open = [&opened](const std::string& u) { opened.push_back(u); };
    PreferencesWindow w(
        {PaneEntry{"info", "Information", "", ":/preferences/information.svg",
                   [&](QWidget* parent) { return new InformationPane(kSite, open, parent); }}},
        store);
    auto link = [&w] { return static_cast<InformationPane*>(w.currentPane())->view()->link(); };
    w.show("info");
    const std::string first = link();
    // A pane takes far longer to build than the clock's last digit.
    w.show("info");
    const std::string second = link();
    auto ac = [](const std::string& a) {
        return QUrlQuery(QUrl(QString::fromStdString(a))).queryItemValue("ac").toStdString();
    };
    EXPECT_NE(ac(first), ac(second));
    EXPECT_FALSE(ac(first).empty());
    EXPECT_EQ(QUrlQuery(QUrl(QString::fromStdString(second))).queryItemValue("v"), LUMORA_VERSION);

    auto* pane = static_cast<InformationPane*>(w.currentPane());
    ASSERT_EQ(pane->view()->webView(), nullptr);
    ASSERT_NE(pane->view()->addressLink(), nullptr);
    emit pane->view()->addressLink()->linkActivated(
        QString(pane->view()->addressLink()->text()).section('"', 1, 1).replace("&amp;", "&"));
    emit pane->view()->donationLink()->linkActivated(
        pane->view()->donationLink()->text().section('"', 1, 1));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], second);
    EXPECT_EQ(opened[1], kSite + "donate/index.html");
    EXPECT_TRUE(pane->view()->donationLink()->text().contains(
        "Want to help? A coffee is always appreciated."));
}

}  // namespace
}  // namespace lumora::prefs

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(lumora); Q_INIT_RESOURCE(preferences);)
