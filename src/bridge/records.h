#pragma once
// The plain value records through which the program sees the bridge, and the
// small records that become the JSON bodies of commands.

#include <chrono>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "bridge/uuid.h"

namespace lumora {

// Raises `value` to `lower`, then lowers that to `upper`: with lower above
// upper the result is always upper.
template <typename T>
constexpr T clamped(const T& value, const T& lower, const T& upper) {
    T v = value < lower ? lower : value;
    return upper < v ? upper : v;
}

struct HueLight {
    std::string lamp_id;
    std::string name;
    std::string product_name;
    std::string model_id;
    bool allows_color = false;
    bool allows_ambient = false;
    bool allows_brightness = false;
    bool is_on = false;
    std::int64_t brightness = 0;
    std::int64_t hue = 0;
    std::int64_t saturation = 0;
    std::int64_t color_temperature = 0;
    float xy_x = 0.0f;
    float xy_y = 0.0f;
    std::int64_t ct_min = 0;
    std::int64_t ct_max = 10000;
    std::string hue_ip;
    std::string hue_key;
    std::string unique_id;

    bool operator==(const HueLight&) const = default;
};

struct HueGroup {
    Uuid id = Uuid::random();
    std::string group_id;
    std::string name;
    std::vector<std::string> lights;
    std::string type;
    std::string group_class;
    bool all_on = false;
    bool any_on = false;
    bool is_on = false;
    std::int64_t brightness = 0;
    std::int64_t saturation = 0;
    std::int64_t hue = 0;
    std::int64_t color_temperature = 0;
    std::int64_t ct_min = 153;
    std::int64_t ct_max = 500;
    std::string hue_ip;
    std::string hue_key;

    bool operator==(const HueGroup&) const = default;
};

struct HueScene {
    Uuid id = Uuid::random();
    std::string scene_id;
    std::string name;
    std::vector<std::string> lights;
    std::string type;
    std::string group;
    std::string hue_ip;
    std::string hue_key;

    bool operator==(const HueScene&) const = default;
};

// One user action waiting to be sent. `url` is always a well-formed address:
// the command functions refuse to make an item otherwise.
struct ActionQueueItem {
    std::string url;
    std::string body;
    std::chrono::system_clock::time_point issued_at;
    bool is_light_update;
    bool is_group_update;
    std::string item_id;
    std::string property;

    bool operator==(const ActionQueueItem&) const = default;
};

// Command bodies.
struct HueLampOnOffUpdate {
    bool on;
};
struct HueLampBrightnessUpdate {
    std::int64_t bri;
    bool on;
    std::int64_t transitiontime;
};
struct HueLampHueSatUpdate {
    std::int64_t hue;
    std::int64_t sat;
    bool on;
    std::int64_t transitiontime;
};
struct HueLampTemperatureUpdate {
    std::int64_t ct;
    bool on;
    std::int64_t transitiontime;
};
struct HueGroupStateUpdate {
    bool on;
};
struct HueGroupBrightnessUpdate {
    std::int64_t bri;
    bool on;
    std::int64_t transitiontime;
};
struct HueGroupBrightnessIncrease {
    std::int64_t bri_inc;
    std::int64_t transitiontime;
    bool on;
};
struct HueGroupHueUpdate {
    std::int64_t hue;
    std::int64_t sat;
    bool on;
    std::int64_t transitiontime;
};
struct HueGroupTemperatureUpdate {
    std::int64_t ct;
    bool on;
    std::int64_t transitiontime;
};
struct HueSceneRecall {
    std::string scene;
};
struct HueScheduleCommandOn {
    bool on;
};
struct HueScheduleCommand {
    std::string address;
    std::string method;
    HueScheduleCommandOn body;
};
struct HueScheduleOffMinutes {
    HueScheduleCommand command;
    bool autodelete;
    std::string localtime;
    bool recycle;
};

// JSON forms: keys are the field names; the record's `id` is never written,
// and reading a group or scene makes a fresh one.
void to_json(nlohmann::json& j, const HueLight& v);
void from_json(const nlohmann::json& j, HueLight& v);
void to_json(nlohmann::json& j, const HueGroup& v);
void from_json(const nlohmann::json& j, HueGroup& v);
void to_json(nlohmann::json& j, const HueScene& v);
void from_json(const nlohmann::json& j, HueScene& v);
void to_json(nlohmann::json& j, const ActionQueueItem& v);

// Compact JSON text of a command body; the JSON forms of the bodies live in
// records.cpp, so only the files that read or write JSON pay for the library.
std::string encodeBody(const HueLampOnOffUpdate& body);
std::string encodeBody(const HueLampBrightnessUpdate& body);
std::string encodeBody(const HueLampHueSatUpdate& body);
std::string encodeBody(const HueLampTemperatureUpdate& body);
std::string encodeBody(const HueGroupStateUpdate& body);
std::string encodeBody(const HueGroupBrightnessUpdate& body);
std::string encodeBody(const HueGroupBrightnessIncrease& body);
std::string encodeBody(const HueGroupHueUpdate& body);
std::string encodeBody(const HueGroupTemperatureUpdate& body);
std::string encodeBody(const HueSceneRecall& body);
std::string encodeBody(const HueScheduleOffMinutes& body);

}  // namespace lumora

// Member-wise hashes in declaration order, to go with the member-wise
// equality (`id` included for rooms and scenes).
template <>
struct std::hash<lumora::HueLight> {
    std::size_t operator()(const lumora::HueLight& l) const noexcept;
};
template <>
struct std::hash<lumora::HueGroup> {
    std::size_t operator()(const lumora::HueGroup& g) const noexcept;
};
template <>
struct std::hash<lumora::HueScene> {
    std::size_t operator()(const lumora::HueScene& s) const noexcept;
};
