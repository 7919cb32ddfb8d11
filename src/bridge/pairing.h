#pragma once
// Asking the bridge for a user name with the link-button exchange. Both calls
// block for one HTTP request: run them on a worker, never on the UI thread.

#include <optional>
#include <string>
#include <string_view>

#include "bridge/bridge_endpoint.h"
#include "bridge/command_reply.h"

namespace lumora {

inline constexpr const char* kPressButton = "press_button";
inline constexpr const char* kNoConnection = "no_connection";
// The bridge said yes but gave a user name that is empty or only white space.
inline constexpr const char* kNoUserName = "no_user_name";

// The answer to one pairing request: `result` as manageBridge gives it, and
// what the reply said, for a message when it is no user name.
struct PairingAnswer {
    std::string result;
    CommandOutcome reply;
};

// POSTs the fixed pairing body to the bridge at `hueIP` (HOST[:PORT]). A
// reply outside 2xx is a failure whatever its body says, and its body is
// never read: a busy bridge must not hand out a user name that way.
PairingAnswer requestUserName(const std::string& hueIP, const HttpTransport& transport = httpSend);
// The same over the bridge's own link (https with its identity, or http).
PairingAnswer requestUserName(const BridgeEndpoint& bridge,
                              const HttpTransport& transport = httpSend);

// The new user name, "press_button", "no_connection" or "no_user_name".
std::string manageBridge(const std::string& hueIP, const HttpTransport& transport = httpSend);

// As manageBridge, to the bridge as `bridge` names it (its user is ignored):
// over HTTPS the certificate is checked before the request is written.
std::string manageBridge(const BridgeEndpoint& bridge, const HttpTransport& transport);

// What the bridge's reply body to the pairing request says, with the same
// answers as manageBridge.
std::string pairingOutcome(std::string_view reply);

}  // namespace lumora
