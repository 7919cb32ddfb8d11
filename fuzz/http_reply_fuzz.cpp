// Any bytes as a reply on the wire: reading must never crash, never exceed
// its caps, and never depend on where the network split the bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/http_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the split and the limits; the rest is the reply.
    const std::size_t piece = 1 + data[0] % 17;
    lumora::HttpReplyLimits limits;
    limits.maxHeaderBytes = 64 + data[0] * 4;
    limits.maxHeaderLines = 1 + data[0] % 8;
    limits.maxBodyBytes = data[0];
    const bool head = data[0] & 0x80;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    const auto whole = lumora::parseHttpReply(bytes, limits, head);
    const auto split = lumora::parseHttpReply(bytes, limits, head, piece);
    if (whole.error != split.error || whole.status != split.status || whole.body != split.body ||
        whole.keepAlive != split.keepAlive)
        std::abort();
    if (whole.error == lumora::HttpError::none) {
        if (whole.body.size() > limits.maxBodyBytes ||
            whole.headers.size() > limits.maxHeaderLines || whole.status < 200 ||
            whole.status > 599 || whole.consumed != split.consumed)
            std::abort();
    } else if (!whole.body.empty()) {
        std::abort();
    }
    return 0;
}
