#pragma once
// The user's key/value store: typed values (string, integer, Boolean, number),
// missing integers read as 0 and missing Booleans as false.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace lumora {

using DefaultsValue = std::variant<bool, std::int64_t, double, std::string>;

// Why a store holds changes that did not reach its file.
struct StoreProblem {
    enum class Kind {
        // The file is there but cannot be read: the store runs on what it holds
        // in memory and writes nothing until the file can be read again.
        Unreadable,
        // The last write did not reach the disk (read-only folder, full disk);
        // the file is as it was before.
        WriteFailed,
    };
    Kind kind = Kind::Unreadable;
    std::string path;    // the settings file
    std::string reason;  // the system's words: "permission denied"
    // One line for a terminal, without the program's name in front.
    std::string describe() const;
    bool operator==(const StoreProblem&) const = default;
};

// What became of one change: true when it is where the store keeps values
// (for the file store: on disk), else `problem` says why it is in memory only.
struct [[nodiscard]] StoreResult {
    std::optional<StoreProblem> problem;
    explicit operator bool() const { return !problem; }
};

class DefaultsStore {
  public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<DefaultsValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, DefaultsValue value) = 0;
    virtual void remove(const std::string& key) = 0;
    // As set and remove, for a caller that must know whether its change was
    // kept (pairing: a user name that was not stored has to be shown).
    // A store without a file keeps everything.
    virtual StoreResult trySet(const std::string& key, DefaultsValue value) {
        set(key, std::move(value));
        return {};
    }
    virtual StoreResult tryRemove(const std::string& key) {
        remove(key);
        return {};
    }
    // What keeps the store from its file now, if anything.
    virtual std::optional<StoreProblem> problem() const { return std::nullopt; }

    bool contains(const std::string& key) const { return object(key).has_value(); }
    // Only a stored string; any other kind counts as missing.
    std::optional<std::string> string(const std::string& key) const;
    // Integers as stored; Booleans as 0/1; numbers truncated; numeric strings
    // parsed; anything else 0.
    std::int64_t integer(const std::string& key) const;
    // Booleans as stored; non-zero numbers; strings "true"/"yes"/"1"; else false.
    bool boolean(const std::string& key) const;

    void setString(const std::string& key, std::string v) { set(key, DefaultsValue(std::move(v))); }
    void setInteger(const std::string& key, std::int64_t v) { set(key, DefaultsValue(v)); }
    void setBool(const std::string& key, bool v) { set(key, DefaultsValue(v)); }
    StoreResult trySetString(const std::string& key, std::string v) {
        return trySet(key, DefaultsValue(std::move(v)));
    }
};

// Keeps everything in memory; for tests and throw-away profiles.
class InMemoryDefaultsStore : public DefaultsStore {
  public:
    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    std::map<std::string, DefaultsValue> snapshot() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsValue> values_;
};

}  // namespace lumora
