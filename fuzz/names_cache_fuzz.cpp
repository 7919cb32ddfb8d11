// Any bytes as the names file found on disk: the new file holds only whole
// "kind<TAB>name" lines, the kinds read this time exactly as read and the
// others as they were.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/names_cache.h"

namespace {

std::vector<std::string> linesOf(std::string_view text, std::string_view kind) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);)
        if (line.size() > kind.size() && line.compare(0, kind.size(), kind) == 0 &&
            line[kind.size()] == '\t')
            out.push_back(line);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view old(reinterpret_cast<const char*>(data), size);
    // Which kinds were read this time varies with the input, so every mix of
    // kept and replaced kinds is met.
    const unsigned read = size ? data[size - 1] : 0;
    lumora::ctl::Names names;
    if (read & 1) names.lights = std::vector<std::string>{"Desk lamp", "Desk lamp", "a\tb", ""};
    if (read & 2) names.rooms = std::vector<std::string>{"Kitchen"};
    if (read & 4) names.scenes = std::vector<std::string>{};

    const std::string text = lumora::ctl::namesCacheText(old, names);
    if (!text.empty() && text.back() != '\n') std::abort();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) std::abort();
        const std::string kind = line.substr(0, tab);
        if (kind != "light" && kind != "room" && kind != "scene") std::abort();
    }
    const std::vector<std::string> lights = {"light\tDesk lamp"};
    const std::vector<std::string> rooms = {"room\tKitchen"};
    if (linesOf(text, "light") != (names.lights ? lights : linesOf(old, "light"))) std::abort();
    if (linesOf(text, "room") != (names.rooms ? rooms : linesOf(old, "room"))) std::abort();
    if (names.scenes && !linesOf(text, "scene").empty()) std::abort();
    if (!names.scenes && linesOf(text, "scene") != linesOf(old, "scene")) std::abort();
    return 0;
}
