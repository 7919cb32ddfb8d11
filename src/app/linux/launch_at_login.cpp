#include "app/linux/launch_at_login.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "app/linux/file_store.h"

namespace lumora {
namespace fs = std::filesystem;

namespace {

constexpr const char* kEntryName = "lumora.desktop";

// Characters after which the desktop would split or expand the argument.
bool needsQuoting(const std::string& s) {
    if (s.empty()) return true;
    for (char c : s) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos)
            return true;
    }
    return false;
}

std::optional<std::string> readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The value of `key` in the [Desktop Entry] group, without the string escapes undone.
std::optional<std::string> entryValue(const std::string& text, const std::string& key) {
    bool inMain = false;
    for (const std::string& line : splitLines(text)) {
        if (!line.empty() && line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq);
        while (!k.empty() && k.back() == ' ') k.pop_back();
        if (k != key) continue;
        size_t v = eq + 1;
        while (v < line.size() && line[v] == ' ') ++v;
        return line.substr(v);
    }
    return std::nullopt;
}

// Undoes the string escapes of a desktop file value (\s \n \t \r \\).
std::string unescapeString(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        switch (v[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += v[i];
                break;
        }
    }
    return out;
}

}  // namespace

std::string desktopExecValue(const fs::path& program) {
    std::string arg;
    const std::string p = program.string();
    if (needsQuoting(p)) {
        arg = "\"";
        for (char c : p) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
            arg += c;
        }
        arg += '"';
    } else {
        arg = p;
    }
    // Then the file's own string syntax: a backslash is written twice and a
    // per cent sign, which would start a field code, twice as well.
    std::string out;
    for (char c : arg) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> desktopExecProgram(const std::string& execValue) {
    const std::string v = unescapeString(execValue);
    std::string arg;
    size_t i = 0;
    while (i < v.size() && v[i] == ' ') ++i;
    if (i == v.size()) return std::nullopt;
    if (v[i] == '"') {
        for (++i; i < v.size(); ++i) {
            if (v[i] == '"') return arg;
            if (v[i] == '\\' && i + 1 < v.size())
                ++i;
            else if (v[i] == '%' && i + 1 < v.size() && v[i + 1] == '%')
                ++i;
            arg += v[i];
        }
        return std::nullopt;  // no closing quote
    }
    for (; i < v.size() && v[i] != ' '; ++i) {
        if (v[i] == '%' && i + 1 < v.size() && v[i + 1] == '%') ++i;
        arg += v[i];
    }
    return arg;
}

LaunchAtLogin::LaunchAtLogin(fs::path configDir, fs::path program)
    : program_(std::move(program)), entry_(std::move(configDir) / "autostart" / kEntryName) {}

fs::path LaunchAtLogin::configHome() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x && fs::path(x).is_absolute())
        return x;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".config";
}

fs::path LaunchAtLogin::currentProgram() {
    // Run from a self-mounting image, /proc/self/exe points into a mount that
    // is gone after exit; the image itself is what must start next time.
    if (const char* image = std::getenv("APPIMAGE"); image && *image) return image;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    std::string s = exe.string();
    const std::string deleted = " (deleted)";
    if (s.size() > deleted.size() &&
        s.compare(s.size() - deleted.size(), deleted.size(), deleted) == 0)
        s.resize(s.size() - deleted.size());
    return s;
}

std::string LaunchAtLogin::entryText() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Lumora\n"
           "Comment=Controls the lights from the system tray\n"
           "Exec=" +
           desktopExecValue(program_) +
           "\n"
           "Icon=lumora\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n"
           // Tray programs that start before the panel find no tray to sit in.
           "X-GNOME-Autostart-Delay=2\n"
           "X-KDE-autostart-after=panel\n"
           "X-LXQt-Need-Tray=true\n";
}

bool LaunchAtLogin::isEnabled() const {
    auto text = readText(entry_);
    if (!text) return false;
    return entryValue(*text, "Hidden").value_or("false") != "true";
}

bool LaunchAtLogin::setEnabled(bool on) {
    std::error_code ec;
    if (!on) {
        fs::remove(entry_, ec);
        return !ec;
    }
    fs::create_directories(entry_.parent_path(), ec);
    return replaceFileAtomically(entry_, entryText(), 0644);
}

bool LaunchAtLogin::migrateIfNeeded() {
    auto text = readText(entry_);
    if (!text || program_.empty()) return false;
    auto exec = entryValue(*text, "Exec");
    auto program = exec ? desktopExecProgram(*exec) : std::nullopt;
    // A bare name is looked up on PATH by the desktop; only paths can go stale.
    // One the system cannot even look up (a name too long) is stale as well.
    std::error_code ec;
    if (program && (program->find('/') == std::string::npos || fs::exists(*program, ec)))
        return false;
    // Everything else in the entry, a Hidden=true the user set included, stays.
    const std::string execLine = "Exec=" + desktopExecValue(program_) + "\n";
    std::string out;
    bool inMain = false;
    bool replaced = false;
    std::optional<size_t> afterHeader;
    for (const std::string& line : splitLines(*text)) {
        if (!line.empty() && line[0] == '[') inMain = line == "[Desktop Entry]";
        if (inMain && !replaced && line.rfind("Exec", 0) == 0 &&
            line.find_first_not_of(' ', 4) != std::string::npos &&
            line[line.find_first_not_of(' ', 4)] == '=') {
            out += execLine;
            replaced = true;
            continue;
        }
        out += line + "\n";
        if (inMain && !afterHeader) afterHeader = out.size();
    }
    // An entry without Exec keeps its other keys (Hidden among them) too.
    if (!replaced && afterHeader) out.insert(*afterHeader, execLine);
    if (!replaced && !afterHeader) out = entryText();
    return replaceFileAtomically(entry_, out, 0644);
}

}  // namespace lumora
