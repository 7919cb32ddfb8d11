#pragma once
// The command functions: each turns one user action into a queued request
// (and, for brightness, updates the program's own copy at once). Call them on
// the UI thread.

#include <cstdint>
#include <string>

#include "bridge/records.h"

namespace lumora {

void setLampOn(const HueLight& lamp, bool on);
void setLampBrightness(const HueLight& lamp, std::int64_t brightness);
void setLampHue(const HueLight& lamp, std::int64_t hue);
void setLampTemperature(const HueLight& lamp, std::int64_t temperature);
void setGroupOn(const HueGroup& group, bool on);
void setGroupBrightness(const HueGroup& group, std::int64_t brightness);
void groupBrightnessIncrease(const HueGroup& group, std::int64_t brightness);
void setGroupHue(const HueGroup& group, std::int64_t hue);
void setGroupTemperature(const HueGroup& group, std::int64_t temperature);
void recallScene(const std::string& sceneId);
void autoOffInMinutes(std::int64_t minutes);

// "PT01:00:00" for 60 minutes.
std::string scheduleLocaltime(std::int64_t minutes);

}  // namespace lumora
