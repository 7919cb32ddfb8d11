#include <gtest/gtest.h>

#include "support/delegate_fixture.h"

using namespace lumora;

namespace {

std::vector<HueLight> lights(std::initializer_list<const char*> ids, const char* name = "fresh") {
    std::vector<HueLight> out;
    for (auto id : ids) {
        HueLight l;
        l.lamp_id = id;
        l.name = name;
        out.push_back(l);
    }
    return out;
}

std::vector<std::string> ids(const std::vector<HueLight>& ls) {
    std::vector<std::string> out;
    for (auto& l : ls) out.push_back(l.lamp_id);
    return out;
}

using OrderingTest = DelegateFixture;
}  // namespace

TEST_F(OrderingTest, StoredOrderComesFirstThenTheRestInBridgeOrder) {
    store_->setString("lightOrder", "3,1");
    EXPECT_EQ(ids(orderedLights(lights({"1", "2", "3"}), *store_)),
              (std::vector<std::string>{"3", "1", "2"}));
    store_->setString("lightOrder", "9,2,,1,2");
    EXPECT_EQ(ids(orderedLights(lights({"1", "2", "3"}), *store_)),
              (std::vector<std::string>{"2", "1", "3"}));
    store_->remove("lightOrder");
    EXPECT_EQ(loadDeviceOrder(*store_), std::vector<std::string>{""});
    saveDeviceOrder(lights({"4", "2"}), *store_);
    EXPECT_EQ(store_->string("lightOrder"), "4,2");
}

TEST_F(OrderingTest, MergeKeepsKnownOrderTakesFreshRecordsAndAppendsNewcomers) {
    auto merged =
        delegate_->mergeOrderedLightListWithNew(lights({"2", "1"}, "old"), lights({"1", "2", "4"}));
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "1", "4"}));
    for (auto& l : merged) EXPECT_EQ(l.name, "fresh");

    // A light that went away drops out and comes back at the end.
    merged = delegate_->mergeOrderedLightListWithNew(merged, lights({"2", "4"}));
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "4"}));
    merged = delegate_->mergeOrderedLightListWithNew(merged, lights({"1", "2", "4"}));
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "4", "1"}));
}

TEST_F(OrderingTest, IndexLookupsCompareBridgeIdsOnly) {
    delegate_->settings().setLights(lights({"5", "6"}));
    HueGroup a, b;
    a.group_id = "1";
    b.group_id = "2";
    delegate_->settings().setGroups({a, b});
    HueLight old;
    old.lamp_id = "6";
    old.name = "an older copy";
    EXPECT_EQ(delegate_->getLampIndex(old), 1);
    old.lamp_id = "7";
    EXPECT_EQ(delegate_->getLampIndex(old), -1);
    HueGroup copy;  // fresh identity, same bridge id
    copy.group_id = "2";
    EXPECT_EQ(delegate_->getGroupIndex(copy), 1);
}

TEST_F(OrderingTest, ScenesSortByIdStably) {
    std::vector<HueScene> scenes(3);
    scenes[0].scene_id = "b";
    scenes[1].scene_id = "a";
    scenes[1].name = "first a";
    scenes[2].scene_id = "a";
    scenes[2].name = "second a";
    auto sorted = orderedScenes(scenes);
    EXPECT_EQ(sorted[0].name, "first a");
    EXPECT_EQ(sorted[1].name, "second a");
    EXPECT_EQ(sorted[2].scene_id, "b");
}
