#pragma once
// The defaults store on disk: one JSON object in defaults.json, replaced
// atomically on every change, mode 0600 (it holds the bridge user name).

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>

#include "base/defaults_store.h"

namespace lumora {

// Replaces `file` with `text` so that a reader sees the old content or the new,
// never a part: a temporary file beside it, fsync, rename, fsync of the folder.
// On failure the old file is left as it was, no temporary file is left, and
// `error` says why (errno too).
bool replaceFileAtomically(const std::filesystem::path& file, const std::string& text,
                           unsigned mode, std::string* error = nullptr);

// $LUMORA_CONFIG_DIR, else $XDG_CONFIG_HOME/<profile>, else ~/.config/<profile>.
std::filesystem::path configDirectory(const std::string& profile = "lumora");

// Settings files larger than this are refused like corrupt ones: the program
// writes a few kilobytes, and parsing tens of megabytes costs seconds and
// gigabytes. The store never writes a file it would refuse.
inline constexpr std::size_t kMaxSettingsFileSize = 1024 * 1024;
// So is nesting deeper than this, the object itself counted: the program
// writes flat objects, and deep values overflow the stack when written out.
inline constexpr int kMaxSettingsDepth = 64;

class JsonFileDefaultsStore : public DefaultsStore {
  public:
    // Loads the file. A corrupt or oversized file is moved aside as
    // defaults.json.corrupt-<time> with a line on standard error, and the store
    // starts empty. A file that is there but cannot be read (permissions, a
    // folder in its place) is left alone: the store says so once on standard
    // error, runs in memory and writes nothing until a later change finds the
    // file readable. Temporary files of writers that died are removed.
    explicit JsonFileDefaultsStore(std::filesystem::path directory);
    ~JsonFileDefaultsStore() override;

    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    StoreResult trySet(const std::string& key, DefaultsValue value) override;
    StoreResult tryRemove(const std::string& key) override;
    std::optional<StoreProblem> problem() const override;

    const std::filesystem::path& file() const { return file_; }
    // How many times this store has replaced the file. Setting a value the
    // file already holds, or removing one it lacks, writes nothing.
    std::uint64_t writes() const;
    // How many times it has read the file, at load and before changes.
    std::uint64_t reads() const;
    // Where a corrupt file was moved at load, if it was.
    const std::optional<std::filesystem::path>& movedAside() const { return movedAside_; }

  private:
    enum class ReadState { Read, Missing, Unreadable, MovedAside };
    // Re-reads the file under a lock, applies one change and writes it back,
    // so that another process sharing the file (lumora-ctl) loses nothing.
    StoreResult update(const std::string& key, const std::optional<DefaultsValue>& value);
    // Reads the file into `out`; records an unreadable file as the problem.
    ReadState readFile(nlohmann::json& out);
    void moveAside(const std::string& why);
    // Prints a problem when it differs from the one already reported.
    void setProblem(std::optional<StoreProblem> p);
    // Notes what the file looks like now, under the lock, right after it was
    // read or written: the copy in memory is the file for as long as it looks so.
    void noteFileSeen();
    bool fileUnchangedSinceSeen() const;

    // What stat() told of the file when it was last read or written; set only
    // when its modification time was old enough that a change in place within
    // the same clock tick cannot pass for no change.
    struct FileLook {
        unsigned long device = 0, inode = 0;
        long long size = 0, mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const FileLook&) const = default;
    };
    static std::optional<FileLook> lookOf(const std::filesystem::path& file);

    std::filesystem::path dir_;
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    // Held apart so that the header needs only the library's declarations.
    std::unique_ptr<nlohmann::json> values_;
    std::optional<std::filesystem::path> movedAside_;
    std::optional<StoreProblem> problem_;
    std::uint64_t writes_ = 0;
    std::uint64_t reads_ = 0;
    std::optional<FileLook> seen_;
};

}  // namespace lumora
