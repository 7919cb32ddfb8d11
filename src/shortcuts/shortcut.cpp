#include "shortcuts/shortcut.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/letter_case.h"
#include "base/utf8.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "shortcuts/key_text.h"

namespace lumora {
namespace {

constexpr auto kAllKeys = [] {
    std::array keys{
        Key::a,
        Key::s,
        Key::d,
        Key::f,
        Key::h,
        Key::g,
        Key::z,
        Key::x,
        Key::c,
        Key::v,
        Key::b,
        Key::q,
        Key::w,
        Key::e,
        Key::r,
        Key::y,
        Key::t,
        Key::one,
        Key::two,
        Key::three,
        Key::four,
        Key::six,
        Key::five,
        Key::equal,
        Key::nine,
        Key::seven,
        Key::minus,
        Key::eight,
        Key::zero,
        Key::rightBracket,
        Key::o,
        Key::u,
        Key::leftBracket,
        Key::i,
        Key::p,
        Key::returnKey,
        Key::l,
        Key::j,
        Key::quote,
        Key::k,
        Key::semicolon,
        Key::backslash,
        Key::comma,
        Key::slash,
        Key::n,
        Key::m,
        Key::period,
        Key::tab,
        Key::space,
        Key::backtick,
        Key::deleteKey,
        Key::escape,
        Key::keypadDecimal,
        Key::keypadMultiply,
        Key::keypadPlus,
        Key::keypadClear,
        Key::keypadDivide,
        Key::keypadEnter,
        Key::keypadMinus,
        Key::keypadEquals,
        Key::keypad0,
        Key::keypad1,
        Key::keypad2,
        Key::keypad3,
        Key::keypad4,
        Key::keypad5,
        Key::keypad6,
        Key::keypad7,
        Key::keypad8,
        Key::keypad9,
        Key::f1,
        Key::f2,
        Key::f3,
        Key::f4,
        Key::f5,
        Key::f6,
        Key::f7,
        Key::f8,
        Key::f9,
        Key::f10,
        Key::f11,
        Key::f12,
        Key::f13,
        Key::f14,
        Key::f15,
        Key::f16,
        Key::f17,
        Key::f18,
        Key::f19,
        Key::f20,
        Key::help,
        Key::home,
        Key::pageUp,
        Key::deleteForward,
        Key::end,
        Key::pageDown,
        Key::leftArrow,
        Key::rightArrow,
        Key::downArrow,
        Key::upArrow,
    };
    std::sort(keys.begin(), keys.end());
    return keys;
}();

// F1 to F20 in order.
constexpr std::array kFunctionKeys{
    Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,  Key::f6,  Key::f7,
    Key::f8,  Key::f9,  Key::f10, Key::f11, Key::f12, Key::f13, Key::f14,
    Key::f15, Key::f16, Key::f17, Key::f18, Key::f19, Key::f20,
};
constexpr std::array<std::string_view, 20> kFunctionKeyTexts{
    "F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",  "F9",  "F10",
    "F11", "F12", "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20",
};

struct NamedText {
    Key key;
    std::string_view text;
};
constexpr std::array kNamedTexts{
    NamedText{Key::returnKey, "\u21A9"},     NamedText{Key::deleteKey, "\u232B"},
    NamedText{Key::deleteForward, "\u2326"}, NamedText{Key::end, "\u2198"},
    NamedText{Key::escape, "\u238B"},        NamedText{Key::help, "?\u20DD"},
    NamedText{Key::home, "\u2196"},          NamedText{Key::space, "\u23B5"},
    NamedText{Key::tab, "\u21E5"},           NamedText{Key::pageUp, "\u21DE"},
    NamedText{Key::pageDown, "\u21DF"},      NamedText{Key::upArrow, "\u2191"},
    NamedText{Key::rightArrow, "\u2192"},    NamedText{Key::downArrow, "\u2193"},
    NamedText{Key::leftArrow, "\u2190"},
};

constexpr std::string_view kReplacement = "\uFFFD";

std::optional<int> intMember(const nlohmann::json& object, const char* name) {
    auto it = object.find(name);
    if (it == object.end()) return std::nullopt;
    if (it->is_number_unsigned()) {
        auto v = it->get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return std::nullopt;
        return static_cast<int>(v);
    }
    if (it->is_number_integer()) {
        auto v = it->get<std::int64_t>();
        if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
            return std::nullopt;
        return static_cast<int>(v);
    }
    return std::nullopt;
}

}  // namespace

std::span<const Key> allKeys() {
    return kAllKeys;
}

std::optional<Key> keyForCarbonKeyCode(int carbonKeyCode) {
    const Key k = static_cast<Key>(carbonKeyCode);
    if (std::binary_search(kAllKeys.begin(), kAllKeys.end(), k)) return k;
    return std::nullopt;
}

bool isFunctionKey(int carbonKeyCode) {
    return std::find(kFunctionKeys.begin(), kFunctionKeys.end(), static_cast<Key>(carbonKeyCode)) !=
           kFunctionKeys.end();
}

std::optional<std::string_view> namedKeyText(int carbonKeyCode) {
    const Key k = static_cast<Key>(carbonKeyCode);
    for (const auto& n : kNamedTexts)
        if (n.key == k) return n.text;
    for (std::size_t i = 0; i < kFunctionKeys.size(); ++i)
        if (kFunctionKeys[i] == k) return kFunctionKeyTexts[i];
    return std::nullopt;
}

std::string upperCased(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    forEachUtf8Char(utf8, [&](const Utf8Char& c, std::string_view bytes) {
        if (c.valid) {
            appendUtf8(out, upperCase(c.codePoint));
        } else {
            out += bytes;  // keep stray bytes as they are
        }
    });
    return out;
}

std::string Shortcut::description() const {
    return description(usLayoutKeyText());
}

std::string Shortcut::description(const KeyTextProvider& keyText) const {
    std::string text;
    const Modifiers m = modifiers();
    if (m.contains(Modifier::control)) text += "\u2303";
    if (m.contains(Modifier::option)) text += "\u2325";
    if (m.contains(Modifier::shift)) text += "\u21E7";
    if (m.contains(Modifier::command)) text += "\u2318";
    if (auto named = namedKeyText(carbonKeyCode_)) {
        text += *named;
    } else if (auto layout = keyText.keyText(carbonKeyCode_)) {
        text += upperCased(*layout);
    } else {
        text += kReplacement;
    }
    return text;
}

bool Shortcut::isTakenBySystem(const CarbonKeyboardShortcuts& hotKeys) const {
    // F12 alone stays usable whatever the system claims.
    if (carbonKeyCode_ == static_cast<int>(Key::f12) && carbonModifiers_ == 0) return false;
    return hotKeys.isTaken(*this);
}

std::optional<std::string> Shortcut::takenByMainMenu() const {
    return std::nullopt;
}

std::string Shortcut::json() const {
    return "{\"carbonKeyCode\":" + std::to_string(carbonKeyCode_) +
           ",\"carbonModifiers\":" + std::to_string(carbonModifiers_) + "}";
}

std::optional<Shortcut> Shortcut::fromJson(std::string_view text) {
    const auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return std::nullopt;
    const auto keyCode = intMember(parsed, "carbonKeyCode");
    const auto modifiers = intMember(parsed, "carbonModifiers");
    if (!keyCode || !modifiers) return std::nullopt;
    return Shortcut(*keyCode, *modifiers);
}

}  // namespace lumora
