#include "app/linux/file_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace lumora {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::optional<DefaultsValue> toValue(const json& j) {
    if (j.is_boolean()) return DefaultsValue(j.get<bool>());
    if (j.is_number_integer()) return DefaultsValue(j.get<std::int64_t>());
    if (j.is_number_float()) return DefaultsValue(j.get<double>());
    if (j.is_string()) return DefaultsValue(j.get<std::string>());
    return std::nullopt;  // kept in the file, invisible to typed reads
}

json toJson(const DefaultsValue& v) {
    return std::visit([](const auto& x) { return json(x); }, v);
}

// Locks the settings folder itself: the file is replaced on every write, so a
// lock on it would guard an inode that is about to go, and a lock file would
// be one more file to keep.
class FileLock {
  public:
    explicit FileLock(const fs::path& directory) {
        fd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

bool writeAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::write(fd, data.data() + off, data.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool replaceFileAtomically(const fs::path& file, const std::string& text, unsigned mode,
                           std::string* error) {
    auto fail = [&](const fs::path& where) {
        if (error) *error = where.string() + ": " + std::strerror(errno);
        return false;
    };
    fs::path tmp = file;
    tmp += ".tmp-" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return fail(tmp);
    // The umask must not loosen or tighten what the caller asked for.
    ::fchmod(fd, mode);
    const bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        if (!ok) errno = writeErrno;
        fail(file);
        ::unlink(tmp.c_str());
        return false;
    }
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

fs::path configDirectory(const std::string& profile) {
    if (profile == "lumora") {
        if (const char* d = std::getenv("LUMORA_CONFIG_DIR"); d && *d) return fs::path(d);
    }
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return fs::path(x) / profile;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".config" / profile;
}

JsonFileDefaultsStore::JsonFileDefaultsStore(fs::path directory)
    : dir_(std::move(directory)),
      file_(dir_ / "defaults.json"),
      values_(std::make_unique<json>(json::object())) {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    FileLock lock(dir_);
    if (auto j = readFile(true)) {
        *values_ = std::move(*j);
        noteFileSeen();
    }
}

std::optional<JsonFileDefaultsStore::FileLook> JsonFileDefaultsStore::lookOf(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return JsonFileDefaultsStore::FileLook{st.st_dev,         st.st_ino,          st.st_size,
                                           st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
                                           st.st_ctim.tv_nsec};
}

namespace {
// File times come from a coarse clock: a file changed in place within the
// same tick as our look would keep its times. Past this age it cannot.
constexpr long long kSettledSeconds = 2;
}  // namespace

void JsonFileDefaultsStore::noteFileSeen() {
    seen_ = lookOf(file_);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (seen_ && now.tv_sec - seen_->mtimeSec < kSettledSeconds) seen_.reset();
}

bool JsonFileDefaultsStore::fileUnchangedSinceSeen() const {
    return seen_ && lookOf(file_) == seen_;
}

JsonFileDefaultsStore::~JsonFileDefaultsStore() = default;

std::optional<json> JsonFileDefaultsStore::readFile(bool moveAsideIfCorrupt) {
    seen_.reset();
    std::ifstream in(file_, std::ios::binary);
    if (!in) return std::nullopt;
    ++reads_;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    if (text.empty()) return json::object();
    json j = json::parse(text, nullptr, false);
    if (!j.is_discarded() && j.is_object()) return j;
    if (moveAsideIfCorrupt) {
        char stamp[32];
        std::time_t t = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&t));
        fs::path aside = file_;
        aside += std::string(".corrupt-") + stamp;
        for (int i = 1; fs::exists(aside); ++i) {
            aside = file_;
            aside += std::string(".corrupt-") + stamp + "-" + std::to_string(i);
        }
        std::error_code ec;
        fs::rename(file_, aside, ec);
        std::fprintf(
            stderr,
            "lumora: settings file %s could not be read; kept it as %s and started with defaults\n",
            file_.c_str(), aside.c_str());
        if (!ec) movedAside_ = aside;
    }
    return std::nullopt;
}

std::optional<DefaultsValue> JsonFileDefaultsStore::object(const std::string& key) const {
    std::lock_guard guard(mutex_);
    auto it = values_->find(key);
    if (it == values_->end()) return std::nullopt;
    return toValue(*it);
}

std::uint64_t JsonFileDefaultsStore::writes() const {
    std::lock_guard guard(mutex_);
    return writes_;
}

std::uint64_t JsonFileDefaultsStore::reads() const {
    std::lock_guard guard(mutex_);
    return reads_;
}

void JsonFileDefaultsStore::set(const std::string& key, DefaultsValue value) {
    update(key, std::move(value));
}

void JsonFileDefaultsStore::remove(const std::string& key) {
    update(key, std::nullopt);
}

void JsonFileDefaultsStore::update(const std::string& key,
                                   const std::optional<DefaultsValue>& value) {
    std::lock_guard guard(mutex_);
    auto holds = [&] {
        auto it = values_->find(key);
        const bool stored = it != values_->end();
        return value ? stored && toValue(*it) == *value : !stored;
    };
    // The refresh stores the same address and user name every few seconds:
    // while the file is as we last saw it, our copy answers without a read.
    if (fileUnchangedSinceSeen() && holds()) return;
    std::error_code ec;
    fs::create_directories(dir_, ec);
    FileLock lock(dir_);
    // Take what another process may have written since; a file that went bad
    // meanwhile is not merged (our copy wins) but neither is it thrown away.
    auto onDisk = readFile(true);
    const bool fileRead = onDisk.has_value();
    if (fileRead) {
        *values_ = std::move(*onDisk);
        noteFileSeen();
    }
    // What the file already says is not written again: the refresh stores the
    // same address and user name every few seconds. The comparison is with
    // the file just read, never with a copy that may differ from it, and
    // kinds count (1 is not true, nor "1").
    if (fileRead && holds()) return;
    if (value)
        (*values_)[key] = toJson(*value);
    else
        values_->erase(key);

    const std::string text = values_->dump(2) + "\n";
    std::string error;
    if (!replaceFileAtomically(file_, text, 0600, &error)) {
        std::fprintf(stderr, "lumora: cannot write settings to %s: %s\n", file_.c_str(),
                     error.c_str());
        return;
    }
    ++writes_;
    noteFileSeen();
}

}  // namespace lumora
