#pragma once
// The order of names as people expect it: locale-aware and case-insensitive.

#include <string>
#include <string_view>

namespace lumora {

// True when `a` sorts strictly before `b`. Letters with diacritics sort with
// their base letter. The collation of the user's locale (LC_ALL, LC_COLLATE,
// LANG).
bool localizedCaseInsensitiveLess(std::string_view a, std::string_view b);
// The same for a given locale ("de_DE", "sv_SE"; "" for the root order).
bool collatedLess(std::string_view a, std::string_view b, const std::string& locale);

}  // namespace lumora
