#include "bridge/uuid.h"

#include <random>
#include <string_view>

namespace lumora {

Uuid Uuid::random() {
    thread_local std::mt19937_64 rng{std::random_device{}()};
    Uuid u;
    for (int i = 0; i < 16; i += 8) {
        std::uint64_t r = rng();
        for (int j = 0; j < 8; ++j) u.bytes_[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
    }
    u.bytes_[6] = static_cast<std::uint8_t>((u.bytes_[6] & 0x0F) | 0x40);  // version 4
    u.bytes_[8] = static_cast<std::uint8_t>((u.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return u;
}

std::string Uuid::toString() const {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += hex[bytes_[i] >> 4];
        s += hex[bytes_[i] & 0x0F];
    }
    return s;
}

}  // namespace lumora

std::size_t std::hash<lumora::Uuid>::operator()(const lumora::Uuid& u) const noexcept {
    std::size_t h = 0;
    for (auto b : u.bytes()) h = h * 131 + b;
    return h;
}
