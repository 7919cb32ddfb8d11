#pragma once
// Reading the bridge's lights, groups and scenes. Each read blocks for one
// request: run it on a worker.

#include <mutex>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "bridge/bridge_endpoint.h"
#include "bridge/http.h"
#include "bridge/records.h"

namespace lumora {

// Why a read gave no list. The same for every collection; what exactly
// happened rides along for the log line.
struct FetchError {
    enum Kind {
        connectionFailed,  // no reply: unreachable, refused, timed out, no valid address
        noData,            // a reply without a body
        unreadable,        // a body that is not the collection (an error list, not JSON, not UTF-8)
        badStatus,         // a status outside 2xx; its body is not read
        certificateRefused,  // https: the peer's certificate did not prove it is the bridge
    };
    Kind kind = connectionFailed;
    // connectionFailed and unreadable: what the HTTP client said, if it said
    // anything (timedOut, bodyTooLarge, ...).
    HttpError cause = HttpError::none;
    int status = 0;        // badStatus
    std::string location;  // badStatus 3xx: where it points, the user name masked

    FetchError(Kind k = connectionFailed, HttpError c = HttpError::none) : kind(k), cause(c) {}
    bool operator==(Kind k) const { return kind == k; }
    bool operator==(const FetchError&) const = default;
};

enum class Collection { lights, groups, scenes };

// The diagnostic line for the log, in English.
std::string fetchErrorLine(FetchError error, Collection collection);

template <typename T>
using FetchResult = std::variant<std::vector<T>, FetchError>;

using LightsResult = FetchResult<HueLight>;
using GroupsResult = FetchResult<HueGroup>;
using ScenesResult = FetchResult<HueScene>;

// The last reply of each collection and the records decoded from it. The
// refresh asks every few seconds and the bridge mostly answers with the very
// same bytes: the records decoded last time come back instead of parsing and
// sorting again. Besides the CPU this keeps the records' ids, so an unchanged
// bridge compares equal and nothing downstream redraws. Whoever reads
// repeatedly owns one; reads on several workers may share it.
class FetchMemo {
  public:
    template <typename T>
    struct Slot {
        std::mutex mutex;
        BridgeEndpoint endpoint;
        std::string body;
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

// Without a memo every reply is decoded afresh. A refused certificate is
// described in `refusal` when one is given.
LightsResult fetchLightsNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo = nullptr, TlsRefusal* refusal = nullptr);
GroupsResult fetchGroupsNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo = nullptr, TlsRefusal* refusal = nullptr);
ScenesResult fetchScenesNow(const HttpTransport& transport, const BridgeEndpoint& bridge,
                            FetchMemo* memo = nullptr, TlsRefusal* refusal = nullptr);

// The bridge's model ("BSB002") from its configuration; empty when it cannot
// be read.
std::string fetchBridgeModelNow(const HttpTransport& transport, const BridgeEndpoint& bridge);

inline constexpr auto kReadTimeout = std::chrono::seconds(4);

}  // namespace lumora
