#pragma once
// UTF-8 text, read one way throughout the program: strictly, so an overlong
// form, a surrogate, a value past U+10FFFF or a sequence cut short is never
// taken for a character.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora {

// One step through UTF-8 text.
struct Utf8Char {
    char32_t codePoint = U'\uFFFD';  // U+FFFD when not valid
    std::size_t length = 1;          // bytes taken; an invalid sequence takes one
    bool valid = false;
};

// Decodes the character that starts at byte `at` (below text.size()). Where
// no valid sequence starts there, the result is not valid and moves on by one
// byte, so a reader can decide what that byte stands for and go on.
Utf8Char decodeUtf8(std::string_view text, std::size_t at);
// The last character of `text`, which must not be empty.
Utf8Char lastUtf8Char(std::string_view text);

// Calls `f(c, bytes)` for each character of `text` in turn, `bytes` being
// what `c` was read from (one byte when not valid).
template <typename F>
void forEachUtf8Char(std::string_view text, F&& f) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decodeUtf8(text, i);
        f(c, text.substr(i, c.length));
        i += c.length;
    }
}

bool isValidUtf8(std::string_view text);
void appendUtf8(std::string& out, char32_t codePoint);
// `text` with each byte that starts no valid sequence replaced by U+FFFD.
std::string withInvalidUtf8Replaced(std::string_view text);

// Unicode White_Space, plus U+200B and U+FEFF, which are invisible and come
// along with pasted text.
bool isUnicodeSpace(char32_t c);
// Cuts such space from both ends; only whole characters go.
std::string trimUnicodeSpace(std::string_view text);

}  // namespace lumora
