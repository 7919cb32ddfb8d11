#pragma once
// What the bridge said to a request that changes something (a command, a
// schedule, pairing). The HTTP status comes first: anything but 2xx is a
// failure, whatever the body holds. A 2xx reply may still list refusals,
// since the bridge answers its own errors with status 200.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/http.h"

namespace lumora {

struct CommandOutcome {
    enum class Kind {
        accepted,    // 2xx and no error entry
        noReply,     // the request failed on the way: `error`
        redirected,  // 3xx: `status`, and `location` where the reply gave one
        busy,        // 429 Too Many Requests
        badStatus,   // any other status outside 2xx
        refused,     // 2xx with error entries: `refusals`
    };
    Kind kind = Kind::accepted;
    HttpError error = HttpError::none;
    int status = 0;
    std::string location;  // printable, shortened
    // The bridge's reasons, printable; at most kMaxRefusalsKept of them.
    std::vector<std::string> refusals;
    std::size_t moreRefusals = 0;  // listed beyond those kept
    std::string tlsDetail;         // tlsFailed: what was wrong with the certificate

    bool ok() const { return kind == Kind::accepted; }
    // One English line, without the program's name: "the bridge is busy (429
    // Too Many Requests)". A refusal reads "the bridge refused: REASON".
    std::string describe() const;
};

// A hostile reply must not flood a terminal or the log.
inline constexpr std::size_t kMaxRefusalsKept = 8;

CommandOutcome commandOutcome(const HttpResponse& reply);

// "Service Unavailable" for 503; empty for a status without a known name.
std::string_view statusReason(int status);
// "503 Service Unavailable", or "HTTP 599" for an unnamed one.
std::string statusText(int status);
// Why a request got no usable reply, in a few English words: "the bridge
// did not answer in time", "the reply is larger than 16 MiB".
std::string noReplyText(HttpError error);

// Text from the bridge made fit for a terminal or a log line: control
// characters and bytes that are not UTF-8 become U+FFFD, and past `max`
// characters it is cut with an ellipsis.
std::string printable(std::string_view text, std::size_t max = 160);

}  // namespace lumora
