#include "app/light_order.h"

#include <gtest/gtest.h>

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

}  // namespace

TEST(LightOrder, StoredOrderComesFirstThenTheRestInBridgeOrder) {
    auto store_ = std::make_shared<InMemoryDefaultsStore>();
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

TEST(LightOrder, MergeKeepsKnownOrderTakesFreshRecordsAndAppendsNewcomers) {
    InMemoryDefaultsStore noOrder;
    auto merged =
        mergeOrderedLightListWithNew(lights({"2", "1"}, "old"), lights({"1", "2", "4"}), noOrder);
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "1", "4"}));
    for (auto& l : merged) EXPECT_EQ(l.name, "fresh");

    // A light that went away drops out and comes back at the end.
    merged = mergeOrderedLightListWithNew(merged, lights({"2", "4"}), noOrder);
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "4"}));
    merged = mergeOrderedLightListWithNew(merged, lights({"1", "2", "4"}), noOrder);
    EXPECT_EQ(ids(merged), (std::vector<std::string>{"2", "4", "1"}));
}

TEST(LightOrder, ScenesSortByIdStably) {
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
