#include "app/hotkey_actions.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "shortcuts/keyboard_shortcuts.h"
#include "support/controller_fixture.h"

using namespace lumora;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class HotkeyActionsTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        hotkeys_ = std::make_unique<HotkeyActions>(*controller_, controller_->services());
        std::vector<HueGroup> groups{group("3"), group("7")};
        for (auto& g : groups) {
            g.brightness = 100;
            g.saturation = 120;
        }
        settings().setGroups(groups);
    }
    const HueGroup& group(size_t i) { return settings().groups()[i]; }
    void TearDown() override {
        hotkeys_.reset();
        ControllerFixture::TearDown();
    }
    using ControllerFixture::group;
    std::unique_ptr<HotkeyActions> hotkeys_;
};
}  // namespace

TEST(HotkeySlots, ParseGroupAndActionOrNothing) {
    InMemoryDefaultsStore store;
    auto slot = [&](const char* value) {
        if (value)
            store.setString("hotkeyCustomGroupAction2", value);
        else
            store.remove("hotkeyCustomGroupAction2");
        return getHotKeyGroupAction(2, store);
    };
    // Well-formed entries: GroupActionOptions.EveryStoredChoiceIsWhatTheSlotFires.
    EXPECT_EQ(slot("__4__darker_"), (HotKeyGroupAction{HotKeyGroupActions::darker, "4"}))
        << "empty pieces drop";
    for (const char* nothing : {"no_action", "7_dim", "7", "7_on_x", "", "_on"})
        EXPECT_EQ(slot(nothing).action, HotKeyGroupActions::nothing) << nothing;
    EXPECT_EQ(slot(nullptr).action, HotKeyGroupActions::nothing);
    store.setInteger("hotkeyCustomGroupAction2", 7);
    EXPECT_EQ(getHotKeyGroupAction(2, store).action, HotKeyGroupActions::nothing);
}

TEST_F(HotkeyActionsTest, SlotActsOnlyOnItsGroup) {
    settings().mutateGroups([](auto& g) { g[0].is_on = g[1].is_on = true; });
    store_->setString("hotkeyCustomGroupAction0", "7_off");
    hotkeys_->applyGroupSlot(0);
    auto q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].item_id, "7");
    EXPECT_EQ(json::parse(q[0].body), json({{"on", false}}));
    EXPECT_FALSE(group(1).is_on);
    EXPECT_TRUE(group(0).is_on);

    store_->setString("hotkeyCustomGroupAction1", "9_on");
    hotkeys_->applyGroupSlot(1);
    EXPECT_EQ(queued().size(), 1u) << "a group that is gone does nothing";
}

TEST_F(HotkeyActionsTest, DarkerStepsEveryGroupDownAndMarksItOn) {
    settings().setKeyIncrement(50);
    hotkeys_->applyToAllGroups(AllGroupsAction::darker);
    auto q = queued();
    ASSERT_EQ(q.size(), 2u);
    for (const auto& item : q)
        EXPECT_EQ(json::parse(item.body),
                  json({{"bri_inc", -50}, {"transitiontime", 1}, {"on", true}}));
    EXPECT_TRUE(group(0).is_on);
    EXPECT_EQ(group(0).brightness, 50);
}

TEST_F(HotkeyActionsTest, WhiteUpdatesRecordsBeforeSending) {
    hotkeys_->applyToAllGroups(AllGroupsAction::white);
    EXPECT_EQ(group(0).saturation, 0);
    EXPECT_EQ(group(1).hue, 43413);
    auto q = queued();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(json::parse(q[1].body),
              json({{"hue", 43413}, {"sat", 0}, {"on", true}, {"transitiontime", 2}}));
    hotkeys_->applyToAllGroups(AllGroupsAction::red);
    EXPECT_EQ(json::parse(queued().back().body)["sat"], 255);
}

TEST_F(HotkeyActionsTest, RepeatedBrighterLeavesOnlyTheLastIncrementWaiting) {
    store_->setString("hotkeyCustomGroupAction4", "3_brighter");
    hotkeys_->applyGroupSlot(4);
    hotkeys_->applyGroupSlot(4);
    hotkeys_->applyGroupSlot(4);
    auto q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].property, "brightness_increase");
    EXPECT_EQ(group(0).brightness, 250) << "the local copy follows every press";
}

TEST_F(HotkeyActionsTest, ReleasedShortcutQueuesItsActionOnTheUIThread) {
    // Recorded in an earlier run: in the settings' store before start-up.
    const Shortcut combo(37, 4096 | 2048);  // control-option-L
    store_->setString("KeyboardShortcuts_allLightsOff", combo.json());
    hotkeys_->registerKeyboardHotkeys();
    EXPECT_EQ(hotkeys_->shortcuts().registeredShortcuts(), std::set<Shortcut>{combo});

    hotkeys_->shortcuts().handleOnKeyDown(combo);
    EXPECT_EQ(queued().size(), 0u) << "nothing runs on key-down";
    hotkeys_->shortcuts().handleOnKeyUp(combo);
    EXPECT_EQ(exec_->pendingUI(), 1u) << "the action is queued, not run inline";
    EXPECT_EQ(queued().size(), 2u);

    hotkeys_->shortcuts().setPaused(true);
    hotkeys_->shortcuts().handleOnKeyUp(combo);
    EXPECT_EQ(exec_->pendingUI(), 0u);
}
