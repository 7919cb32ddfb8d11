#include "bridge/fetchers.h"

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "bridge/command_reply.h"
#include "bridge/decode.h"
#include "bridge/http.h"

namespace lumora {
namespace {

// GET one resource of the bridge. On success `body` holds a reply that is
// valid UTF-8.
std::optional<FetchError> read(const HttpTransport& transport, const BridgeEndpoint& bridge,
                               const char* resource, std::string& body, TlsRefusal* refusal) {
    HttpRequest req = bridge.request("GET", bridge.url(resource));
    req.timeout = kReadTimeout;
    HttpResponse res = transport(req);
    switch (res.error) {
        case HttpError::none:
            break;
        case HttpError::tlsFailed:
            if (refusal) *refusal = res.tls;
            return FetchError(FetchError::certificateRefused, res.error);
        // An address that does not form a URL cannot be reached at all.
        case HttpError::invalidUrl:
        case HttpError::connectionFailed:
        case HttpError::timedOut:
        case HttpError::invalidRequest:
        case HttpError::cancelled:
            return FetchError(FetchError::connectionFailed, res.error);
        // Something answered, but nothing that can be read.
        case HttpError::bodyTooLarge:
        case HttpError::headersTooLarge:
        case HttpError::badReply:
        case HttpError::unsupportedEncoding:
            return FetchError(FetchError::unreadable, res.error);
    }
    if (res.status < 200 || res.status > 299) {
        FetchError e(FetchError::badStatus);
        e.status = res.status;
        if (res.status >= 300 && res.status <= 399)
            if (auto where = res.header("Location"))
                e.location = withUserNameMasked(printable(*where), bridge.user);
        return e;
    }
    if (!res.body || res.body->empty()) return FetchError::noData;
    if (!isValidUtf8(*res.body)) return FetchError::unreadable;
    body = std::move(*res.body);
    return std::nullopt;
}

template <typename T, typename Decode>
FetchResult<T> fetchNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                        const char* resource, Decode decode, FetchMemo* memoOwner,
                        TlsRefusal* refusal) {
    std::string body;
    if (auto error = read(transport, bridge, resource, body, refusal)) return *error;
    FetchMemo::Slot<T>* memo = memoOwner ? &memoOwner->slot<T>() : nullptr;
    if (memo) {
        std::lock_guard<std::mutex> lock(memo->mutex);
        if (memo->valid && memo->body == body && memo->endpoint == bridge) return memo->list;
    }
    auto list = decode(body, bridge.hostPort, bridge.user);
    if (!list) return FetchError::unreadable;
    if (memo) {
        std::lock_guard<std::mutex> lock(memo->mutex);
        memo->endpoint = bridge;
        memo->body = std::move(body);
        memo->list = *list;
        memo->valid = true;
    }
    return std::move(*list);
}

}  // namespace

std::string fetchErrorLine(FetchError error, Collection collection) {
    const char* what = collection == Collection::lights   ? "Hue"
                       : collection == Collection::groups ? "Hue GROUPS"
                                                          : "Hue SCENE";
    const char* noun = collection == Collection::lights   ? "lights"
                       : collection == Collection::groups ? "groups"
                                                          : "scenes";
    switch (error.kind) {
        case FetchError::connectionFailed:
            if (error.cause == HttpError::timedOut)
                return std::string("ERROR: The bridge did not answer the read of its ") + noun +
                       " within " + std::to_string(kReadTimeout.count()) + " s.";
            if (error.cause == HttpError::none || error.cause == HttpError::connectionFailed)
                return std::string("ERROR: Could not reach the bridge to read its ") + noun + ".";
            return std::string("ERROR: Could not reach the bridge to read its ") + noun + ": " +
                   noReplyText(error.cause) + ".";
        case FetchError::certificateRefused:
            return std::string("ERROR: The bridge's certificate was refused; its ") + noun +
                   " were not read.";
        case FetchError::noData:
            return collection == Collection::lights
                       ? std::string("ERROR: No data received. Giving up.")
                       : std::string("ERROR: No ") +
                             (collection == Collection::groups ? "GROUPS" : "SCENE") +
                             " data received. Giving up.";
        case FetchError::unreadable:
            if (error.cause != HttpError::none)
                return std::string("Error: Couldn't read ") + what +
                       " data: " + noReplyText(error.cause) + ".";
            return std::string("Error: Couldn't decode ") + what +
                   " data due to unknown JSON data.";
        case FetchError::badStatus: {
            std::string line = std::string("ERROR: The bridge answered the read of its ") + noun +
                               " with " + statusText(error.status);
            if (error.status == 429) line += ": it is busy";
            if (!error.location.empty()) line += ", pointing to " + error.location;
            return line + ".";
        }
    }
    return {};
}

LightsResult fetchLightsNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo, TlsRefusal* refusal) {
    return fetchNow<HueLight>(transport, bridge, "/lights", decodeLights, memo, refusal);
}
GroupsResult fetchGroupsNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo, TlsRefusal* refusal) {
    return fetchNow<HueGroup>(transport, bridge, "/groups", decodeGroups, memo, refusal);
}
ScenesResult fetchScenesNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo, TlsRefusal* refusal) {
    return fetchNow<HueScene>(transport, bridge, "/scenes", decodeScenes, memo, refusal);
}

std::string fetchBridgeModelNow(const HttpTransport& transport, const BridgeEndpoint& bridge) {
    std::string body;
    if (bridge.hostPort.empty() || bridge.user.empty() ||
        read(transport, bridge, "/config", body, nullptr))
        return {};
    const auto config = nlohmann::json::parse(body, nullptr, false);
    if (!config.is_object()) return {};
    const auto model = config.find("modelid");
    return model != config.end() && model->is_string() ? model->get<std::string>() : std::string();
}

}  // namespace lumora
