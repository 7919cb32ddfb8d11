#include "app/linux/file_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>

namespace lumora {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::optional<DefaultsValue> toValue(const json& j) {
    if (j.is_boolean()) return DefaultsValue(j.get<bool>());
    // Past the signed range an integer would wrap to a negative one.
    if (j.is_number_unsigned() &&
        j.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return DefaultsValue(j.get<double>());
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

// The system's words for an error, to stand in the middle of a sentence.
std::string reasonOf(int error) {
    std::string r = std::strerror(error);
    if (!r.empty() && r[0] >= 'A' && r[0] <= 'Z' && !(r.size() > 1 && r[1] >= 'A' && r[1] <= 'Z'))
        r[0] = static_cast<char>(r[0] - 'A' + 'a');
    return r;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// What is in the file, read with a bound: more than the cap is never read.
struct Contents {
    enum class State { Read, Missing, Unreadable, TooLarge } state = State::Missing;
    std::string text;
    std::string reason;  // when Unreadable
    long long size = 0;  // when TooLarge
};

Contents readBounded(const fs::path& file) {
    Contents c;
    // Not blocking: a FIFO in the file's place must not hang the program.
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int e = errno;
        struct stat st {};
        if (e == ENOENT && ::lstat(file.c_str(), &st) == 0) {
            // A link to nothing is someone's arrangement, not a missing file.
            c.state = Contents::State::Unreadable;
            c.reason = "it is a link to a missing file";
        } else if (e != ENOENT) {
            c.state = Contents::State::Unreadable;
            c.reason = reasonOf(e);
        }
        return c;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        c.state = Contents::State::Unreadable;
        c.reason = S_ISDIR(st.st_mode) ? reasonOf(EISDIR)
                   : st.st_mode == 0   ? reasonOf(errno)
                                       : "not a regular file";
        return c;
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxSettingsFileSize) {
        c.state = Contents::State::TooLarge;
        c.size = st.st_size;
        return c;
    }
    // Room for what fstat told and one byte more, which tells a file that grew
    // since; it grows up to one byte past the cap.
    c.text.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    while (got < kMaxSettingsFileSize + 1) {
        if (got == c.text.size())
            c.text.resize(std::min(c.text.size() * 2, kMaxSettingsFileSize + 1));
        const ssize_t n = ::read(fd.get(), c.text.data() + got, c.text.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            c.state = Contents::State::Unreadable;
            c.reason = reasonOf(errno);
            c.text.clear();
            return c;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > kMaxSettingsFileSize) {
        c.state = Contents::State::TooLarge;
        c.size = static_cast<long long>(got);
        c.text.clear();
        return c;
    }
    c.text.resize(got);
    c.state = Contents::State::Read;
    return c;
}

// An object no deeper than the limit, or nothing. Deeper values are dropped
// as they are parsed, so they are never built.
std::optional<json> parseSettings(const std::string& text) {
    if (text.empty()) return json::object();
    bool tooDeep = false;
    json j = json::parse(
        text,
        [&](int depth, json::parse_event_t, json&) {
            if (depth < kMaxSettingsDepth) return true;
            tooDeep = true;
            return false;
        },
        false);
    if (tooDeep || j.is_discarded() || !j.is_object()) return std::nullopt;
    return j;
}

// Indented for people who edit the file; compact when that would pass the cap.
std::optional<std::string> settingsText(const json& values) {
    // A string that is not UTF-8 (a caller's bytes) is written with
    // replacement characters rather than failing the write.
    for (int indent : {2, -1}) {
        std::string text = values.dump(indent, ' ', false, json::error_handler_t::replace) + "\n";
        if (text.size() <= kMaxSettingsFileSize) return text;
    }
    return std::nullopt;
}

// A write killed between creating its temporary file and the rename leaves
// the file behind. Only names of exactly that pattern, regular files of ours,
// of processes that no longer exist; a young one is left, since its writer
// may live in another process namespace that shares the folder.
void removeStaleTemporaries(const fs::path& file) {
    const std::string prefix = file.filename().string() + ".tmp-";
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
            name.compare(0, prefix.size(), prefix) != 0 || name[prefix.size()] == '0')
            continue;
        long pid = 0;
        bool digits = true;
        for (std::size_t i = prefix.size(); i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9')
                digits = false;
            else
                pid = pid * 10 + (name[i] - '0');
        }
        if (!digits) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || std::time(nullptr) - st.st_mtime < 60)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
    }
}

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
        const int cause = errno;
        if (error) *error = where.string() + ": " + std::strerror(cause);
        errno = cause;
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
        const int cause = errno;
        ::unlink(tmp.c_str());
        errno = cause;
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
    removeStaleTemporaries(file_);
    json j;
    if (readFile(j) == ReadState::Read) {
        *values_ = std::move(j);
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

JsonFileDefaultsStore::ReadState JsonFileDefaultsStore::readFile(json& out) {
    seen_.reset();
    Contents c = readBounded(file_);
    switch (c.state) {
        case Contents::State::Missing:
            if (problem_ && problem_->kind == StoreProblem::Kind::Unreadable)
                setProblem(std::nullopt);
            return ReadState::Missing;
        case Contents::State::Unreadable:
            setProblem(StoreProblem{StoreProblem::Kind::Unreadable, file_.string(), c.reason});
            return ReadState::Unreadable;
        case Contents::State::TooLarge:
            ++reads_;
            moveAside("is " + std::to_string(c.size) + " bytes, more than a settings file holds (" +
                      std::to_string(kMaxSettingsFileSize) + ")");
            break;
        case Contents::State::Read:
            ++reads_;
            if (auto j = parseSettings(c.text)) {
                if (problem_ && problem_->kind == StoreProblem::Kind::Unreadable)
                    setProblem(std::nullopt);
                out = std::move(*j);
                return ReadState::Read;
            }
            moveAside("could not be read");
            break;
    }
    // A bad file that could not be moved aside is never written over.
    return problem_ && problem_->kind == StoreProblem::Kind::Unreadable ? ReadState::Unreadable
                                                                        : ReadState::MovedAside;
}

void JsonFileDefaultsStore::moveAside(const std::string& why) {
    char stamp[32];
    std::time_t t = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&t));
    fs::path aside = file_;
    aside += std::string(".corrupt-") + stamp;
    for (int i = 1; fs::exists(aside); ++i) {
        aside = file_;
        aside += std::string(".corrupt-") + stamp + "-" + std::to_string(i);
    }
    if (::rename(file_.c_str(), aside.c_str()) != 0) {
        setProblem(
            StoreProblem{StoreProblem::Kind::Unreadable, file_.string(),
                         "it " + why + " and cannot be kept aside (" + reasonOf(errno) + ")"});
        return;
    }
    std::fprintf(stderr, "lumora: settings file %s %s; kept it as %s and started with defaults\n",
                 file_.c_str(), why.c_str(), aside.c_str());
    movedAside_ = aside;
    if (problem_ && problem_->kind == StoreProblem::Kind::Unreadable) setProblem(std::nullopt);
}

void JsonFileDefaultsStore::setProblem(std::optional<StoreProblem> p) {
    if (p && p != problem_) std::fprintf(stderr, "lumora: %s\n", p->describe().c_str());
    problem_ = std::move(p);
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

std::optional<StoreProblem> JsonFileDefaultsStore::problem() const {
    std::lock_guard guard(mutex_);
    return problem_;
}

void JsonFileDefaultsStore::set(const std::string& key, DefaultsValue value) {
    (void)update(key, std::move(value));
}

void JsonFileDefaultsStore::remove(const std::string& key) {
    (void)update(key, std::nullopt);
}

StoreResult JsonFileDefaultsStore::trySet(const std::string& key, DefaultsValue value) {
    return update(key, std::move(value));
}

StoreResult JsonFileDefaultsStore::tryRemove(const std::string& key) {
    return update(key, std::nullopt);
}

StoreResult JsonFileDefaultsStore::update(const std::string& key,
                                          const std::optional<DefaultsValue>& value) {
    std::lock_guard guard(mutex_);
    auto holds = [&] {
        auto it = values_->find(key);
        const bool stored = it != values_->end();
        return value ? stored && toValue(*it) == *value : !stored;
    };
    auto apply = [&] {
        if (value)
            (*values_)[key] = toJson(*value);
        else
            values_->erase(key);
    };
    // The refresh stores the same address and user name every few seconds:
    // while the file is as we last saw it, our copy answers without a read.
    if (fileUnchangedSinceSeen() && holds()) return {};
    std::error_code ec;
    fs::create_directories(dir_, ec);
    FileLock lock(dir_);
    // Take what another process may have written since; a file that went bad
    // meanwhile is not merged (our copy wins) but neither is it thrown away.
    // A file that cannot be read keeps the change in memory only; once it can
    // be read again, it wins over what was changed in memory meanwhile, and
    // only the change at hand is added, as for any other write.
    json onDisk;
    const ReadState state = readFile(onDisk);
    if (state == ReadState::Unreadable) {
        apply();
        return {problem_};
    }
    if (state == ReadState::Read) {
        *values_ = std::move(onDisk);
        noteFileSeen();
        // What the file already says is not written again: the refresh stores
        // the same address and user name every few seconds. The comparison is
        // with the file just read, never with a copy that may differ from it,
        // and kinds count (1 is not true, nor "1").
        if (holds()) return {};
    }
    apply();

    auto fail = [&](std::string reason) -> StoreResult {
        // The file does not hold what our copy does: the next change must
        // read and write it, not take the copy for the file.
        seen_.reset();
        setProblem(
            StoreProblem{StoreProblem::Kind::WriteFailed, file_.string(), std::move(reason)});
        return {problem_};
    };
    const auto text = settingsText(*values_);
    if (!text)
        return fail("the settings would be larger than " + std::to_string(kMaxSettingsFileSize) +
                    " bytes");
    std::string error;
    if (!replaceFileAtomically(file_, *text, 0600, &error)) return fail(reasonOf(errno));
    ++writes_;
    noteFileSeen();
    problem_.reset();
    return {};
}

}  // namespace lumora
