#include "bridge/commands.h"

#include <cstdio>

#include "bridge/http.h"

namespace lumora {
namespace {

std::string lightAddress(const HueLight& l) {
    return "http://" + l.hue_ip + "/api/" + l.hue_key + "/lights/" + l.lamp_id + "/state";
}
std::string groupAddress(const HueGroup& g) {
    return "http://" + g.hue_ip + "/api/" + g.hue_key + "/groups/" + g.group_id + "/action";
}

// The queue, if the address forms a URL; otherwise the command is dropped
// with one line in the log.
CommandQueue* usable(CommandQueue& q, const std::string& address) {
    if (!parseUrl(address)) {
        q.commandLog("Dropped a command: \"" + address + "\" is not a valid address");
        return nullptr;
    }
    return &q;
}

template <typename Body>
void queue(CommandQueue* d, const std::string& address, const Body& body, bool light, bool group,
           const std::string& itemId, const char* property) {
    d->addActionItem(ActionQueueItem{address, encodeBody(body), d->commandTime(), light, group,
                                     itemId, property});
}

}  // namespace

void setLampOn(CommandQueue& q, const HueLight& lamp, bool on) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(q, url))
        queue(d, url, HueLampOnOffUpdate{on}, true, false, lamp.lamp_id, "on");
}

void setLampBrightness(CommandQueue& q, const HueLight& lamp, std::int64_t brightness) {
    const std::string url = lightAddress(lamp);
    auto* d = usable(q, url);
    if (!d) return;
    const bool on = brightness >= 5;
    d->updateLocalLight(lamp, [&](HueLight& l) { l.is_on = on; });
    queue(d, url, HueLampBrightnessUpdate{brightness, on, 2}, true, false, lamp.lamp_id,
          "brightness");
}

void setLampHue(CommandQueue& q, const HueLight& lamp, std::int64_t hue) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(q, url))
        queue(d, url, HueLampHueSatUpdate{hue, lamp.saturation, true, 2}, true, false, lamp.lamp_id,
              "hue");
}

void setLampTemperature(CommandQueue& q, const HueLight& lamp, std::int64_t temperature) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(q, url))
        queue(d, url, HueLampTemperatureUpdate{temperature, true, 2}, true, false, lamp.lamp_id,
              "ct");
}

void setGroupOn(CommandQueue& q, const HueGroup& group, bool on) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(q, url))
        queue(d, url, HueGroupStateUpdate{on}, false, true, group.group_id, "on");
}

void setGroupBrightness(CommandQueue& q, const HueGroup& group, std::int64_t brightness) {
    const std::string url = groupAddress(group);
    auto* d = usable(q, url);
    if (!d) return;
    const bool on = brightness >= 5;
    d->updateLocalGroup(group, [&](HueGroup& g) { g.is_on = on; });
    queue(d, url, HueGroupBrightnessUpdate{brightness, on, 2}, false, true, group.group_id,
          "brightness");
}

void groupBrightnessIncrease(CommandQueue& q, const HueGroup& group, std::int64_t step) {
    const std::string url = groupAddress(group);
    auto* d = usable(q, url);
    if (!d) return;
    bool on = true;  // an unknown room is switched on
    // Mirrors the bridge's own sum for the views until the next refresh.
    d->updateLocalGroup(group, [&](HueGroup& g) {
        std::int64_t b = g.brightness + step;
        if (b < 0) b = 0;
        if (b >= 256) b = 255;
        g.brightness = b;
        g.is_on = b >= 5;
        on = g.is_on;
    });
    queue(d, url, HueGroupBrightnessIncrease{step, 1, on}, false, true, group.group_id,
          "brightness_increase");
}

void setGroupHue(CommandQueue& q, const HueGroup& group, std::int64_t hue) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(q, url))
        queue(d, url, HueGroupHueUpdate{hue, group.saturation, true, 2}, false, true,
              group.group_id, "hue");
}

void setGroupTemperature(CommandQueue& q, const HueGroup& group, std::int64_t temperature) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(q, url))
        queue(d, url, HueGroupTemperatureUpdate{temperature, true, 2}, false, true, group.group_id,
              "ct");
}

void recallScene(CommandQueue& q, const std::string& sceneId) {
    const std::string url =
        "http://" + q.commandBridgeIP() + "/api/" + q.commandBridgeUser() + "/groups/0/action";
    if (auto* d = usable(q, url))
        queue(d, url, HueSceneRecall{sceneId}, false, false, sceneId, "scene");
}

std::string scheduleLocaltime(std::int64_t minutes) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "PT%02lld:%02lld:00", static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
    return buf;
}

void autoOffInMinutes(CommandQueue& q, std::int64_t minutes) {
    const std::string user = q.commandBridgeUser();
    const std::string url = "http://" + q.commandBridgeIP() + "/api/" + user + "/schedules";
    auto* d = usable(q, url);
    if (!d) return;
    HueScheduleOffMinutes body{{"/api/" + user + "/groups/0/action", "PUT", {false}},
                               true,
                               scheduleLocaltime(minutes),
                               true};
    queue(d, url, body, false, false, "", "schedule");
}

}  // namespace lumora
