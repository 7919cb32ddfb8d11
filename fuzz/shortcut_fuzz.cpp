// Any bytes as a stored shortcut: what reads as one writes back to the same
// shortcut and can be shown.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/utf8.h"
#include "shortcuts/shortcut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto shortcut = lumora::Shortcut::fromJson(text);
    if (!shortcut) return 0;
    if (lumora::Shortcut::fromJson(shortcut->json()) != shortcut) std::abort();
    if ((shortcut->carbonModifiers() & ~lumora::Modifiers::allCarbonBits) != 0) std::abort();
    // Stored key codes come from anywhere: showing one must stay in bounds.
    if (!lumora::isValidUtf8(shortcut->description())) std::abort();
    return 0;
}
