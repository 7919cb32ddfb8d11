#include "simulator/fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "simulator/request_body.h"

namespace lumora::sim {

namespace {

Json failed(std::string* error, const std::string& why) {
    if (error) *error = why;
    return Json(Json::value_t::discarded);
}

Json parseFixture(const std::string& text, const std::string& origin, std::string* error) {
    Json fixture = parseBody(text);
    if (fixture.is_discarded()) return failed(error, origin + " is not valid JSON");
    if (!fixture.is_object()) return failed(error, origin + " is not a JSON object");
    return fixture;
}

std::string embeddedNames() {
    std::string names;
    for (const auto& fixture : embeddedFixtures()) {
        names += (names.empty() ? "" : ", ") + std::string(fixture.name);
    }
    return names;
}

// Closes the descriptor when it goes.
struct FileHandle {
    explicit FileHandle(int descriptor) : fd(descriptor) {}
    ~FileHandle() {
        if (fd >= 0) ::close(fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    const int fd;
};

}  // namespace

Json readEmbeddedFixture(const std::string& name, std::string* error) {
    for (const auto& fixture : embeddedFixtures()) {
        if (fixture.name == name) {
            return parseFixture(std::string(fixture.text), "fixture '" + name + "'", error);
        }
    }
    return failed(error, "no fixture named '" + name + "' (known: " + embeddedNames() + ")");
}

Json readFixture(const std::string& nameOrPath, std::string* error) {
    for (const auto& fixture : embeddedFixtures()) {
        if (fixture.name == nameOrPath) return readEmbeddedFixture(nameOrPath, error);
    }
    std::ifstream file(nameOrPath, std::ios::binary);
    if (!file) {
        return failed(error, "no fixture named '" + nameOrPath + "' (known: " + embeddedNames() +
                                 ") and no readable file by that path");
    }
    std::ostringstream content;
    content << file.rdbuf();
    return parseFixture(content.str(), "'" + nameOrPath + "'", error);
}

Json readFixtureIn(const std::string& folder, const std::string& path, std::string* error,
                   bool* outside) {
    namespace fs = std::filesystem;
    *outside = false;
    std::error_code failure;
    const fs::path root = fs::canonical(folder, failure);
    if (failure || !fs::is_directory(root)) {
        return failed(error, "the fixture folder '" + folder + "' is not there");
    }
    const fs::path wanted = fs::path(path).is_absolute() ? fs::path(path) : root / path;
    // Whatever was opened is checked, not the name: a link swapped in
    // between a check and the opening cannot lead elsewhere.
    FileHandle file(::open(wanted.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.fd < 0) {
        return failed(error, "cannot open '" + path + "': " + std::strerror(errno));
    }
    const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(file.fd), failure);
    const fs::path inside = fs::relative(opened, root, failure);
    if (failure || opened.empty() || inside.empty() || *inside.begin() == "..") {
        *outside = true;
        return failed(error, "'" + path + "' is not inside the fixture folder");
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return failed(error, "'" + path + "' is not a regular file");
    }
    if (static_cast<std::size_t>(info.st_size) > kMaxFixtureBytes) {
        return failed(error, "'" + path + "' is larger than a fixture may be");
    }
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(file.fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed(error, "cannot read '" + path + "': " + std::strerror(errno));
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFixtureBytes) {
            return failed(error, "'" + path + "' is larger than a fixture may be");
        }
    }
    return parseFixture(text, "'" + path + "'", error);
}

}  // namespace lumora::sim
