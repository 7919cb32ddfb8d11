#include "bridge/records.h"

#include <charconv>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace lumora {

using nlohmann::json;

namespace {
// The shortest decimal that reads back as the same float, so 0.4573f is
// written as 0.4573 and not as its double expansion.
double shortest(float f) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, f);
    if (ec != std::errc()) return static_cast<double>(f);
    return std::strtod(std::string(buf, end).c_str(), nullptr);
}
}  // namespace

void to_json(json& j, const HueLight& v) {
    j = json{{"lamp_id", v.lamp_id},
             {"name", v.name},
             {"product_name", v.product_name},
             {"model_id", v.model_id},
             {"allows_color", v.allows_color},
             {"allows_ambient", v.allows_ambient},
             {"allows_brightness", v.allows_brightness},
             {"is_on", v.is_on},
             {"brightness", v.brightness},
             {"hue", v.hue},
             {"saturation", v.saturation},
             {"color_temperature", v.color_temperature},
             {"xy_x", shortest(v.xy_x)},
             {"xy_y", shortest(v.xy_y)},
             {"ct_min", v.ct_min},
             {"ct_max", v.ct_max},
             {"hue_ip", v.hue_ip},
             {"hue_key", v.hue_key},
             {"unique_id", v.unique_id}};
}

void from_json(const json& j, HueLight& v) {
    j.at("lamp_id").get_to(v.lamp_id);
    j.at("name").get_to(v.name);
    j.at("product_name").get_to(v.product_name);
    j.at("model_id").get_to(v.model_id);
    j.at("allows_color").get_to(v.allows_color);
    j.at("allows_ambient").get_to(v.allows_ambient);
    j.at("allows_brightness").get_to(v.allows_brightness);
    j.at("is_on").get_to(v.is_on);
    j.at("brightness").get_to(v.brightness);
    j.at("hue").get_to(v.hue);
    j.at("saturation").get_to(v.saturation);
    j.at("color_temperature").get_to(v.color_temperature);
    j.at("xy_x").get_to(v.xy_x);
    j.at("xy_y").get_to(v.xy_y);
    j.at("ct_min").get_to(v.ct_min);
    j.at("ct_max").get_to(v.ct_max);
    j.at("hue_ip").get_to(v.hue_ip);
    j.at("hue_key").get_to(v.hue_key);
    j.at("unique_id").get_to(v.unique_id);
}

void to_json(json& j, const HueGroup& v) {
    j = json{{"group_id", v.group_id},
             {"name", v.name},
             {"lights", v.lights},
             {"type", v.type},
             {"group_class", v.group_class},
             {"all_on", v.all_on},
             {"any_on", v.any_on},
             {"is_on", v.is_on},
             {"brightness", v.brightness},
             {"saturation", v.saturation},
             {"hue", v.hue},
             {"color_temperature", v.color_temperature},
             {"ct_min", v.ct_min},
             {"ct_max", v.ct_max},
             {"hue_ip", v.hue_ip},
             {"hue_key", v.hue_key}};
}

void from_json(const json& j, HueGroup& v) {
    v.id = Uuid::random();
    j.at("group_id").get_to(v.group_id);
    j.at("name").get_to(v.name);
    j.at("lights").get_to(v.lights);
    j.at("type").get_to(v.type);
    j.at("group_class").get_to(v.group_class);
    j.at("all_on").get_to(v.all_on);
    j.at("any_on").get_to(v.any_on);
    j.at("is_on").get_to(v.is_on);
    j.at("brightness").get_to(v.brightness);
    j.at("saturation").get_to(v.saturation);
    j.at("hue").get_to(v.hue);
    j.at("color_temperature").get_to(v.color_temperature);
    j.at("ct_min").get_to(v.ct_min);
    j.at("ct_max").get_to(v.ct_max);
    j.at("hue_ip").get_to(v.hue_ip);
    j.at("hue_key").get_to(v.hue_key);
}

void to_json(json& j, const HueScene& v) {
    j = json{{"scene_id", v.scene_id}, {"name", v.name},   {"lights", v.lights},
             {"type", v.type},         {"group", v.group}, {"hue_ip", v.hue_ip},
             {"hue_key", v.hue_key}};
}

void from_json(const json& j, HueScene& v) {
    v.id = Uuid::random();
    j.at("scene_id").get_to(v.scene_id);
    j.at("name").get_to(v.name);
    j.at("lights").get_to(v.lights);
    j.at("type").get_to(v.type);
    j.at("group").get_to(v.group);
    j.at("hue_ip").get_to(v.hue_ip);
    j.at("hue_key").get_to(v.hue_key);
}

void to_json(json& j, const ActionQueueItem& v) {
    const auto secs = std::chrono::duration<double>(v.issued_at.time_since_epoch()).count();
    j = json{{"url", v.url},
             {"body", v.body},
             {"issued_at", secs},
             {"is_light_update", v.is_light_update},
             {"is_group_update", v.is_group_update},
             {"item_id", v.item_id},
             {"property", v.property}};
}

// The command bodies: keys are the field names; each sent one is encoded by
// an `encodeBody` of its own.
#define LUMORA_BODY(Type, ...)                            \
    NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Type, __VA_ARGS__) \
    std::string encodeBody(const Type& body) {            \
        return json(body).dump();                         \
    }

LUMORA_BODY(HueLampOnOffUpdate, on)
LUMORA_BODY(HueLampBrightnessUpdate, bri, on, transitiontime)
LUMORA_BODY(HueLampHueSatUpdate, hue, sat, on, transitiontime)
LUMORA_BODY(HueLampTemperatureUpdate, ct, on, transitiontime)
LUMORA_BODY(HueGroupStateUpdate, on)
LUMORA_BODY(HueGroupBrightnessUpdate, bri, on, transitiontime)
LUMORA_BODY(HueGroupBrightnessIncrease, bri_inc, transitiontime, on)
LUMORA_BODY(HueGroupHueUpdate, hue, sat, on, transitiontime)
LUMORA_BODY(HueGroupTemperatureUpdate, ct, on, transitiontime)
LUMORA_BODY(HueSceneRecall, scene)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(HueScheduleCommandOn, on)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(HueScheduleCommand, address, method, body)
LUMORA_BODY(HueScheduleOffMinutes, command, autodelete, localtime, recycle)
#undef LUMORA_BODY
}  // namespace lumora

namespace {

// Folds each member into one value, boost-style.
class Hasher {
  public:
    template <typename T>
    Hasher& operator<<(const T& v) {
        mix(std::hash<T>{}(v));
        return *this;
    }
    Hasher& operator<<(const std::vector<std::string>& list) {
        mix(list.size());
        for (const auto& s : list) *this << s;
        return *this;
    }
    std::size_t value() const { return h_; }

  private:
    void mix(std::size_t v) { h_ ^= v + 0x9e3779b97f4a7c15ULL + (h_ << 6) + (h_ >> 2); }
    std::size_t h_ = 0;
};

}  // namespace

std::size_t std::hash<lumora::HueLight>::operator()(const lumora::HueLight& l) const noexcept {
    Hasher h;
    h << l.lamp_id << l.name << l.product_name << l.model_id << l.allows_color << l.allows_ambient
      << l.allows_brightness << l.is_on << l.brightness << l.hue << l.saturation
      << l.color_temperature << l.xy_x << l.xy_y << l.ct_min << l.ct_max << l.hue_ip << l.hue_key
      << l.unique_id;
    return h.value();
}

std::size_t std::hash<lumora::HueGroup>::operator()(const lumora::HueGroup& g) const noexcept {
    Hasher h;
    h << g.id << g.group_id << g.name << g.lights << g.type << g.group_class << g.all_on << g.any_on
      << g.is_on << g.brightness << g.saturation << g.hue << g.color_temperature << g.ct_min
      << g.ct_max << g.hue_ip << g.hue_key;
    return h.value();
}

std::size_t std::hash<lumora::HueScene>::operator()(const lumora::HueScene& s) const noexcept {
    Hasher h;
    h << s.id << s.scene_id << s.name << s.lights << s.type << s.group << s.hue_ip << s.hue_key;
    return h.value();
}
