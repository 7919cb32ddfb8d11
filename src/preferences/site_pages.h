#pragma once
// Addresses of the product pages the settings window opens. The base is the
// bundled site (a file: URL of its folder) or a web site; both end in "/".

#include <chrono>
#include <string>

namespace lumora::prefs {

// base + page + "/", or + "/index.html" for a folder on disk, which has no
// server to pick the index page.
std::string sitePage(const std::string& base, const std::string& page);

// Seconds since 2001-01-01 00:00 UTC, in the shortest decimal form that reads
// back as the same double, always with a decimal point and fraction digits.
std::string referenceSecondsText(std::chrono::system_clock::time_point t);

// The in-program information page: its "ac" changes with every call so that
// the page is fetched afresh; "v" tells the page which version asks.
std::string informationPageAddress(const std::string& base,
                                   std::chrono::system_clock::time_point now,
                                   const std::string& version);

}  // namespace lumora::prefs
