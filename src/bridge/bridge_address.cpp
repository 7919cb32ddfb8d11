#include "bridge/bridge_address.h"

#include <algorithm>
#include <array>

#include "bridge/http.h"

namespace lumora {

namespace {

// UTF-8 forms of the Unicode White_Space characters beyond ASCII, plus
// U+200B and U+FEFF, which are invisible and come along with pasted text.
constexpr std::array<std::string_view, 21> kWideSpaces = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80", "\xE2\x80\x8B", "\xEF\xBB\xBF"};

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length of the white space at the front of `s`, 0 if none.
size_t spaceAtFront(std::string_view s) {
    if (!s.empty() && isAsciiSpace(s.front())) return 1;
    for (auto w : kWideSpaces)
        if (s.starts_with(w)) return w.size();
    return 0;
}

size_t spaceAtBack(std::string_view s) {
    if (!s.empty() && isAsciiSpace(s.back())) return 1;
    for (auto w : kWideSpaces)
        if (s.ends_with(w)) return w.size();
    return 0;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char p, char c) {
               return (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) == p;
           });
}

}  // namespace

std::string trimUnicodeSpace(std::string_view s) {
    while (size_t n = spaceAtFront(s)) s.remove_prefix(n);
    while (size_t n = spaceAtBack(s)) s.remove_suffix(n);
    return std::string(s);
}

BridgeAddress parseBridgeAddress(std::string_view typed) {
    const std::string trimmed = trimUnicodeSpace(typed);
    std::string_view s = trimmed;
    if (s.empty()) return {AddressProblem::empty, {}};
    if (startsWithNoCase(s, "https://")) return {AddressProblem::https, {}};
    if (startsWithNoCase(s, "http://")) s.remove_prefix(7);
    if (s.ends_with('/')) s.remove_suffix(1);
    // What is left must be the authority alone: no path, query, fragment or
    // user part, and nothing the strict URL parser would refuse.
    if (s.empty() || s.find_first_of("/?#@\\") != std::string_view::npos)
        return {AddressProblem::invalid, {}};
    const std::string hostPort(s);
    auto url = parseUrl("http://" + hostPort + "/");
    if (!url || url->target != "/") return {AddressProblem::invalid, {}};
    return {AddressProblem::none, hostPort};
}

std::string addressProblemMessage(AddressProblem problem, std::string_view typed) {
    const std::string shown = trimUnicodeSpace(typed);
    switch (problem) {
        case AddressProblem::none:
            return {};
        case AddressProblem::empty:
            return "No bridge address given.";
        case AddressProblem::https:
            return "\"" + shown +
                   "\" is an HTTPS address; only plain HTTP bridges are supported for now. Use "
                   "HOST or "
                   "HOST:PORT, for example 192.168.1.20 or http://192.168.1.20:80.";
        case AddressProblem::invalid:
            return "\"" + shown +
                   "\" is not a valid bridge address. Use HOST or HOST:PORT, for example "
                   "192.168.1.20, "
                   "bridge.local:80 or [fe80::1]:80; http://HOST[:PORT] is accepted too.";
    }
    return {};
}

}  // namespace lumora
