#include "bridge/collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

#include "base/letter_case.h"
#include "base/utf8.h"

namespace lumora {

namespace {

// Next code point of UTF-8 text (replies were validated by the HTTP layer;
// a stray byte in any other text is taken as itself).
char32_t nextCodePoint(std::string_view s, size_t& i) {
    const Utf8Char c = decodeUtf8(s, i);
    const char32_t cp = c.valid ? c.codePoint : static_cast<unsigned char>(s[i]);
    i += c.length;
    return cp;
}

// Base letter of Latin-1 and Latin Extended-A letters with diacritics
// ('/' where there is none, such as æ or ø).
char32_t baseLetter(char32_t c) {
    static constexpr std::string_view latin1 = "aaaaaa/ceeeeiiii/nooooo//uuuuy/y";  // 0xE0..0xFF
    static constexpr std::string_view extA =                                        // 0x100..0x17F
        "aaaaaaccccccccdd//eeeeeeeeeegggggggghh//iiiiiiiii///jjkk/llllll////nnnnnn///oooooo//"
        "rrrrrrsssssssstttt//uuuuuuuuuuuuwwyyyzzzzzz/";
    char b = '/';
    if (c >= 0xE0 && c <= 0xFF) b = latin1[c - 0xE0];
    if (c >= 0x100 && c <= 0x17F) b = extA[c - 0x100];
    return b == '/' ? c : static_cast<char32_t>(b);
}

int compareFolded(std::string_view a, std::string_view b, bool stripDiacritics) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t x = lowerCase(nextCodePoint(a, i));
        char32_t y = lowerCase(nextCodePoint(b, j));
        if (stripDiacritics) {
            x = baseLetter(x);
            y = baseLetter(y);
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace

namespace {

// A collator for `locale` at secondary strength (letters and accents count,
// case does not), one per thread and locale: decoding runs on workers.
const icu::Collator* collatorFor(const std::string& locale) {
    thread_local std::map<std::string, std::unique_ptr<icu::Collator>> collators;
    auto it = collators.find(locale);
    if (it != collators.end()) return it->second.get();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(
        icu::Collator::createInstance(icu::Locale::createCanonical(locale.c_str()), status));
    if (U_FAILURE(status) || !c) {
        c.reset();
    } else {
        c->setStrength(icu::Collator::SECONDARY);
    }
    return collators.emplace(locale, std::move(c)).first->second.get();
}

// The user's collation locale. The C and POSIX locales get the root order:
// their own tailoring sorts every capital before every small letter.
std::string userCollationLocale() {
    const char* names[] = {"LC_ALL", "LC_COLLATE", "LANG"};
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (!v || !*v) continue;
        std::string locale(v);
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale == "C" || locale == "POSIX") return "";
        return locale;
    }
    return "";
}

// The root order at secondary strength puts printable ASCII as below, each
// capital with its small letter, with no contractions or expansions among
// them: for names of these characters alone a rank per character decides,
// and the collator (a couple of MiB of tables once opened) stays closed. The
// tests hold this order against the collator's own.
constexpr std::string_view kRootAsciiOrder =
    " _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$0123456789abcdefghijklmnopqrstuvwxyz";

constexpr std::array<std::uint8_t, 128> rootAsciiRanks() {
    std::array<std::uint8_t, 128> ranks{};
    for (std::size_t i = 0; i < kRootAsciiOrder.size(); ++i) {
        const auto c = static_cast<unsigned char>(kRootAsciiOrder[i]);
        ranks[c] = static_cast<std::uint8_t>(i + 1);
        if (c >= 'a' && c <= 'z') ranks[c - 'a' + 'A'] = ranks[c];
    }
    return ranks;
}
constexpr auto kRootAsciiRank = rootAsciiRanks();

// Locales that keep the root's order of printable ASCII.
bool keepsRootAsciiOrder(const std::string& locale) {
    return locale.empty() || locale == "en" ||
           (locale.rfind("en_", 0) == 0 && locale.find("POSIX") == std::string::npos);
}

bool isPrintableAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x7f;
    });
}

// Both printable ASCII: negative, zero or positive as `a` sorts before, with
// or after `b` in the root order.
int compareRootAscii(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = kRootAsciiRank[static_cast<unsigned char>(a[i])];
        const int y = kRootAsciiRank[static_cast<unsigned char>(b[i])];
        if (x != y) return x - y;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

bool collatedLess(std::string_view a, std::string_view b, const std::string& locale) {
    if (keepsRootAsciiOrder(locale) && isPrintableAscii(a) && isPrintableAscii(b)) {
        return compareRootAscii(a, b) < 0;
    }
    if (const icu::Collator* c = collatorFor(locale)) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult r =
            c->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                           icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
        if (U_SUCCESS(status)) return r == UCOL_LESS;
    }
    // Without a collator, the shared case table and the base letters above.
    int primary = compareFolded(a, b, true);
    if (primary != 0) return primary < 0;
    return compareFolded(a, b, false) < 0;
}

bool localizedCaseInsensitiveLess(std::string_view a, std::string_view b) {
    static const std::string locale = userCollationLocale();
    return collatedLess(a, b, locale);
}

}  // namespace lumora
