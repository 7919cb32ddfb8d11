#pragma once
// The command functions: each turns one user action into a queued request
// (and, for brightness, updates the program's own copy at once). Call them on
// the UI thread, with the queue the request goes to.

#include <cstdint>
#include <functional>
#include <string>

#include "base/dispatch.h"
#include "bridge/records.h"

namespace lumora {

// Where the commands put their requests and mirror their changes: the
// program's action queue and its copy of the bridge's state.
class CommandQueue {
  public:
    virtual ~CommandQueue() = default;
    virtual void addActionItem(ActionQueueItem item) = 0;
    // The stored bridge address and user, for bridge-wide commands.
    virtual std::string commandBridgeIP() const = 0;
    virtual std::string commandBridgeUser() const = 0;
    // Changes the program's copy of `lamp` (found by its identity); nothing
    // happens when it is gone.
    virtual void updateLocalLight(const HueLight& lamp,
                                  const std::function<void(HueLight&)>& change) = 0;
    virtual void updateLocalGroup(const HueGroup& group,
                                  const std::function<void(HueGroup&)>& change) = 0;
    virtual void commandLog(const std::string& line) = 0;
    // The time of day a command is stamped with as it is queued.
    virtual WallTime commandTime() const = 0;
};

void setLampOn(CommandQueue& queue, const HueLight& lamp, bool on);
void setLampBrightness(CommandQueue& queue, const HueLight& lamp, std::int64_t brightness);
void setLampHue(CommandQueue& queue, const HueLight& lamp, std::int64_t hue);
void setLampTemperature(CommandQueue& queue, const HueLight& lamp, std::int64_t temperature);
void setGroupOn(CommandQueue& queue, const HueGroup& group, bool on);
void setGroupBrightness(CommandQueue& queue, const HueGroup& group, std::int64_t brightness);
void groupBrightnessIncrease(CommandQueue& queue, const HueGroup& group, std::int64_t brightness);
void setGroupHue(CommandQueue& queue, const HueGroup& group, std::int64_t hue);
void setGroupTemperature(CommandQueue& queue, const HueGroup& group, std::int64_t temperature);
void recallScene(CommandQueue& queue, const std::string& sceneId);
void autoOffInMinutes(CommandQueue& queue, std::int64_t minutes);

// "PT01:00:00" for 60 minutes.
std::string scheduleLocaltime(std::int64_t minutes);

}  // namespace lumora
