#pragma once
// Reading the bridge's lights, groups and scenes. Each fetch returns at once;
// its completion runs once, on a worker of the fetcher's dispatcher, with the
// list or an error.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "base/dispatch.h"
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

// The last reply of each collection and the records decoded from it. The
// refresh asks every few seconds and the bridge mostly answers with the very
// same bytes: the records decoded last time come back instead of parsing and
// sorting again. Besides the CPU this keeps the records' ids, so an unchanged
// bridge compares equal and nothing downstream redraws. Whoever reads
// repeatedly owns one; fetches on several workers may share it.
class FetchMemo {
  public:
    template <typename T>
    struct Slot {
        std::mutex mutex;
        std::string bridgeIP, apiKey, body;
        std::vector<T> list;
        bool valid = false;
    };

    template <typename T>
    Slot<T>& slot() {
        return std::get<Slot<T>>(slots_);
    }

  private:
    std::tuple<Slot<HueLight>, Slot<HueGroup>, Slot<HueScene>> slots_;
};

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
    HueCommunicationLights(Dispatcher& dispatcher, std::string bridgeIp, std::string apiKey,
                           ConsoleSink console = {}, std::shared_ptr<FetchMemo> memo = nullptr);
    void fetch(std::function<void(LightsResult)> completion) override;
    Dispatcher& dispatcher;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
    std::shared_ptr<FetchMemo> memo;
};

class HueCommunicationGroups : public HueGroupsProtocol {
  public:
    HueCommunicationGroups(Dispatcher& dispatcher, std::string bridgeIp, std::string apiKey,
                           ConsoleSink console = {}, std::shared_ptr<FetchMemo> memo = nullptr);
    void fetch(std::function<void(GroupsResult)> completion) override;
    Dispatcher& dispatcher;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
    std::shared_ptr<FetchMemo> memo;
};

class HueCommunicationScenes : public HueScenesProtocol {
  public:
    HueCommunicationScenes(Dispatcher& dispatcher, std::string bridgeIp, std::string apiKey,
                           ConsoleSink console = {}, std::shared_ptr<FetchMemo> memo = nullptr);
    void fetch(std::function<void(ScenesResult)> completion) override;
    Dispatcher& dispatcher;
    std::string bridgeIP, apiKey;
    ConsoleSink console;
    std::shared_ptr<FetchMemo> memo;
};

// The blocking form the fetchers use on their worker: one read, classified.
// Data the bridge sent but that cannot be read is reported to `console`.
// Without a memo every reply is decoded afresh.
LightsResult fetchLightsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {}, FetchMemo* memo = nullptr);
GroupsResult fetchGroupsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {}, FetchMemo* memo = nullptr);
ScenesResult fetchScenesNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console = {}, FetchMemo* memo = nullptr);

}  // namespace lumora
