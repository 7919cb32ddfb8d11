// Any text typed as the bridge's address, and any text as a URL: what is
// accepted must be usable as it is, and accepting it again gives the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge/bridge_address.h"
#include "bridge/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const lumora::BridgeAddress typed = lumora::parseBridgeAddress(text);
    if (typed.ok()) {
        // The settings keep the bare HOST[:PORT]; requests put it in a URL.
        if (typed.hostPort.empty()) std::abort();
        const auto url = lumora::parseUrl("http://" + typed.hostPort + "/api");
        if (!url || url->target != "/api") std::abort();
        const lumora::BridgeAddress again = lumora::parseBridgeAddress(typed.hostPort);
        if (!again.ok() || again.hostPort != typed.hostPort) std::abort();
    } else if (lumora::addressProblemMessage(typed.problem, text).empty()) {
        std::abort();
    }

    if (const auto url = lumora::parseUrl(text)) {
        if (url->scheme != "http" && url->scheme != "https") std::abort();
        if (url->host.empty() || url->port < 1 || url->port > 65535) std::abort();
        if (url->target.empty() || url->target.front() != '/') std::abort();
        for (const char c : url->host + url->target)
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                std::abort();
    }
    return 0;
}
