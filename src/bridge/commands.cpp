#include "bridge/commands.h"

#include <cstdio>

#include "app/app_delegate.h"
#include "bridge/http.h"

namespace lumora {
namespace {

std::string lightAddress(const HueLight& l) {
    return "http://" + l.hue_ip + "/api/" + l.hue_key + "/lights/" + l.lamp_id + "/state";
}
std::string groupAddress(const HueGroup& g) {
    return "http://" + g.hue_ip + "/api/" + g.hue_key + "/groups/" + g.group_id + "/action";
}

// The delegate, if the address forms a URL; otherwise the command is dropped
// with one line in the log.
AppDelegate* usable(const std::string& address) {
    AppDelegate* d = appDelegate();
    if (!d) return nullptr;
    if (!parseUrl(address)) {
        d->settings().logger("Dropped a command: \"" + address + "\" is not a valid address");
        return nullptr;
    }
    return d;
}

template <typename Body>
void queue(AppDelegate* d, const std::string& address, const Body& body, bool light, bool group,
           const std::string& itemId, const char* property) {
    d->addActionItem(ActionQueueItem{address, encodeBody(body), now(), light, group, itemId, property});
}

}  // namespace

void setLampOn(const HueLight& lamp, bool on) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(url)) queue(d, url, HueLampOnOffUpdate{on}, true, false, lamp.lamp_id, "on");
}

void setLampBrightness(const HueLight& lamp, std::int64_t brightness) {
    const std::string url = lightAddress(lamp);
    auto* d = usable(url);
    if (!d) return;
    const bool on = brightness >= 5;
    if (int i = d->getLampIndex(lamp); i >= 0)
        d->settings().mutateLights([&](auto& lights) { lights[static_cast<size_t>(i)].is_on = on; });
    queue(d, url, HueLampBrightnessUpdate{brightness, on, 2}, true, false, lamp.lamp_id, "brightness");
}

void setLampHue(const HueLight& lamp, std::int64_t hue) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(url))
        queue(d, url, HueLampHueSatUpdate{hue, lamp.saturation, true, 2}, true, false, lamp.lamp_id, "hue");
}

void setLampTemperature(const HueLight& lamp, std::int64_t temperature) {
    const std::string url = lightAddress(lamp);
    if (auto* d = usable(url))
        queue(d, url, HueLampTemperatureUpdate{temperature, true, 2}, true, false, lamp.lamp_id, "ct");
}

void setGroupOn(const HueGroup& group, bool on) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(url)) queue(d, url, HueGroupStateUpdate{on}, false, true, group.group_id, "on");
}

void setGroupBrightness(const HueGroup& group, std::int64_t brightness) {
    const std::string url = groupAddress(group);
    auto* d = usable(url);
    if (!d) return;
    const bool on = brightness >= 5;
    if (int i = d->getGroupIndex(group); i >= 0)
        d->settings().mutateGroups([&](auto& groups) { groups[static_cast<size_t>(i)].is_on = on; });
    queue(d, url, HueGroupBrightnessUpdate{brightness, on, 2}, false, true, group.group_id, "brightness");
}

void groupBrightnessIncrease(const HueGroup& group, std::int64_t step) {
    const std::string url = groupAddress(group);
    auto* d = usable(url);
    if (!d) return;
    bool on = true;
    if (int i = d->getGroupIndex(group); i >= 0) {
        // Mirrors the bridge's own sum for the views until the next refresh.
        d->settings().mutateGroups([&](auto& groups) {
            auto& g = groups[static_cast<size_t>(i)];
            std::int64_t b = g.brightness + step;
            if (b < 0) b = 0;
            if (b >= 256) b = 255;
            g.brightness = b;
            g.is_on = b >= 5;
            on = g.is_on;
        });
    }
    queue(d, url, HueGroupBrightnessIncrease{step, 1, on}, false, true, group.group_id, "brightness_increase");
}

void setGroupHue(const HueGroup& group, std::int64_t hue) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(url))
        queue(d, url, HueGroupHueUpdate{hue, group.saturation, true, 2}, false, true, group.group_id, "hue");
}

void setGroupTemperature(const HueGroup& group, std::int64_t temperature) {
    const std::string url = groupAddress(group);
    if (auto* d = usable(url))
        queue(d, url, HueGroupTemperatureUpdate{temperature, true, 2}, false, true, group.group_id, "ct");
}

void recallScene(const std::string& sceneId) {
    AppDelegate* d = appDelegate();
    if (!d) return;
    const auto& s = d->settings();
    const std::string url = "http://" + s.hueIP() + "/api/" + s.hueKey() + "/groups/0/action";
    if (usable(url)) queue(d, url, HueSceneRecall{sceneId}, false, false, sceneId, "scene");
}

std::string scheduleLocaltime(std::int64_t minutes) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "PT%02lld:%02lld:00", static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
    return buf;
}

void autoOffInMinutes(std::int64_t minutes) {
    AppDelegate* d = appDelegate();
    if (!d) return;
    const auto& s = d->settings();
    const std::string url = "http://" + s.hueIP() + "/api/" + s.hueKey() + "/schedules";
    if (!usable(url)) return;
    HueScheduleOffMinutes body{{"/api/" + s.hueKey() + "/groups/0/action", "PUT", {false}},
                               true, scheduleLocaltime(minutes), true};
    queue(d, url, body, false, false, "", "schedule");
}

}  // namespace lumora
