#include "shortcuts/key_text.h"

#include <array>
#include <string_view>

#include "shortcuts/shortcut.h"

namespace lumora {
namespace {

struct KeyChar {
    Key key;
    std::string_view text;
};

constexpr std::array kUsLayout{
    KeyChar{Key::a, "a"},
    KeyChar{Key::b, "b"},
    KeyChar{Key::c, "c"},
    KeyChar{Key::d, "d"},
    KeyChar{Key::e, "e"},
    KeyChar{Key::f, "f"},
    KeyChar{Key::g, "g"},
    KeyChar{Key::h, "h"},
    KeyChar{Key::i, "i"},
    KeyChar{Key::j, "j"},
    KeyChar{Key::k, "k"},
    KeyChar{Key::l, "l"},
    KeyChar{Key::m, "m"},
    KeyChar{Key::n, "n"},
    KeyChar{Key::o, "o"},
    KeyChar{Key::p, "p"},
    KeyChar{Key::q, "q"},
    KeyChar{Key::r, "r"},
    KeyChar{Key::s, "s"},
    KeyChar{Key::t, "t"},
    KeyChar{Key::u, "u"},
    KeyChar{Key::v, "v"},
    KeyChar{Key::w, "w"},
    KeyChar{Key::x, "x"},
    KeyChar{Key::y, "y"},
    KeyChar{Key::z, "z"},
    KeyChar{Key::zero, "0"},
    KeyChar{Key::one, "1"},
    KeyChar{Key::two, "2"},
    KeyChar{Key::three, "3"},
    KeyChar{Key::four, "4"},
    KeyChar{Key::five, "5"},
    KeyChar{Key::six, "6"},
    KeyChar{Key::seven, "7"},
    KeyChar{Key::eight, "8"},
    KeyChar{Key::nine, "9"},
    KeyChar{Key::equal, "="},
    KeyChar{Key::minus, "-"},
    KeyChar{Key::rightBracket, "]"},
    KeyChar{Key::leftBracket, "["},
    KeyChar{Key::quote, "'"},
    KeyChar{Key::semicolon, ";"},
    KeyChar{Key::backslash, "\\"},
    KeyChar{Key::comma, ","},
    KeyChar{Key::slash, "/"},
    KeyChar{Key::period, "."},
    KeyChar{Key::backtick, "`"},
    KeyChar{Key::keypadDecimal, "."},
    KeyChar{Key::keypadMultiply, "*"},
    KeyChar{Key::keypadPlus, "+"},
    KeyChar{Key::keypadDivide, "/"},
    KeyChar{Key::keypadMinus, "-"},
    KeyChar{Key::keypadEquals, "="},
    KeyChar{Key::keypad0, "0"},
    KeyChar{Key::keypad1, "1"},
    KeyChar{Key::keypad2, "2"},
    KeyChar{Key::keypad3, "3"},
    KeyChar{Key::keypad4, "4"},
    KeyChar{Key::keypad5, "5"},
    KeyChar{Key::keypad6, "6"},
    KeyChar{Key::keypad7, "7"},
    KeyChar{Key::keypad8, "8"},
    KeyChar{Key::keypad9, "9"},
};

}  // namespace

std::optional<std::string> UsLayoutKeyText::keyText(int carbonKeyCode) const {
    for (const auto& k : kUsLayout)
        if (static_cast<int>(k.key) == carbonKeyCode) return std::string(k.text);
    return std::nullopt;
}

const KeyTextProvider& usLayoutKeyText() {
    static const UsLayoutKeyText table;
    return table;
}

}  // namespace lumora
