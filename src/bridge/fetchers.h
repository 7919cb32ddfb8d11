#pragma once
// Reading the bridge's lights, groups and scenes. Each fetch returns at once;
// its completion runs once, on a worker thread, with the list or an error.

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "bridge/console.h"
#include "bridge/records.h"

namespace lumora {

enum class BridgeError { connectionFailed, invalidData, noDevices };
enum class BridgeDataType_Groups_Error { connectionFailed, invalidData, noGroups };
enum class BridgeDataType_Scenes_Error { connectionFailed, invalidData, noScenes };

template <typename T, typename E>
using FetchResult = std::variant<std::vector<T>, E>;

using LightsResult = FetchResult<HueLight, BridgeError>;
using GroupsResult = FetchResult<HueGroup, BridgeDataType_Groups_Error>;
using ScenesResult = FetchResult<HueScene, BridgeDataType_Scenes_Error>;

class HueDevicesProtocol {
  public:
    virtual ~HueDevicesProtocol() = default;
    virtual void fetch(std::function<void(LightsResult)> completion) = 0;
};
class HueGroupsProtocol {
  public:
    virtual ~HueGroupsProtocol() = default;
    virtual void fetch(std::function<void(GroupsResult)> completion) = 0;
};
class HueScenesProtocol {
  public:
    virtual ~HueScenesProtocol() = default;
    virtual void fetch(std::function<void(ScenesResult)> completion) = 0;
};

class HueCommunicationLights : public HueDevicesProtocol {
  public:
    HueCommunicationLights(std::string bridgeIp, std::string apiKey, ConsoleSink console = {});
    void fetch(std::function<void(LightsResult)> completion) override;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
};

class HueCommunicationGroups : public HueGroupsProtocol {
  public:
    HueCommunicationGroups(std::string bridgeIp, std::string apiKey, ConsoleSink console = {});
    void fetch(std::function<void(GroupsResult)> completion) override;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
};

class HueCommunicationScenes : public HueScenesProtocol {
  public:
    HueCommunicationScenes(std::string bridgeIp, std::string apiKey, ConsoleSink console = {});
    void fetch(std::function<void(ScenesResult)> completion) override;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
};

// The blocking form the fetchers use on their worker: one read, classified.
// Data the bridge sent but that cannot be read is reported to `console`.
LightsResult fetchLightsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {});
GroupsResult fetchGroupsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {});
ScenesResult fetchScenesNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {});

}  // namespace lumora
