#include "base/defaults_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/letter_case.h"

namespace lumora {

std::string StoreProblem::describe() const {
    if (kind == Kind::Unreadable)
        return "cannot read " + path + ": " + reason +
               "; settings are kept in memory and nothing is written until it can be read";
    return "cannot write settings to " + path + ": " + reason;
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&*v)) return *s;
    return std::nullopt;
}

std::int64_t DefaultsStore::integer(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    return std::visit(
        [](const auto& x) -> std::int64_t {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, bool>) {
                return x ? 1 : 0;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return x;
            } else if constexpr (std::is_same_v<T, double>) {
                if (!std::isfinite(x)) return 0;
                constexpr double lo = static_cast<double>(std::numeric_limits<std::int64_t>::min());
                constexpr double hi = static_cast<double>(std::numeric_limits<std::int64_t>::max());
                return static_cast<std::int64_t>(std::clamp(x, lo, std::nextafter(hi, 0.0)));
            } else {
                std::int64_t out = 0;
                const char* b = x.data();
                while (b < x.data() + x.size() && *b == ' ') ++b;
                std::from_chars(b, x.data() + x.size(), out);
                return out;
            }
        },
        *v);
}

bool DefaultsStore::boolean(const std::string& key) const {
    auto v = object(key);
    if (!v) return false;
    return std::visit(
        [](const auto& x) -> bool {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, bool>) {
                return x;
            } else if constexpr (std::is_same_v<T, std::string>) {
                const std::string l = asciiLowerCased(x);
                return l == "true" || l == "yes" || l == "1";
            } else {
                return x != 0;
            }
        },
        *v);
}

std::optional<DefaultsValue> InMemoryDefaultsStore::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void InMemoryDefaultsStore::set(const std::string& key, DefaultsValue value) {
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
}

void InMemoryDefaultsStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

std::map<std::string, DefaultsValue> InMemoryDefaultsStore::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

}  // namespace lumora
