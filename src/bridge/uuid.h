#pragma once
// Random (version 4) UUIDs for record identity in lists.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace lumora {

class Uuid {
  public:
    static Uuid random();
    std::string toString() const;
    bool operator==(const Uuid&) const = default;
    auto operator<=>(const Uuid&) const = default;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace lumora

template <>
struct std::hash<lumora::Uuid> {
    std::size_t operator()(const lumora::Uuid& u) const noexcept;
};
