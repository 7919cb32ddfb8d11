#include "bridge/bridge_endpoint.h"

namespace lumora {

std::optional<TlsIdentity> BridgeEndpoint::identity() const {
    if (!secure) return std::nullopt;
    if (!pin.empty()) return TlsIdentity::pinned(pin);
    return TlsIdentity::bridge(bridgeId, anchors);
}

HttpRequest BridgeEndpoint::request(std::string method, std::string url) const {
    HttpRequest req;
    req.method = std::move(method);
    req.url = std::move(url);
    req.tls = identity();
    return req;
}

std::string userNameHint(std::string_view user) {
    // A bridge's names are 40 characters; six of them tell two apart. A short
    // name shows a third of itself at most.
    std::size_t shown = std::min<std::size_t>(6, user.size() / 3);
    // Never half a character.
    while (shown > 0 && (static_cast<unsigned char>(user[shown]) & 0xC0) == 0x80) --shown;
    return std::string(user.substr(0, shown)) + "...";
}

}  // namespace lumora
