#pragma once

#include <string>
#include <string_view>

namespace lumora {

// What people type or paste as the bridge's address: HOST, HOST:PORT, or the
// same with "http://" or "https://" in front and a slash behind, with white
// space (any Unicode white space, as pasted from a browser or a chat) around it.
enum class AddressProblem {
    none,
    empty,    // nothing but white space
    invalid,  // does not form HOST or HOST:PORT
};

struct BridgeAddress {
    AddressProblem problem = AddressProblem::empty;
    std::string hostPort;  // the bare HOST[:PORT] when problem is none
    // "https://" was typed: the bridge is reached over HTTPS only, never
    // tried over plain HTTP.
    bool https = false;

    bool ok() const { return problem == AddressProblem::none; }
};

BridgeAddress parseBridgeAddress(std::string_view typed);

// A sentence for the user that names the typed text and the accepted forms.
std::string addressProblemMessage(AddressProblem problem, std::string_view typed);

}  // namespace lumora
