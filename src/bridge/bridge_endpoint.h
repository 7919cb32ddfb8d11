#pragma once
// Which bridge, as whom, and how a request reaches it. Every request of the
// program to its bridge is built from an endpoint and sent through a
// transport, so the address, the identity and the client are each in one
// place.

#include <functional>
#include <string>
#include <string_view>

#include "bridge/http.h"

namespace lumora {

// Sends one request and blocks for the reply; `httpSend` unless a program or
// test gives another.
using HttpTransport = std::function<HttpResponse(const HttpRequest&)>;

struct BridgeEndpoint {
    std::string hostPort;  // the bare HOST[:PORT]
    std::string user;      // the user name the bridge issued; empty before pairing

    // "http://HOST[:PORT]/api/USER" followed by `path` ("/lights").
    std::string url(std::string_view path) const {
        return "http://" + hostPort + "/api/" + user + std::string(path);
    }
    bool operator==(const BridgeEndpoint&) const = default;
};

// Enough of a user name to tell two apart in a log, never the whole secret.
std::string userNameHint(std::string_view user);

// `text` (a URL, a log line) with the user name in each bridge path
// "/api/USER" shown as its hint.
std::string withUserNameMasked(std::string text, std::string_view user);

}  // namespace lumora
