// Any bytes as what a client sent: the simulator's framer must find the same
// end of the request whether the bytes come at once or a few at a time, and
// never an end beyond what it was given.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "simulator/request_framing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using lumora::sim::RequestFramer;
    if (size == 0) return 0;
    // The first byte sets the size of the pieces; small limits reach the caps.
    const std::size_t step = data[0] % 7 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const lumora::sim::FramingLimits limits{.maxHeadBytes = 256, .maxBodyBytes = 128};

    RequestFramer whole(limits);
    const RequestFramer::Result once = whole.advance(bytes);
    RequestFramer pieces(limits);
    RequestFramer::Result result = RequestFramer::Result::needMore;
    for (std::size_t n = 0; result == RequestFramer::Result::needMore;) {
        n = std::min(n + step, bytes.size());
        result = pieces.advance(bytes.substr(0, n));
        if (n == bytes.size()) break;
    }
    if (result != once) std::abort();
    if (once == RequestFramer::Result::complete) {
        if (whole.length() > bytes.size() || whole.length() != pieces.length()) std::abort();
        if (whole.headLength() > whole.length() || whole.headLength() > limits.maxHeadBytes) {
            std::abort();
        }
    }
    return 0;
}
