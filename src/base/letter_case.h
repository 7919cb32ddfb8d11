#pragma once
// One table of capital and small letters: Basic Latin, Latin-1, Latin
// Extended-A, Greek and Cyrillic, the scripts light and room names and key
// caps come in. Sorting names without a collator folds with it, key texts are
// shown upper-cased with it. Other letters map to themselves.

#include <string>
#include <string_view>

namespace lumora {

char32_t lowerCase(char32_t c);
char32_t upperCase(char32_t c);

// Only A to Z lowered, every other byte kept: for protocol words (a URL's
// scheme, a light's type), whatever locale the process runs in.
std::string asciiLowerCased(std::string_view text);

}  // namespace lumora
