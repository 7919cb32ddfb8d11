// A target that fails on purpose, to check that the replay notices.
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 5 && std::memcmp(data, "crash", 5) == 0) std::abort();
    return 0;
}
