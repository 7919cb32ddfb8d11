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

std::string withUserNameMasked(std::string text, std::string_view user) {
    if (user.empty()) return text;
    static constexpr std::string_view kApi = "/api/";
    const std::string hint = userNameHint(user);
    for (auto at = text.find(kApi); at != std::string::npos; at = text.find(kApi, at + 1)) {
        const auto from = at + kApi.size();
        if (text.compare(from, user.size(), user) != 0) continue;
        // Only the whole segment: "/api/ab" is no mask for a user "a".
        const auto end = from + user.size();
        if (end < text.size() &&
            std::string_view("/?# \"'").find(text[end]) == std::string_view::npos)
            continue;
        text.replace(from, user.size(), hint);
    }
    return text;
}

}  // namespace lumora
