#include "simulator/bridge_model.h"

#include <algorithm>
#include <cctype>

#include "simulator/change_events.h"
#include "simulator/light_values.h"
#include "simulator/request_body.h"

namespace lumora::sim {

namespace {

constexpr auto kLinkButtonWindow = std::chrono::seconds(30);

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > start) segments.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return segments;
}

std::string joinResource(const std::vector<std::string>& segments) {
    std::string resource;
    for (const auto& s : segments) resource += "/" + s;
    return resource.empty() ? "/" : resource;
}

// devicetype is "<application>#<device>": 40 characters in all, at most 20
// for the application and 19 for the device.
bool validDevicetype(const std::string& devicetype) {
    if (devicetype.size() > 40) return false;
    auto hash = devicetype.find('#');
    if (hash == std::string::npos) return devicetype.size() <= 20;
    return hash <= 20 && devicetype.size() - hash - 1 <= 19;
}

std::string randomHex(std::mt19937_64& random, std::size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::uniform_int_distribution<std::size_t> pick(0, 15);
    std::string result;
    for (std::size_t i = 0; i < length; ++i) result += kHex[pick(random)];
    return result;
}

Json objectMember(const Json& fixture, const char* key, std::string* error, bool* ok) {
    auto it = fixture.find(key);
    if (it == fixture.end()) return Json::object();
    if (!it->is_object()) {
        *ok = false;
        if (error) *error = std::string("\"") + key + "\" is not an object";
    }
    return *it;
}

}  // namespace

std::string randomUserName(std::mt19937_64& random) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string name;
    for (int i = 0; i < 40; ++i) name += kAlphabet[pick(random)];
    return name;
}

BridgeModel::BridgeModel() : random_(std::random_device{}()) {}

bool BridgeModel::load(const Json& fixture, SimTime now, std::string* error) {
    ++revision_;
    if (!fixture.is_object()) {
        if (error) *error = "the fixture is not a JSON object";
        return false;
    }
    bool ok = true;
    Json config = objectMember(fixture, "config", error, &ok);
    Json lights = objectMember(fixture, "lights", error, &ok);
    Json groups = objectMember(fixture, "groups", error, &ok);
    Json scenes = objectMember(fixture, "scenes", error, &ok);
    Json sensors = objectMember(fixture, "sensors", error, &ok);
    Json rules = objectMember(fixture, "rules", error, &ok);
    Json resourcelinks = objectMember(fixture, "resourcelinks", error, &ok);
    if (!ok) return false;
    if (!config.contains("whitelist") || !config["whitelist"].is_object()) {
        config["whitelist"] = Json::object();
    }
    ScheduleTable schedules;
    if (!schedules.load(fixture.value("schedules", Json::object()), now, error)) return false;

    // Group 0's action starts as the state of the lamps: each member taken
    // from the first light that has it.
    Json zeroAction = Json::object();
    for (const char* member :
         {"on", "bri", "hue", "sat", "effect", "xy", "ct", "alert", "colormode"}) {
        for (const auto& [id, light] : lights.items()) {
            if (light.is_object() && light.contains("state") && light["state"].is_object() &&
                light["state"].contains(member)) {
                zeroAction[member] = light["state"][member];
                break;
            }
        }
    }

    config_ = std::move(config);
    lights_ = std::move(lights);
    groups_ = std::move(groups);
    scenes_ = std::move(scenes);
    sensors_ = std::move(sensors);
    rules_ = std::move(rules);
    resourcelinks_ = std::move(resourcelinks);
    schedules_ = std::move(schedules);
    groupZeroAction_ = std::move(zeroAction);
    applyHardware();
    publishChanges(now);
    return true;
}

void BridgeModel::setHardware(Json forced, Json defaults) {
    ++revision_;
    hardwareForced_ = std::move(forced);
    hardwareDefaults_ = std::move(defaults);
    applyHardware();
}

namespace {

bool isHex(std::string_view text, std::size_t digits) {
    return text.size() == digits && std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isxdigit(c) != 0;
           });
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

void BridgeModel::applyHardware() {
    for (const auto& [key, value] : hardwareForced_.items()) config_[key] = value;
    for (const auto& [key, value] : hardwareDefaults_.items()) {
        if (!config_.contains(key)) config_[key] = value;
    }
    // The id clients match a certificate and discovery against: 16 upper
    // case hex digits, the MAC with FFFE in its middle when the fixture has none.
    std::string id = stringOr(config_, "bridgeid", "");
    std::string mac = stringOr(config_, "mac", "");
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    if (!isHex(id, 16)) id = isHex(mac, 12) ? mac.substr(0, 6) + "FFFE" + mac.substr(6) : "";
    if (id.empty()) id = "001788FFFE000001";
    config_["bridgeid"] = upper(id);
    if (!config_.contains("mac")) {
        std::string made;
        const std::string bare = id.substr(0, 6) + id.substr(10);
        for (std::size_t i = 0; i < bare.size(); i += 2) {
            if (i) made += ':';
            made += bare.substr(i, 2);
        }
        std::transform(made.begin(), made.end(), made.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        config_["mac"] = made;
    }
}

std::string BridgeModel::bridgeId() const {
    return stringOr(config_, "bridgeid", "");
}

bool BridgeModel::linkButtonPressed(SimTime now) const {
    return linkPressedAt_ && now - *linkPressedAt_ <= kLinkButtonWindow;
}

bool BridgeModel::knownUser(const std::string& user) const {
    auto whitelist = config_.find("whitelist");
    return whitelist != config_.end() && whitelist->is_object() && whitelist->contains(user);
}

void BridgeModel::setNetwork(std::string ipAddress, int port) {
    ipAddress_ = std::move(ipAddress);
    port_ = port;
}

std::string BridgeModel::addUser(const std::string& devicetype, SimTime now) {
    std::string name;
    do {
        name = randomUserName(random_);
    } while (knownUser(name));
    Json entry = Json::object();
    entry["last use date"] = formatUtc(now);
    entry["create date"] = formatUtc(now);
    entry["name"] = devicetype;
    config_["whitelist"][name] = std::move(entry);
    return name;
}

bool BridgeModel::setReachable(const std::string& lightId, bool reachable, SimTime now) {
    ++revision_;
    auto it = lights_.find(lightId);
    if (it == lights_.end() || !it->is_object()) return false;
    Json& light = *it;
    if (!light.contains("state")) light["state"] = Json::object();
    if (!light["state"].is_object()) return false;
    light["state"]["reachable"] = reachable;
    publishChanges(now);
    return true;
}

void BridgeModel::setChangeListener(ChangeListener listener) {
    listener_ = std::move(listener);
    published_ = streamView(lights_, groups_, groupZeroAction_, scenes_);
}

void BridgeModel::publishChanges(SimTime now) {
    if (!listener_) return;
    Json view = streamView(lights_, groups_, groupZeroAction_, scenes_);
    Json containers = changeEvents(published_, view, bridgeId(), formatUtc(now) + "Z", random_);
    published_ = std::move(view);
    if (!containers.empty()) listener_(std::move(containers));
}

bool BridgeModel::offersEventStream() const {
    // Second-generation bridges have it from firmware 1948086000 on.
    constexpr unsigned long long kFirstFirmware = 1948086000ULL;
    if (stringOr(config_, "modelid", "") == "BSB001") return false;
    const std::string version = stringOr(config_, "swversion", "");
    if (version.empty() || version.size() > 12 ||
        version.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    return std::stoull(version) >= kFirstFirmware;
}

void BridgeModel::runDueSchedules(SimTime now) {
    schedules_.runDue(
        now, [this](const std::string& method, const std::string& address, const Json& body,
                    SimTime at) { handle(method, address, body.dump(), at); });
}

Json BridgeModel::handle(std::string_view method, std::string_view path, const std::string& body,
                         SimTime now) {
    // Schedules fire through here too, so every write passes this point.
    if (method == "GET") return answer(method, path, body, now);
    ++revision_;
    Json reply = answer(method, path, body, now);
    publishChanges(now);
    return reply;
}

Json BridgeModel::answer(std::string_view method, std::string_view path, const std::string& body,
                         SimTime now) {
    if (path.rfind("/api", 0) == 0) path.remove_prefix(4);
    Segments segments = splitPath(path);
    if (segments.empty()) {
        if (method == "POST") return pair(body, now);
        return methodNotAvailable(std::string(method), "/");
    }
    // Anyone may read the short configuration, to recognise a bridge.
    if (segments.size() == 1 && segments[0] == "config" && method == "GET") return shortConfig();
    const std::string user = segments.front();
    Segments rest(segments.begin() + 1, segments.end());
    const std::string resource = joinResource(rest);
    if (!knownUser(user)) {
        if (rest.size() == 1 && rest[0] == "config" && method == "GET") return shortConfig();
        return unauthorized(resource);
    }
    Json& entry = config_["whitelist"][user];
    if (entry.is_object()) entry["last use date"] = formatUtc(now);
    return route(method, rest, resource, body, now);
}

std::shared_ptr<const std::string> BridgeModel::cachedRead(std::string_view path, SimTime now) {
    if (path.rfind("/api", 0) != 0) return nullptr;
    const Segments segments = splitPath(path.substr(4));
    if (segments.size() != 2) return nullptr;
    const std::string& what = segments[1];
    if (what != "lights" && what != "groups" && what != "scenes") return nullptr;
    if (!knownUser(segments[0])) return nullptr;
    KeptReply& kept = kept_[what];
    if (!kept.text || kept.revision != revision_) {
        const Json reply = answer("GET", path, {}, now);
        kept = {revision_, std::make_shared<const std::string>(
                               reply.dump(-1, ' ', false, Json::error_handler_t::replace))};
        return kept.text;
    }
    Json& entry = config_["whitelist"][segments[0]];
    if (entry.is_object()) entry["last use date"] = formatUtc(now);
    return kept.text;
}

Json BridgeModel::pair(const std::string& bodyText, SimTime now) {
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson("/");
    auto devicetype = body.find("devicetype");
    if (devicetype == body.end()) return missingParameters("/");
    if (!devicetype->is_string() || !validDevicetype(devicetype->get<std::string>())) {
        std::string text =
            devicetype->is_string() ? devicetype->get<std::string>() : devicetype->dump();
        return Json::array({invalidValue("/devicetype", text, "devicetype")});
    }
    auto clientKey = body.find("generateclientkey");
    if (clientKey != body.end() && !clientKey->is_boolean()) {
        return Json::array(
            {invalidValue("/generateclientkey", clientKey->dump(), "generateclientkey")});
    }
    if (!linkButtonPressed(now)) {
        return errorList(errors::linkButtonNotPressed, "", "link button not pressed");
    }
    Json success = Json::object();
    success["username"] = addUser(devicetype->get<std::string>(), now);
    if (clientKey != body.end() && clientKey->get<bool>()) {
        success["clientkey"] = randomHex(random_, 32);
    }
    return Json::array({Json{{"success", success}}});
}

Json BridgeModel::route(std::string_view method, const Segments& rest, const std::string& resource,
                        const std::string& body, SimTime now) {
    if (rest.empty()) {
        if (method != "GET") return methodNotAvailable(std::string(method), resource);
        Json all = Json::object();
        all["lights"] = lights_;
        all["groups"] = groups_;
        all["config"] = fullConfig(now);
        all["schedules"] = schedules_.list();
        Json scenes = Json::object();
        for (const auto& [id, scene] : scenes_.items()) scenes[id] = sceneForList(scene);
        all["scenes"] = std::move(scenes);
        all["sensors"] = sensors_;
        all["rules"] = rules_;
        all["resourcelinks"] = resourcelinks_;
        return all;
    }
    const std::string& top = rest.front();
    if (top == "lights") return readLights(method, rest, resource, body);
    if (top == "groups") return readGroups(method, rest, resource, body);
    if (top == "scenes") return readScenes(method, rest, resource);
    if (top == "schedules") return routeSchedules(method, rest, resource, body, now);
    if (top == "config" && rest.size() == 1) return routeConfig(method, resource, body, now);
    // Kept only to be served: the simulator models no sensors, rules or links.
    const Json* table = top == "sensors"         ? &sensors_
                        : top == "rules"         ? &rules_
                        : top == "resourcelinks" ? &resourcelinks_
                                                 : nullptr;
    if (table && method == "GET" && rest.size() == 1) return *table;
    if (table && method == "GET" && rest.size() == 2) {
        auto it = table->find(rest[1]);
        return it == table->end() ? notAvailable(resource) : *it;
    }
    return methodNotAvailable(std::string(method), resource);
}

Json BridgeModel::readLights(std::string_view method, const Segments& rest,
                             const std::string& resource, const std::string& body) {
    if (rest.size() == 1 && method == "GET") return lights_;
    if (rest.size() == 2 && method == "GET") {
        if (rest[1] == "new") return Json{{"lastscan", "none"}};
        auto it = lights_.find(rest[1]);
        return it == lights_.end() ? notAvailable(resource) : *it;
    }
    if (rest.size() == 2 && method == "PUT") return renameLight(rest[1], body);
    if (rest.size() == 3 && rest[2] == "state" && method == "PUT") {
        return putLightState(rest[1], body);
    }
    return methodNotAvailable(std::string(method), resource);
}

Json BridgeModel::readGroups(std::string_view method, const Segments& rest,
                             const std::string& resource, const std::string& body) {
    if (rest.size() == 1 && method == "GET") return groups_;
    if (rest.size() == 2 && method == "GET") {
        if (rest[1] == "0") return groupZero();
        auto it = groups_.find(rest[1]);
        return it == groups_.end() ? notAvailable(resource) : *it;
    }
    if (rest.size() == 3 && rest[2] == "action" && method == "PUT") {
        return putGroupAction(rest[1], body);
    }
    return methodNotAvailable(std::string(method), resource);
}

Json BridgeModel::sceneForList(const Json& scene) const {
    Json copy = scene;
    if (copy.is_object()) copy.erase("lightstates");
    return copy;
}

Json BridgeModel::readScenes(std::string_view method, const Segments& rest,
                             const std::string& resource) {
    if (method != "GET" || rest.size() > 2) {
        return methodNotAvailable(std::string(method), resource);
    }
    if (rest.size() == 1) {
        Json scenes = Json::object();
        for (const auto& [id, scene] : scenes_.items()) scenes[id] = sceneForList(scene);
        return scenes;
    }
    auto it = scenes_.find(rest[1]);
    if (it == scenes_.end()) return notAvailable(resource);
    // Only scenes of version 2 keep their light states in the bridge.
    bool stored = it->is_object() && it->contains("version") && (*it)["version"] == 2;
    if (!stored) return sceneForList(*it);
    Json scene = *it;
    if (!scene.contains("lightstates")) scene["lightstates"] = Json::object();
    return scene;
}

Json BridgeModel::routeSchedules(std::string_view method, const Segments& rest,
                                 const std::string& resource, const std::string& body,
                                 SimTime now) {
    if (rest.size() == 1 && method == "GET") return schedules_.list();
    if (rest.size() == 1 && method == "POST") return schedules_.create(body, now);
    if (rest.size() == 2) {
        if (method == "GET") {
            const Json* schedule = schedules_.find(rest[1]);
            return schedule ? *schedule : notAvailable(resource);
        }
        if (method == "PUT") return schedules_.modify(rest[1], body, now);
        if (method == "DELETE") return schedules_.remove(rest[1]);
    }
    return methodNotAvailable(std::string(method), resource);
}

Json BridgeModel::routeConfig(std::string_view method, const std::string& resource,
                              const std::string& bodyText, SimTime now) {
    if (method == "GET") return fullConfig(now);
    if (method != "PUT") return methodNotAvailable(std::string(method), resource);
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(resource);
    Json reply = Json::array();
    for (const auto& [key, value] : body.items()) {
        std::string address = "/config/" + key;
        if (key != "name") {
            reply.push_back(parameterNotAvailable(address, key));
        } else if (!value.is_string() || value.get<std::string>().size() < 4 ||
                   value.get<std::string>().size() > 16) {
            reply.push_back(invalidValue(address, rawToken(bodyText, key, value), key));
        } else {
            config_["name"] = value;
            reply.push_back(successEntry(address, value));
        }
    }
    return reply;
}

Json BridgeModel::shortConfig() const {
    Json result = Json::object();
    for (const char* key :
         {"name", "datastoreversion", "swversion", "apiversion", "mac", "bridgeid", "factorynew",
          "replacesbridgeid", "modelid", "starterkitid"}) {
        if (config_.contains(key)) result[key] = config_[key];
    }
    return result;
}

Json BridgeModel::fullConfig(SimTime now) const {
    Json config = config_;
    config["ipaddress"] = ipAddress_;
    config["UTC"] = formatUtc(now);
    config["localtime"] = formatLocal(now);
    config["linkbutton"] = linkButtonPressed(now);
    return config;
}

Json BridgeModel::groupZero() const {
    Json group = Json::object();
    group["name"] = "Group 0";
    Json ids = Json::array();
    for (const auto& [id, light] : lights_.items()) ids.push_back(id);
    group["lights"] = ids;
    group["sensors"] = Json::array();
    group["type"] = "LightGroup";
    bool all = !lights_.empty();
    bool any = false;
    for (const auto& [id, light] : lights_.items()) {
        bool on = light.is_object() && boolOr(light.value("state", Json()), "on", false);
        all = all && on;
        any = any || on;
    }
    group["state"] = Json{{"all_on", all}, {"any_on", any}};
    group["recycle"] = false;
    group["action"] = groupZeroAction_;
    return group;
}

Json BridgeModel::discoveryReply() const {
    std::string id = stringOr(config_, "bridgeid", "");
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    Json entry = Json::object();
    entry["id"] = id;
    entry["internalipaddress"] = ipAddress_;
    entry["port"] = port_;
    return Json::array({entry});
}

Json BridgeModel::dump(SimTime now) const {
    Json state = Json::object();
    state["config"] = fullConfig(now);
    state["lights"] = lights_;
    state["groups"] = groups_;
    state["groupzero"] = groupZero();
    state["scenes"] = scenes_;
    state["schedules"] = schedules_.list();
    state["sensors"] = sensors_;
    state["rules"] = rules_;
    state["resourcelinks"] = resourcelinks_;
    state["linkbutton"] = linkButtonPressed(now);
    state["sim_time"] = formatUtcMillis(now);
    return state;
}

}  // namespace lumora::sim
