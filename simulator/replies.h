#pragma once
// Building blocks of the bridge's replies: success and error entries, and the
// texts of the error catalogue.

#include <nlohmann/json.hpp>
#include <string>

namespace lumora::sim {

using Json = nlohmann::ordered_json;

namespace errors {
inline constexpr int unauthorizedUser = 1;
inline constexpr int invalidJson = 2;
inline constexpr int resourceNotAvailable = 3;
inline constexpr int methodNotAvailable = 4;
inline constexpr int missingParameters = 5;
inline constexpr int parameterNotAvailable = 6;
inline constexpr int invalidValue = 7;
inline constexpr int linkButtonNotPressed = 101;
inline constexpr int deviceIsOff = 201;
inline constexpr int scheduleListFull = 701;
inline constexpr int timeAndLocalTime = 703;
}  // namespace errors

// Members read leniently: a missing member or one of another type gives the fallback.
inline bool boolOr(const Json& object, const char* key, bool fallback) {
    if (!object.is_object()) return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

inline std::string stringOr(const Json& object, const char* key, const std::string& fallback) {
    if (!object.is_object()) return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

inline Json errorEntry(int type, const std::string& address, const std::string& description) {
    Json error = Json::object();
    error["type"] = type;
    error["address"] = address;
    error["description"] = description;
    return Json{{"error", std::move(error)}};
}

inline Json errorList(int type, const std::string& address, const std::string& description) {
    return Json::array({errorEntry(type, address, description)});
}

inline Json successEntry(const std::string& key, Json value) {
    Json inner = Json::object();
    inner[key] = std::move(value);
    return Json{{"success", std::move(inner)}};
}

inline Json unauthorized(const std::string& address) {
    return errorList(errors::unauthorizedUser, address, "unauthorized user");
}

inline Json invalidJson(const std::string& address) {
    return errorList(errors::invalidJson, address, "body contains invalid json");
}

inline Json notAvailable(const std::string& resource) {
    return errorList(errors::resourceNotAvailable, resource,
                     "resource, " + resource + ", not available");
}

inline Json methodNotAvailable(const std::string& method, const std::string& resource) {
    return errorList(errors::methodNotAvailable, resource,
                     "method, " + method + ", not available for resource, " + resource);
}

inline Json missingParameters(const std::string& address) {
    return errorList(errors::missingParameters, address, "invalid/missing parameters in body");
}

inline Json parameterNotAvailable(const std::string& address, const std::string& parameter) {
    return errorEntry(errors::parameterNotAvailable, address,
                      "parameter, " + parameter + ", not available");
}

inline Json invalidValue(const std::string& address, const std::string& value,
                         const std::string& parameter) {
    return errorEntry(errors::invalidValue, address,
                      "invalid value, " + value + ", for parameter, " + parameter);
}

inline Json deviceIsOff(const std::string& address, const std::string& parameter) {
    return errorEntry(errors::deviceIsOff, address,
                      "parameter, " + parameter + ", is not modifiable. Device is set to off.");
}

}  // namespace lumora::sim
