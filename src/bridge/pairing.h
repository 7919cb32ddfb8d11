#pragma once
// Asking the bridge for a user name with the link-button exchange. Both calls
// block for one HTTP request: run them on a worker, never on the UI thread.

#include <optional>
#include <string>
#include <string_view>

#include "bridge/bridge_endpoint.h"

namespace lumora {

inline constexpr const char* kPressButton = "press_button";
inline constexpr const char* kNoConnection = "no_connection";
// The bridge said yes but gave a user name that is empty or only white space.
inline constexpr const char* kNoUserName = "no_user_name";

// POSTs the fixed pairing body to `address`; the reply body, or the empty
// text when the address is not a URL, the request fails or the reply is not
// UTF-8.
std::string getBridgeAccess(const std::string& address, const HttpTransport& transport = httpSend,
                            std::optional<TlsIdentity> tls = std::nullopt);

// The new user name, "press_button", "no_connection" or "no_user_name".
std::string manageBridge(const std::string& hueIP, const HttpTransport& transport = httpSend);

// As manageBridge, to the bridge as `bridge` names it (its user is ignored):
// over HTTPS the certificate is checked before the request is written.
std::string manageBridge(const BridgeEndpoint& bridge, const HttpTransport& transport);

// What the bridge's reply body to the pairing request says, with the same
// answers as manageBridge.
std::string pairingOutcome(std::string_view reply);

}  // namespace lumora
