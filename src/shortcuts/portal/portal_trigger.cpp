#include "shortcuts/portal/portal_trigger.h"

#include <array>
#include <string_view>

namespace lumora {
namespace {

struct KeyName {
    Key key;
    std::string_view name;
};

// Keysym names of the keys that are not a single letter or digit. Letters
// are named in lower case: a recorded Shift is a modifier of its own.
constexpr std::array kKeyNames{
    KeyName{Key::equal, "equal"},
    KeyName{Key::minus, "minus"},
    KeyName{Key::rightBracket, "bracketright"},
    KeyName{Key::leftBracket, "bracketleft"},
    KeyName{Key::quote, "apostrophe"},
    KeyName{Key::semicolon, "semicolon"},
    KeyName{Key::backslash, "backslash"},
    KeyName{Key::comma, "comma"},
    KeyName{Key::slash, "slash"},
    KeyName{Key::period, "period"},
    KeyName{Key::backtick, "grave"},
    KeyName{Key::returnKey, "Return"},
    KeyName{Key::tab, "Tab"},
    KeyName{Key::space, "space"},
    KeyName{Key::deleteKey, "BackSpace"},
    KeyName{Key::escape, "Escape"},
    KeyName{Key::keypadDecimal, "KP_Decimal"},
    KeyName{Key::keypadMultiply, "KP_Multiply"},
    KeyName{Key::keypadPlus, "KP_Add"},
    KeyName{Key::keypadClear, "Clear"},
    KeyName{Key::keypadDivide, "KP_Divide"},
    KeyName{Key::keypadEnter, "KP_Enter"},
    KeyName{Key::keypadMinus, "KP_Subtract"},
    KeyName{Key::keypadEquals, "KP_Equal"},
    KeyName{Key::keypad0, "KP_0"},
    KeyName{Key::keypad1, "KP_1"},
    KeyName{Key::keypad2, "KP_2"},
    KeyName{Key::keypad3, "KP_3"},
    KeyName{Key::keypad4, "KP_4"},
    KeyName{Key::keypad5, "KP_5"},
    KeyName{Key::keypad6, "KP_6"},
    KeyName{Key::keypad7, "KP_7"},
    KeyName{Key::keypad8, "KP_8"},
    KeyName{Key::keypad9, "KP_9"},
    KeyName{Key::help, "Help"},
    KeyName{Key::home, "Home"},
    KeyName{Key::pageUp, "Page_Up"},
    KeyName{Key::deleteForward, "Delete"},
    KeyName{Key::end, "End"},
    KeyName{Key::pageDown, "Page_Down"},
    KeyName{Key::leftArrow, "Left"},
    KeyName{Key::rightArrow, "Right"},
    KeyName{Key::downArrow, "Down"},
    KeyName{Key::upArrow, "Up"},
};

constexpr std::array kLetters{
    Key::a, Key::b, Key::c, Key::d, Key::e, Key::f, Key::g, Key::h, Key::i,
    Key::j, Key::k, Key::l, Key::m, Key::n, Key::o, Key::p, Key::q, Key::r,
    Key::s, Key::t, Key::u, Key::v, Key::w, Key::x, Key::y, Key::z,
};
constexpr std::array kDigits{
    Key::zero, Key::one, Key::two,   Key::three, Key::four,
    Key::five, Key::six, Key::seven, Key::eight, Key::nine,
};

std::optional<std::string> keyName(Key key) {
    for (std::size_t i = 0; i < kLetters.size(); ++i)
        if (kLetters[i] == key) return std::string(1, static_cast<char>('a' + i));
    for (std::size_t i = 0; i < kDigits.size(); ++i)
        if (kDigits[i] == key) return std::string(1, static_cast<char>('0' + i));
    // F1 to F20 are named as the descriptions show them.
    if (isFunctionKey(static_cast<int>(key)))
        if (auto text = namedKeyText(static_cast<int>(key))) return std::string(*text);
    for (const auto& k : kKeyNames)
        if (k.key == key) return std::string(k.name);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> portalTrigger(const Shortcut& shortcut) {
    const auto key = shortcut.key();
    if (!key) return std::nullopt;
    auto name = keyName(*key);
    if (!name) return std::nullopt;
    std::string out;
    const Modifiers m = shortcut.modifiers();
    if (m.contains(Modifier::control)) out += "CTRL+";
    if (m.contains(Modifier::option)) out += "ALT+";
    if (m.contains(Modifier::shift)) out += "SHIFT+";
    if (m.contains(Modifier::command)) out += "LOGO+";
    return out + *name;
}

}  // namespace lumora
