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
                           const ConsoleSink& console) {
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
    // The refresh asks every few seconds and the bridge mostly answers with
    // the very same bytes: hand back the records decoded last time instead of
    // parsing and sorting again. Besides the CPU this keeps the records' ids,
    // so an unchanged bridge compares equal and nothing downstream redraws.
    struct Memo {
        std::mutex mutex;
        std::string bridgeIP, apiKey, body;
        std::vector<T> list;
        bool valid = false;
    };
    static Memo memo;
    {
        std::lock_guard<std::mutex> lock(memo.mutex);
        if (memo.valid && memo.body == body && memo.bridgeIP == bridgeIP && memo.apiKey == apiKey)
            return memo.list;
    }
    auto list = decode(body, bridgeIP, apiKey);
    if (!list) {
        consoleLine(console, messages.unreadable);
        return E::invalidData;
    }
    {
        std::lock_guard<std::mutex> lock(memo.mutex);
        memo.bridgeIP = bridgeIP;
        memo.apiKey = apiKey;
        memo.body = std::move(body);
        memo.list = *list;
        memo.valid = true;
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
                            const ConsoleSink& console) {
    return fetchNow<HueLight, BridgeError>(bridgeIP, apiKey, "/lights", kLights, decodeLights,
                                           console);
}
GroupsResult fetchGroupsNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console) {
    return fetchNow<HueGroup, BridgeDataType_Groups_Error>(bridgeIP, apiKey, "/groups", kGroups,
                                                           decodeGroups, console);
}
ScenesResult fetchScenesNow(const std::string& bridgeIP, const std::string& apiKey,
                            const ConsoleSink& console) {
    return fetchNow<HueScene, BridgeDataType_Scenes_Error>(bridgeIP, apiKey, "/scenes", kScenes,
                                                           decodeScenes, console);
}

HueCommunicationLights::HueCommunicationLights(std::string bridgeIp, std::string key,
                                               ConsoleSink sink)
    : bridgeIP(std::move(bridgeIp)), apiKey(std::move(key)), console(std::move(sink)) {}
HueCommunicationGroups::HueCommunicationGroups(std::string bridgeIp, std::string key,
                                               ConsoleSink sink)
    : bridgeIP(std::move(bridgeIp)), apiKey(std::move(key)), console(std::move(sink)) {}
HueCommunicationScenes::HueCommunicationScenes(std::string bridgeIp, std::string key,
                                               ConsoleSink sink)
    : bridgeIP(std::move(bridgeIp)), apiKey(std::move(key)), console(std::move(sink)) {}

// Each fetch copies its two texts, so the fetcher object may go away before
// the completion runs.
void HueCommunicationLights::fetch(std::function<void(LightsResult)> completion) {
    BG([ip = bridgeIP, key = apiKey, console = console, completion = std::move(completion)] {
        completion(fetchLightsNow(ip, key, console));
    });
}
void HueCommunicationGroups::fetch(std::function<void(GroupsResult)> completion) {
    BG([ip = bridgeIP, key = apiKey, console = console, completion = std::move(completion)] {
        completion(fetchGroupsNow(ip, key, console));
    });
}
void HueCommunicationScenes::fetch(std::function<void(ScenesResult)> completion) {
    BG([ip = bridgeIP, key = apiKey, console = console, completion = std::move(completion)] {
        completion(fetchScenesNow(ip, key, console));
    });
}

}  // namespace lumora
