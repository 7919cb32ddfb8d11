// The slot drop-down's entries and their agreement with what a slot's
// shortcut reads when it fires.
#include "app/group_action_options.h"

#include <gtest/gtest.h>

#include <set>

#include "app/hotkey_actions.h"

using namespace lumora;

namespace {

HueGroup named(const std::string& id, const std::string& name) {
    HueGroup g;
    g.group_id = id;
    g.name = name;
    return g;
}

TEST(GroupActionOptions, FourEntriesPerGroupAfterNoActionInListOrder) {
    EXPECT_EQ(calculateAvailableGroupOptions({}),
              (std::vector<GroupActionOption>{{"no_action", "(No Action)"}}));

    const auto options = calculateAvailableGroupOptions(
        {named("12", "Kitchen"), named("3", "Hall"), named("4", "Hall")},
        [](std::string_view english) { return "[" + std::string(english) + "]"; });
    ASSERT_EQ(options.size(), 13u);
    EXPECT_EQ(options[0], (GroupActionOption{"no_action", "[(No Action)]"}));
    EXPECT_EQ(options[1], (GroupActionOption{"12_on", "Kitchen [On]"}));
    EXPECT_EQ(options[4], (GroupActionOption{"12_darker", "Kitchen [Darker]"}));
    EXPECT_EQ(options[6], (GroupActionOption{"3_off", "Hall [Off]"}));

    // Two rooms of one name: the same titles, told apart by their ids.
    std::set<std::string> ids;
    for (const auto& o : options) ids.insert(o.id);
    EXPECT_EQ(ids.size(), options.size());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(options[5 + i].title, options[9 + i].title);
}

TEST(GroupActionOptions, EveryStoredChoiceIsWhatTheSlotFires) {
    InMemoryDefaultsStore store;
    for (int slot = 0; slot < kGroupHotkeySlots; ++slot)
        EXPECT_EQ(selectedGroupAction(store, slot), "no_action");

    const HotKeyGroupActions expected[] = {HotKeyGroupActions::on, HotKeyGroupActions::off,
                                           HotKeyGroupActions::brighter,
                                           HotKeyGroupActions::darker};
    const auto options = calculateAvailableGroupOptions({named("3", "Hall"), named("27", "Den")});
    for (size_t i = 0; i < options.size(); ++i) {
        const int slot = static_cast<int>(i % kGroupHotkeySlots);
        setSelectedGroupAction(store, slot, options[i].id);
        EXPECT_EQ(store.string("hotkeyCustomGroupAction" + std::to_string(slot)), options[i].id);
        EXPECT_EQ(selectedGroupAction(store, slot), options[i].id);
        const HotKeyGroupAction fired = getHotKeyGroupAction(slot, store);
        if (i == 0) {
            EXPECT_EQ(fired, HotKeyGroupAction{});
            continue;
        }
        EXPECT_EQ(fired.groupId, i <= 4 ? "3" : "27") << options[i].id;
        EXPECT_EQ(fired.action, expected[(i - 1) % 4]) << options[i].id;
    }
}

}  // namespace
