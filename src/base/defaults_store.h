#pragma once
// The user's key/value store: typed values (string, integer, Boolean, number),
// missing integers read as 0 and missing Booleans as false.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace lumora {

using DefaultsValue = std::variant<bool, std::int64_t, double, std::string>;

class DefaultsStore {
  public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<DefaultsValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, DefaultsValue value) = 0;
    virtual void remove(const std::string& key) = 0;

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
