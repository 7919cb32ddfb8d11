#include "preferences/site_pages.h"

#include <charconv>

namespace lumora::prefs {

namespace {
bool isFileBase(const std::string& base) {
    return base.rfind("file:", 0) == 0;
}
std::string withSlash(std::string base) {
    if (base.empty() || base.back() != '/') base += '/';
    return base;
}
}  // namespace

std::string sitePage(const std::string& base, const std::string& page) {
    // An empty page is the home page.
    if (page.empty()) return withSlash(base) + (isFileBase(base) ? "index.html" : "");
    return withSlash(base) + page + (isFileBase(base) ? "/index.html" : "/");
}

std::string referenceSecondsText(std::chrono::system_clock::time_point t) {
    // 2001-01-01T00:00:00Z in Unix time.
    constexpr std::chrono::seconds kReference{978307200};
    const double seconds = std::chrono::duration<double>(t.time_since_epoch() - kReference).count();
    char buf[64];
    // Fixed notation keeps a whole number from turning into "8.49e+08".
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed);
    std::string out(buf, ec == std::errc() ? end : buf);
    if (out.find('.') == std::string::npos) out += ".0";
    return out;
}

std::string informationPageAddress(const std::string& base,
                                   std::chrono::system_clock::time_point now,
                                   const std::string& version) {
    const std::string page = isFileBase(base) ? "app_view/index.html" : "app_view/";
    return withSlash(base) + page + "?ac=" + referenceSecondsText(now) + "&v=" + version;
}

}  // namespace lumora::prefs
