#include "bridge/bridge_address.h"

#include "base/letter_case.h"
#include "base/utf8.h"
#include "bridge/http.h"

namespace lumora {

namespace {

// `prefix` is in small letters.
bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && asciiLowerCased(s.substr(0, prefix.size())) == prefix;
}

}  // namespace

BridgeAddress parseBridgeAddress(std::string_view typed) {
    const std::string trimmed = trimUnicodeSpace(typed);
    std::string_view s = trimmed;
    if (s.empty()) return {AddressProblem::empty, {}};
    bool https = false;
    if (startsWithNoCase(s, "https://")) {
        s.remove_prefix(8);
        https = true;
    } else if (startsWithNoCase(s, "http://")) {
        s.remove_prefix(7);
    }
    if (s.ends_with('/')) s.remove_suffix(1);
    // What is left must be the authority alone: no path, query, fragment or
    // user part, and nothing the strict URL parser would refuse.
    if (s.empty() || s.find_first_of("/?#@\\") != std::string_view::npos)
        return {AddressProblem::invalid, {}};
    const std::string hostPort(s);
    auto url = parseUrl("http://" + hostPort + "/");
    if (!url || url->target != "/") return {AddressProblem::invalid, {}};
    return {AddressProblem::none, hostPort, https};
}

std::string addressProblemMessage(AddressProblem problem, std::string_view typed) {
    const std::string shown = trimUnicodeSpace(typed);
    switch (problem) {
        case AddressProblem::none:
            return {};
        case AddressProblem::empty:
            return "No bridge address given.";
        case AddressProblem::invalid:
            return "\"" + shown +
                   "\" is not a valid bridge address. Use HOST or HOST:PORT, for example "
                   "192.168.1.20, "
                   "bridge.local:80 or [fe80::1]:80; http:// or https:// in front is accepted "
                   "too.";
    }
    return {};
}

}  // namespace lumora
