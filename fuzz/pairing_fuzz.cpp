// Any bytes as the bridge's reply to the pairing request: the answer is one
// of the fixed outcomes or a user name with something in it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "bridge/pairing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string outcome = lumora::pairingOutcome(reply);
    if (outcome == lumora::kPressButton || outcome == lumora::kNoConnection ||
        outcome == lumora::kNoUserName)
        return 0;
    // A user name: taken from a JSON string, so valid UTF-8, and never blank
    // (a blank one would start pairing again without end).
    if (!lumora::isValidUtf8(outcome) || lumora::trimUnicodeSpace(outcome).empty()) std::abort();
    return 0;
}
