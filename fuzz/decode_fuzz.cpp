// Any bytes as a bridge reply: decoding must never crash, and what it keeps
// must follow the reading rules.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/decode.h"
#include "bridge/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    if (auto lights = lumora::decodeLights(body, "ip", "key")) {
        for (const auto& l : *lights)
            if (l.hue_ip != "ip" || (!l.allows_brightness && (l.allows_color || l.allows_ambient)))
                std::abort();
    }
    if (auto groups = lumora::decodeGroups(body, "ip", "key")) {
        for (size_t i = 1; i < groups->size(); ++i)
            if (lumora::localizedCaseInsensitiveLess((*groups)[i].name, (*groups)[i - 1].name))
                std::abort();
    }
    lumora::decodeScenes(body, "ip", "key");
    lumora::parseHueDiscoveryResponse(body);
    return 0;
}
