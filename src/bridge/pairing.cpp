#include "bridge/pairing.h"

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "bridge/bridge_address.h"
#include "bridge/decode.h"
#include "bridge/http.h"

namespace lumora {

namespace {

PairingAnswer requestUserNameAt(const std::string& url, const HttpTransport& transport,
                                std::optional<TlsIdentity> tls) {
    // Every call builds a fresh request: no reply is ever cached.
    HttpRequest req;
    req.method = "POST";
    req.url = url;
    req.headers = {{"Content-Type", "application/json"}};
    req.body = R"({"devicetype":"lumora#osx"})";
    req.timeout = std::chrono::seconds(60);
    req.tls = std::move(tls);
    const HttpResponse res = transport(req);
    PairingAnswer answer{kNoConnection, commandOutcome(res)};
    const bool read = answer.reply.kind == CommandOutcome::Kind::accepted ||
                      answer.reply.kind == CommandOutcome::Kind::refused;
    if (read && res.body && isValidUtf8(*res.body)) answer.result = pairingOutcome(*res.body);
    return answer;
}

}  // namespace

PairingAnswer requestUserName(const std::string& hueIP, const HttpTransport& transport) {
    return requestUserNameAt("http://" + hueIP + "/api", transport, std::nullopt);
}

PairingAnswer requestUserName(const BridgeEndpoint& bridge, const HttpTransport& transport) {
    return requestUserNameAt(bridge.base() + "/api", transport, bridge.identity());
}

std::string manageBridge(const std::string& hueIP, const HttpTransport& transport) {
    return requestUserName(hueIP, transport).result;
}

std::string manageBridge(const BridgeEndpoint& bridge, const HttpTransport& transport) {
    return requestUserName(bridge, transport).result;
}

std::string pairingOutcome(std::string_view text) {
    if (text.empty()) return kNoConnection;

    using nlohmann::json;
    json reply = json::parse(text, nullptr, false);
    if (reply.is_discarded() || !reply.is_array() || reply.empty()) return kNoConnection;

    // The whole list must read as access responses: objects whose known
    // members have the right kinds (null counts as absent).
    auto present = [](const json& o, const char* k) {
        auto it = o.find(k);
        return it != o.end() && !it->is_null() ? &*it : nullptr;
    };
    for (const auto& e : reply) {
        if (!e.is_object()) return kNoConnection;
        if (const json* err = present(e, "error")) {
            if (!err->is_object()) return kNoConnection;
            const json* t = present(*err, "type");
            const json* a = present(*err, "address");
            const json* d = present(*err, "description");
            if ((t && !wholeNumber(*t)) || (a && !a->is_string()) || (d && !d->is_string()))
                return kNoConnection;
        }
        if (const json* ok = present(e, "success")) {
            if (!ok->is_object()) return kNoConnection;
            const json* u = present(*ok, "username");
            if (u && !u->is_string()) return kNoConnection;
        }
    }

    const json& first = reply.front();
    if (const json* err = present(first, "error")) {
        if (const json* t = present(*err, "type")) {
            const auto type = wholeNumber(*t);
            if (type == 1 || type == 101) return kPressButton;
        }
    }
    if (const json* ok = present(first, "success")) {
        if (const json* u = present(*ok, "username")) {
            // An empty name would be taken as "not paired yet" and pairing
            // would start again at once, without end.
            if (trimUnicodeSpace(u->get_ref<const std::string&>()).empty()) return kNoUserName;
            return u->get<std::string>();
        }
    }
    return kNoConnection;
}

}  // namespace lumora
