#include <gtest/gtest.h>

#include "app/app_settings.h"
#include "support/manual_executor.h"

using namespace lumora;

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void TearDown() override { exec_.runPending(); }
    ManualExecutor exec_;
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
};

}  // namespace

TEST_F(SettingsTest, FirstStartStoresExactlyTheDisplayDefaults) {
    AppSettings s(store_, exec_);
    EXPECT_TRUE(store_->snapshot().empty()) << "construction reads and writes nothing";
    s.loadFromStore();
    // What is read back matches what was stored.
    EXPECT_TRUE(s.showColorBarsForRooms());
    EXPECT_TRUE(s.showColorBarsForLights());
    EXPECT_FALSE(s.showScenes());
    EXPECT_FALSE(s.showZones());
    EXPECT_EQ(s.activeMainPanel(), MainPanels::lights);
    const std::map<std::string, DefaultsValue> expected{
        {"showColorBarsForRooms", true},
        {"showColorBarsForLights", true},
        {"showScenes", false},
        {"showZones", false},
        {"activePanel", std::int64_t{0}},
    };
    EXPECT_EQ(store_->snapshot(), expected);
}

TEST_F(SettingsTest, LoadsStoredValuesAndIgnoresWrongKinds) {
    store_->setString("bridgeIP", "192.168.1.20");
    store_->setString("bridgeUser", "abc");
    store_->setInteger("appIcon", 3);  // wrong kind: counts as missing
    store_->setInteger("keyIncrement", 0);
    store_->setInteger("preferredWindowHeightRooms", 410);
    store_->setBool("showColorBarsForRooms", false);
    store_->setBool("showZones", true);
    store_->setInteger("activePanel", 2);
    AppSettings s(store_, exec_);
    s.loadFromStore();
    EXPECT_EQ(s.hueIP(), "192.168.1.20");
    EXPECT_EQ(s.hueKey(), "abc");
    EXPECT_EQ(s.appIcon(), "Icon_Lamp0");
    EXPECT_EQ(s.keyIncrement(), 50);
    EXPECT_EQ(store_->integer("keyIncrement"), 0) << "the stored 0 stays until changed";
    EXPECT_EQ(s.presetWindowHeightRooms(), 410);
    EXPECT_FALSE(s.showColorBarsForRooms());
    EXPECT_TRUE(s.showZones());
    EXPECT_EQ(s.activeMainPanel(), MainPanels::lights) << "the active list is never loaded";
    EXPECT_EQ(store_->integer("activePanel"), 0) << "showScenes false resets it";
}

TEST_F(SettingsTest, AStoredUrlLoadsAsTheBareAddressAndNonsenseStaysVisible) {
    store_->setString("bridgeIP", " http://192.168.1.20:80/\xE2\x80\xA8");
    AppSettings s(store_, exec_);
    s.loadFromStore();
    EXPECT_EQ(s.hueIP(), "192.168.1.20:80");
    store_->setString("bridgeIP",
                      "\xC2\xA0"
                      "192.168.1.20 /x ");
    s.loadFromStore();
    EXPECT_EQ(s.hueIP(), "192.168.1.20 /x");
}

TEST_F(SettingsTest, PreferredHeightFollowsTheActiveList) {
    AppSettings s(store_, exec_);
    s.loadFromStore();
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 330);
    s.setLights({HueLight{}});
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 200);
    s.setPresetWindowHeightLights(420);
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 420);

    s.setActiveMainPanel(MainPanels::rooms);
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 330);
    s.setGroups({HueGroup{}});
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 200);

    s.setActiveMainPanel(MainPanels::scenes);
    EXPECT_EQ(s.getCurrentPreferredWindowHeight(), 0);
    EXPECT_FALSE(mainPanelsFromRaw(3));
    EXPECT_EQ(mainPanelsFromRaw(1), MainPanels::rooms);
}

TEST_F(SettingsTest, ObserversOfASwitchSeeTheHeightsHeldBeforeTheReload) {
    AppSettings s(store_, exec_);
    s.setGroups({HueGroup{}});
    s.setPresetWindowHeightRooms(300);                      // in memory
    store_->setInteger("preferredWindowHeightRooms", 500);  // on disk
    std::vector<std::int64_t> heights;
    s.addObserver([&](AppSettings::Field f) {
        if (f == AppSettings::Field::activeMainPanel)
            heights.push_back(s.getCurrentPreferredWindowHeight());
    });
    s.setActiveMainPanel(MainPanels::rooms);
    EXPECT_EQ(heights, std::vector<std::int64_t>{300});
    EXPECT_EQ(store_->integer("activePanel"), 1);
    EXPECT_EQ(s.presetWindowHeightRooms(), 300) << "the reload is queued, not inline";
    exec_.runPending();
    EXPECT_EQ(s.presetWindowHeightRooms(), 500);
}

TEST_F(SettingsTest, SwitchSideEffectsAndObservers) {
    AppSettings s(store_, exec_);
    std::vector<AppSettings::Field> seen;
    s.addObserver([&](AppSettings::Field f) {
        // Observers see the new value already stored.
        if (f == AppSettings::Field::showScenes) {
            EXPECT_EQ(s.showScenes(), store_->boolean("showScenes"));
        }
        seen.push_back(f);
    });
    s.setActiveMainPanel(MainPanels::scenes);
    s.setShowScenes(true);
    s.setShowScenes(false);
    EXPECT_EQ(store_->integer("activePanel"), 0);
    EXPECT_EQ(s.activeMainPanel(), MainPanels::scenes) << "only the stored value is reset";
    s.setShowColorBarsForLights(false);
    EXPECT_FALSE(store_->boolean("showColorBarsForLights"));
    s.setHueIP("1.2.3.4");
    EXPECT_FALSE(store_->contains("bridgeIP")) << "the address is stored only after a good fetch";
    EXPECT_EQ(seen.size(), 5u);
}

TEST_F(SettingsTest, LogKeepsAtMostAThousandAndOneLines) {
    AppSettings s(store_, exec_);
    testing::internal::CaptureStdout();
    for (int i = 1; i <= 1001; ++i) s.logger("line " + std::to_string(i));
    EXPECT_EQ(s.log().size(), 1001u);
    s.logger("line 1002");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.log(), std::vector<std::string>{"line 1002"});
    EXPECT_NE(out.find("line 1\nline 2\n"), std::string::npos);
}
