#pragma once
// One key combination as the shortcut module stores it: a Carbon virtual key
// code and Carbon modifier bits. The encoding is kept on every platform so
// stored entries stay portable; the platform layer translates it.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lumora {

class CarbonKeyboardShortcuts;
class KeyTextProvider;

// Carbon modifier bits.
enum class Modifier : int {
    command = 0x100,
    shift = 0x200,
    option = 0x800,
    control = 0x1000,
};

// A set of the four modifiers above.
class Modifiers {
  public:
    static constexpr int allCarbonBits = 0x100 | 0x200 | 0x800 | 0x1000;

    constexpr Modifiers() = default;
    // Keeps only the four known bits.
    constexpr explicit Modifiers(int carbonBits) : bits_(carbonBits & allCarbonBits) {}
    constexpr Modifiers(Modifier m) : bits_(static_cast<int>(m)) {}  // NOLINT: implicit on purpose

    constexpr bool contains(Modifier m) const { return (bits_ & static_cast<int>(m)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr int carbon() const { return bits_; }

    constexpr Modifiers operator|(Modifiers o) const { return Modifiers(bits_ | o.bits_); }
    constexpr Modifiers without(Modifiers o) const { return Modifiers(bits_ & ~o.bits_); }
    constexpr bool operator==(const Modifiers&) const = default;

  private:
    int bits_ = 0;
};

constexpr Modifiers operator|(Modifier a, Modifier b) {
    return Modifiers(a) | Modifiers(b);
}

// The keys the module knows by name; the value is the Carbon key code.
enum class Key : int {
    a = 0,
    s = 1,
    d = 2,
    f = 3,
    h = 4,
    g = 5,
    z = 6,
    x = 7,
    c = 8,
    v = 9,
    b = 11,
    q = 12,
    w = 13,
    e = 14,
    r = 15,
    y = 16,
    t = 17,
    one = 18,
    two = 19,
    three = 20,
    four = 21,
    six = 22,
    five = 23,
    equal = 24,
    nine = 25,
    seven = 26,
    minus = 27,
    eight = 28,
    zero = 29,
    rightBracket = 30,
    o = 31,
    u = 32,
    leftBracket = 33,
    i = 34,
    p = 35,
    returnKey = 36,
    l = 37,
    j = 38,
    quote = 39,
    k = 40,
    semicolon = 41,
    backslash = 42,
    comma = 43,
    slash = 44,
    n = 45,
    m = 46,
    period = 47,
    tab = 48,
    space = 49,
    backtick = 50,
    deleteKey = 51,
    escape = 53,
    keypadDecimal = 65,
    keypadMultiply = 67,
    keypadPlus = 69,
    keypadClear = 71,
    keypadDivide = 75,
    keypadEnter = 76,
    keypadMinus = 78,
    keypadEquals = 81,
    keypad0 = 82,
    keypad1 = 83,
    keypad2 = 84,
    keypad3 = 85,
    keypad4 = 86,
    keypad5 = 87,
    keypad6 = 88,
    keypad7 = 89,
    keypad8 = 91,
    keypad9 = 92,
    f1 = 122,
    f2 = 120,
    f3 = 99,
    f4 = 118,
    f5 = 96,
    f6 = 97,
    f7 = 98,
    f8 = 100,
    f9 = 101,
    f10 = 109,
    f11 = 103,
    f12 = 111,
    f13 = 105,
    f14 = 107,
    f15 = 113,
    f16 = 106,
    f17 = 64,
    f18 = 79,
    f19 = 80,
    f20 = 90,
    help = 114,
    home = 115,
    pageUp = 116,
    deleteForward = 117,
    end = 119,
    pageDown = 121,
    leftArrow = 123,
    rightArrow = 124,
    downArrow = 125,
    upArrow = 126,
};

// Every key above, in key-code order.
std::span<const Key> allKeys();
// The key for a Carbon key code, when the code is one of the keys above.
std::optional<Key> keyForCarbonKeyCode(int carbonKeyCode);
// F1 to F20.
bool isFunctionKey(int carbonKeyCode);

class Shortcut {
  public:
    // Only the four modifier bits survive.
    Shortcut(int carbonKeyCode, int carbonModifiers)
        : carbonKeyCode_(carbonKeyCode), carbonModifiers_(Modifiers(carbonModifiers).carbon()) {}
    Shortcut(Key key, Modifiers modifiers = {})  // NOLINT: a key alone is a shortcut
        : Shortcut(static_cast<int>(key), modifiers.carbon()) {}

    int carbonKeyCode() const { return carbonKeyCode_; }
    int carbonModifiers() const { return carbonModifiers_; }
    std::optional<Key> key() const { return keyForCarbonKeyCode(carbonKeyCode_); }
    Modifiers modifiers() const { return Modifiers(carbonModifiers_); }

    // Modifier symbols (control, option, shift, command) then the key's text,
    // upper-cased, e.g. "⇧⌘L" or "⌃⌥F5". Ordinary keys take their text from
    // `keyText`; without one, from the US table.
    std::string description() const;
    std::string description(const KeyTextProvider& keyText) const;
    // Whether another program holds the combination at the layer's service.
    // F12 alone never counts.
    bool isTakenBySystem(const CarbonKeyboardShortcuts& hotKeys) const;
    // The title of a menu item that uses the combination. There is no main
    // menu in this program, so never any.
    std::optional<std::string> takenByMainMenu() const;

    // Compact JSON text: {"carbonKeyCode":N,"carbonModifiers":M}.
    std::string json() const;
    // Parses the stored form; anything other than an object with both integer
    // members is no shortcut.
    static std::optional<Shortcut> fromJson(std::string_view text);

    auto operator<=>(const Shortcut&) const = default;

  private:
    int carbonKeyCode_;
    int carbonModifiers_;
};

// The text a named key shows in descriptions ("↩", "F5", ...), or nothing for
// keys whose text comes from the keyboard layout.
std::optional<std::string_view> namedKeyText(int carbonKeyCode);
// Upper-cases ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters;
// everything else is kept as it is.
std::string upperCased(std::string_view utf8);

}  // namespace lumora

template <>
struct std::hash<lumora::Shortcut> {
    std::size_t operator()(const lumora::Shortcut& s) const noexcept {
        return std::hash<long long>{}((static_cast<long long>(s.carbonKeyCode()) << 32) ^
                                      static_cast<unsigned>(s.carbonModifiers()));
    }
};
