#include "bridge/fetchers.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "base/dispatch.h"
#include "base/utf8.h"
#include "bridge/decode.h"
#include "bridge/http.h"

namespace lumora {
namespace {

constexpr auto kReadTimeout = std::chrono::seconds(4);

struct Messages {
    const char* noData;
    const char* unreadable;
};

enum class Outcome { body, connectionFailed, noData, unreadable };

// GET one collection. On success `body` holds a reply that is valid UTF-8.
Outcome read(const std::string& bridgeIP, const std::string& apiKey, const char* resource,
             std::string& body) {
    HttpRequest req;
    req.method = "GET";
    req.url = "http://" + bridgeIP + "/api/" + apiKey + resource;
    req.timeout = kReadTimeout;
    HttpResponse res = httpSend(req);
    switch (res.error) {
        case HttpError::none:
            break;
        // An address that does not form a URL cannot be reached at all.
        case HttpError::invalidUrl:
        case HttpError::connectionFailed:
        case HttpError::timedOut:
            return Outcome::connectionFailed;
        case HttpError::bodyTooLarge:
            return Outcome::unreadable;
    }
    if (!res.body || res.body->empty()) return Outcome::noData;
    if (!isValidUtf8(*res.body)) return Outcome::unreadable;
    body = std::move(*res.body);
    return Outcome::body;
}

template <typename T, typename E, typename Decode>
FetchResult<T, E> fetchNow(const std::string& bridgeIP, const std::string& apiKey,
                           const char* resource, const Messages& messages, Decode decode,
                           const ConsoleSink& console, FetchMemo* memoOwner) {
    std::string body;
    switch (read(bridgeIP, apiKey, resource, body)) {
        case Outcome::connectionFailed:
            return E::connectionFailed;
        case Outcome::noData:
            consoleLine(console, messages.noData);
            return E::invalidData;
        case Outcome::unreadable:
            consoleLine(console, messages.unreadable);
            return E::invalidData;
        case Outcome::body:
            break;
    }
    FetchMemo::Slot<T>* memo = memoOwner ? &memoOwner->slot<T>() : nullptr;
    if (memo) {
        std::lock_guard<std::mutex> lock(memo->mutex);
        if (memo->valid && memo->body == body && memo->bridgeIP == bridgeIP &&
            memo->apiKey == apiKey)
            return memo->list;
    }
    auto list = decode(body, bridgeIP, apiKey);
    if (!list) {
        consoleLine(console, messages.unreadable);
        return E::invalidData;
    }
    if (memo) {
        std::lock_guard<std::mutex> lock(memo->mutex);
        memo->bridgeIP = bridgeIP;
        memo->apiKey = apiKey;
        memo->body = std::move(body);
        memo->list = *list;
        memo->valid = true;
    }
    // A reply object always yields a list (empty when it has no members), so
    // the "no devices" errors are never produced here.
    return std::move(*list);
}

constexpr Messages kLights{"ERROR: No data received. Giving up.",
                           "Error: Couldn't decode Hue data due to unknown JSON data."};
constexpr Messages kGroups{"ERROR: No GROUPS data received. Giving up.",
                           "Error: Couldn't decode Hue GROUPS data due to unknown JSON data."};
constexpr Messages kScenes{"ERROR: No SCENE data received. Giving up.",
                           "Error: Couldn't decode Hue SCENE data due to unknown JSON data."};

}  // namespace

void consoleLine(const ConsoleSink& sink, const std::string& line) {
    if (sink) {
        sink(line);
        return;
    }
    // One call per line: lines from several threads do not interleave.
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

LightsResult fetchLightsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console, FetchMemo* memo) {
    return fetchNow<HueLight, BridgeError>(bridgeIP, apiKey, "/lights", kLights, decodeLights,
                                           console, memo);
}
GroupsResult fetchGroupsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console, FetchMemo* memo) {
    return fetchNow<HueGroup, BridgeDataType_Groups_Error>(bridgeIP, apiKey, "/groups", kGroups,
                                                           decodeGroups, console, memo);
}
ScenesResult fetchScenesNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console, FetchMemo* memo) {
    return fetchNow<HueScene, BridgeDataType_Scenes_Error>(bridgeIP, apiKey, "/scenes", kScenes,
                                                           decodeScenes, console, memo);
}

HueCommunicationLights::HueCommunicationLights(Dispatcher& d, std::string bridgeIp, std::string key,
                                               ConsoleSink sink, std::shared_ptr<FetchMemo> m)
    : dispatcher(d),
      bridgeIP(std::move(bridgeIp)),
      apiKey(std::move(key)),
      console(std::move(sink)),
      memo(std::move(m)) {}
HueCommunicationGroups::HueCommunicationGroups(Dispatcher& d, std::string bridgeIp, std::string key,
                                               ConsoleSink sink, std::shared_ptr<FetchMemo> m)
    : dispatcher(d),
      bridgeIP(std::move(bridgeIp)),
      apiKey(std::move(key)),
      console(std::move(sink)),
      memo(std::move(m)) {}
HueCommunicationScenes::HueCommunicationScenes(Dispatcher& d, std::string bridgeIp, std::string key,
                                               ConsoleSink sink, std::shared_ptr<FetchMemo> m)
    : dispatcher(d),
      bridgeIP(std::move(bridgeIp)),
      apiKey(std::move(key)),
      console(std::move(sink)),
      memo(std::move(m)) {}

// Each fetch copies its two texts and holds the memo, so the fetcher object
// (and whoever owns the memo) may go away before the completion runs.
void HueCommunicationLights::fetch(std::function<void(LightsResult)> completion) {
    dispatcher.postBG([ip = bridgeIP, key = apiKey, console = console, memo = memo,
                       completion = std::move(completion)] {
        completion(fetchLightsNow(ip, key, console, memo.get()));
    });
}
void HueCommunicationGroups::fetch(std::function<void(GroupsResult)> completion) {
    dispatcher.postBG([ip = bridgeIP, key = apiKey, console = console, memo = memo,
                       completion = std::move(completion)] {
        completion(fetchGroupsNow(ip, key, console, memo.get()));
    });
}
void HueCommunicationScenes::fetch(std::function<void(ScenesResult)> completion) {
    dispatcher.postBG([ip = bridgeIP, key = apiKey, console = console, memo = memo,
                       completion = std::move(completion)] {
        completion(fetchScenesNow(ip, key, console, memo.get()));
    });
}

}  // namespace lumora
