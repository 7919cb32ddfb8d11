#include "base/utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace lumora {

Utf8Char decodeUtf8(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t left = text.size() - at;
    const unsigned char c = p[0];
    if (c < 0x80) return {c, 1, true};
    std::size_t n;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) {
        n = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 3;
        cp = c & 0x07;
    } else {
        return {};
    }
    if (left <= n) return {};
    for (std::size_t i = 1; i <= n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    return {cp, n + 1, true};
}

Utf8Char lastUtf8Char(std::string_view text) {
    // At most one start among the last four bytes ends a valid sequence at the end.
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const Utf8Char c = decodeUtf8(text, text.size() - back);
        if (c.valid && c.length == back) return c;
    }
    return {};
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        // Bridge replies are nearly all ASCII: skip it eight bytes at a time.
        std::uint64_t word;
        while (i + sizeof word <= text.size()) {
            std::memcpy(&word, text.data() + i, sizeof word);
            if (word & 0x8080808080808080ull) break;
            i += sizeof word;
        }
        if (i == text.size()) break;
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Utf8Char c = decodeUtf8(text, i);
        if (!c.valid) return false;
        i += c.length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string withInvalidUtf8Replaced(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    forEachUtf8Char(text, [&](const Utf8Char& c, std::string_view bytes) {
        out += c.valid ? bytes : std::string_view("\xEF\xBF\xBD");
    });
    return out;
}

bool isUnicodeSpace(char32_t c) {
    static constexpr std::array<char32_t, 10> kWide = {0x85,   0xA0,   0x1680, 0x2028, 0x2029,
                                                       0x202F, 0x205F, 0x3000, 0x200B, 0xFEFF};
    if (c == ' ' || (c >= '\t' && c <= '\r')) return true;
    if (c >= 0x2000 && c <= 0x200A) return true;
    return std::find(kWide.begin(), kWide.end(), c) != kWide.end();
}

std::string trimUnicodeSpace(std::string_view s) {
    while (!s.empty()) {
        const Utf8Char c = decodeUtf8(s, 0);
        if (!c.valid || !isUnicodeSpace(c.codePoint)) break;
        s.remove_prefix(c.length);
    }
    while (!s.empty()) {
        const Utf8Char c = lastUtf8Char(s);
        if (!c.valid || !isUnicodeSpace(c.codePoint)) break;
        s.remove_suffix(c.length);
    }
    return std::string(s);
}

}  // namespace lumora
