#include "ctl/names_cache.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lumora::ctl {

namespace fs = std::filesystem;

fs::path namesCacheFile() {
    fs::path base;
    if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x) {
        base = x;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : ".") / ".cache";
    }
    return base / "lumora" / "names";
}

std::string namesCacheText(std::string_view oldText, const Names& names) {
    const std::pair<const char*, const std::optional<std::vector<std::string>>*> kinds[] = {
        {"light", &names.lights}, {"room", &names.rooms}, {"scene", &names.scenes}};

    std::ostringstream text;
    std::istringstream old{std::string(oldText)};
    for (std::string line; std::getline(old, line);) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        for (const auto& [kind, list] : kinds)
            if (!*list && line.compare(0, tab, kind) == 0) text << line << '\n';
    }
    for (const auto& [kind, list] : kinds) {
        if (!*list) continue;
        std::vector<std::string> written;
        for (const auto& name : **list) {
            // A line per name: a name that cannot be one line is left out.
            if (name.empty() || name.find_first_of("\t\n\r") != std::string::npos) continue;
            // Scenes of different rooms often share a name; completion wants it once.
            if (std::find(written.begin(), written.end(), name) != written.end()) continue;
            written.push_back(name);
            text << kind << '\t' << name << '\n';
        }
    }
    return text.str();
}

bool updateNamesCache(const fs::path& file, const Names& names) {
    std::ostringstream old;
    if (std::ifstream in{file, std::ios::binary}) old << in.rdbuf();
    const std::string text = namesCacheText(old.str(), names);

    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path temp = file.string() + ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (!ec) return true;
    fs::remove(temp, ec);
    return false;
}

}  // namespace lumora::ctl
