#pragma once
// The simulated bridge's state and its REST API v1, without any transport.
// Lights, groups and scenes are kept as the JSON objects of the fixture and
// changed in place, so oddities in a fixture (missing members, members of
// unexpected types) survive and are served as they are.
//
// Not thread-safe: the server serialises every call.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/replies.h"
#include "simulator/schedules.h"
#include "simulator/sim_time.h"

namespace lumora::sim {

class BridgeModel {
  public:
    BridgeModel();

    // Replaces the whole state with a fixture (format: fixtures/README.md).
    // On failure the state is unchanged.
    bool load(const Json& fixture, SimTime now, std::string* error);

    // One request under /api ("/api", "/api/<user>/lights/1/state", ...).
    Json handle(std::string_view method, std::string_view path, const std::string& body,
                SimTime now);
    // The reply text of a GET of a known user's lights, groups or scenes,
    // kept until the state next changes: a client reads these every few
    // seconds and they rarely change in between. Nothing for any other read.
    std::shared_ptr<const std::string> cachedRead(std::string_view path, SimTime now);

    void pressLinkButton(SimTime now) { linkPressedAt_ = now; }
    void releaseLinkButton() { linkPressedAt_.reset(); }
    bool linkButtonPressed(SimTime now) const;

    bool setReachable(const std::string& lightId, bool reachable, SimTime now);
    std::string addUser(const std::string& devicetype, SimTime now);
    void runDueSchedules(SimTime now);
    // When the next schedule fires; nothing when none is waiting.
    std::optional<SimTime> nextScheduleDue() const { return schedules_.nextDue(); }

    // Called, under the server's lock, with the event containers of every
    // change of state (see change_events.h), whoever made it.
    using ChangeListener = std::function<void(Json containers)>;
    void setChangeListener(ChangeListener listener);
    bool knownUser(const std::string& user) const;
    // A bridge whose model and firmware serve the event stream.
    bool offersEventStream() const;

    // What hardware this bridge is: `forced` members are written over every
    // fixture's config, `defaults` fill those a fixture lacks.
    void setHardware(Json forced, Json defaults);
    // The config's bridgeid: upper case, 16 hex digits.
    std::string bridgeId() const;

    // Where clients reach the bridge; shown in the config and discovery replies.
    void setNetwork(std::string ipAddress, int port);
    Json discoveryReply() const;
    Json dump(SimTime now) const;

  private:
    using Segments = std::vector<std::string>;

    Json answer(std::string_view method, std::string_view path, const std::string& body,
                SimTime now);
    Json pair(const std::string& body, SimTime now);
    Json route(std::string_view method, const Segments& rest, const std::string& resource,
               const std::string& body, SimTime now);
    Json readLights(std::string_view method, const Segments& rest, const std::string& resource,
                    const std::string& body);
    Json readGroups(std::string_view method, const Segments& rest, const std::string& resource,
                    const std::string& body);
    Json readScenes(std::string_view method, const Segments& rest, const std::string& resource);
    Json routeSchedules(std::string_view method, const Segments& rest, const std::string& resource,
                        const std::string& body, SimTime now);
    Json routeConfig(std::string_view method, const std::string& resource, const std::string& body,
                     SimTime now);

    void applyHardware();
    Json shortConfig() const;
    Json fullConfig(SimTime now) const;
    Json groupZero() const;
    Json sceneForList(const Json& scene) const;
    // Tells the listener what changed since the last call.
    void publishChanges(SimTime now);

    // State changes (state_changes.cpp).
    Json putLightState(const std::string& id, const std::string& body);
    Json putGroupAction(const std::string& id, const std::string& body);
    Json renameLight(const std::string& id, const std::string& body);
    void recallScene(const std::string& sceneId, const std::vector<std::string>& members,
                     bool allSceneLights);
    std::vector<std::string> memberIds(const std::string& groupId) const;
    void recomputeGroupStates();

    Json config_ = Json::object();
    Json hardwareForced_ = Json::object();
    Json hardwareDefaults_ = Json::object();
    Json lights_ = Json::object();
    Json groups_ = Json::object();
    Json scenes_ = Json::object();
    Json sensors_ = Json::object();
    Json rules_ = Json::object();
    Json resourcelinks_ = Json::object();
    Json groupZeroAction_ = Json::object();
    ScheduleTable schedules_;
    std::optional<SimTime> linkPressedAt_;
    std::string ipAddress_ = "127.0.0.1";
    int port_ = 0;
    std::mt19937_64 random_;
    // Bumped by whatever may change the state; a kept reply text is good
    // only for the revision it was made at.
    std::uint64_t revision_ = 0;
    struct KeptReply {
        std::uint64_t revision = 0;
        std::shared_ptr<const std::string> text;
    };
    std::map<std::string, KeptReply, std::less<>> kept_;
    ChangeListener listener_;
    Json published_;  // the streamView() last told
};

// A fresh 40-character user name of letters, digits and '-'.
std::string randomUserName(std::mt19937_64& random);

}  // namespace lumora::sim
