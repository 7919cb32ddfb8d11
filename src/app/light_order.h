#pragma once
// The user's order of the lights, stored under "lightOrder", and the order of
// scenes in a room's list.

#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "bridge/records.h"

namespace lumora {

std::vector<std::string> loadDeviceOrder(const DefaultsStore& store);
void saveDeviceOrder(const std::vector<HueLight>& lights, DefaultsStore& store);
// The stored order first, then the rest in their order.
std::vector<HueLight> orderedLights(const std::vector<HueLight>& lights,
                                    const DefaultsStore& store);
// By id, stable.
std::vector<HueScene> orderedScenes(std::vector<HueScene> scenes);

// A fresh read merged into the list shown: the known lights that are still
// there keep their places, new ones follow, every record is the fresh one,
// and then the stored order applies.
std::vector<HueLight> mergeOrderedLightListWithNew(const std::vector<HueLight>& existing,
                                                   const std::vector<HueLight>& fresh,
                                                   const DefaultsStore& store);

}  // namespace lumora
