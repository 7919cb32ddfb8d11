#include "base/letter_case.h"

#include <array>

namespace lumora {

namespace {

// A run of capitals and how far each one's small letter lies. In the
// alternating runs of Latin Extended-A capital and small letter take turns,
// the capital first, so only every other code point is a capital.
struct CaseRun {
    char32_t first;
    char32_t last;
    int delta;
    bool alternating;
};

constexpr std::array kRuns{
    CaseRun{U'A', U'Z', 32, false},   CaseRun{0xC0, 0xD6, 32, false},
    CaseRun{0xD8, 0xDE, 32, false},   CaseRun{0x100, 0x12E, 1, true},
    CaseRun{0x132, 0x136, 1, true},   CaseRun{0x139, 0x147, 1, true},
    CaseRun{0x14A, 0x176, 1, true},   CaseRun{0x178, 0x178, 0xFF - 0x178, false},
    CaseRun{0x179, 0x17D, 1, true},   CaseRun{0x391, 0x3A1, 32, false},  // Greek; U+03A2
    CaseRun{0x3A3, 0x3A9, 32, false},  // is unassigned and final sigma has no capital
    CaseRun{0x400, 0x40F, 80, false}, CaseRun{0x410, 0x42F, 32, false},  // Cyrillic
};

bool isCapitalIn(const CaseRun& r, char32_t c) {
    return c >= r.first && c <= r.last && (!r.alternating || (c - r.first) % 2 == 0);
}

}  // namespace

char32_t lowerCase(char32_t c) {
    for (const auto& r : kRuns)
        if (isCapitalIn(r, c)) return static_cast<char32_t>(static_cast<int>(c) + r.delta);
    return c;
}

char32_t upperCase(char32_t c) {
    // Dotless i is shown as the dotted capital, as key texts always have
    // been; lowering leaves both Turkish i's alone, as sorting always has.
    if (c == 0x131) return 0x130;
    for (const auto& r : kRuns) {
        const auto capital = static_cast<char32_t>(static_cast<int>(c) - r.delta);
        if (isCapitalIn(r, capital)) return capital;
    }
    return c;
}

std::string asciiLowerCased(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(lowerCase(static_cast<char32_t>(ch)));
    return out;
}

}  // namespace lumora
