#include "shortcuts/x11/key_tables.h"

#include <xcb/xproto.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <array>

#include "shortcuts/shortcut.h"

namespace lumora::x11 {
namespace {

constexpr int code(Key k) {
    return static_cast<int>(k);
}

constexpr std::array kMappings{
    KeyMapping{code(Key::a), XKB_KEY_a},
    KeyMapping{code(Key::b), XKB_KEY_b},
    KeyMapping{code(Key::c), XKB_KEY_c},
    KeyMapping{code(Key::d), XKB_KEY_d},
    KeyMapping{code(Key::e), XKB_KEY_e},
    KeyMapping{code(Key::f), XKB_KEY_f},
    KeyMapping{code(Key::g), XKB_KEY_g},
    KeyMapping{code(Key::h), XKB_KEY_h},
    KeyMapping{code(Key::i), XKB_KEY_i},
    KeyMapping{code(Key::j), XKB_KEY_j},
    KeyMapping{code(Key::k), XKB_KEY_k},
    KeyMapping{code(Key::l), XKB_KEY_l},
    KeyMapping{code(Key::m), XKB_KEY_m},
    KeyMapping{code(Key::n), XKB_KEY_n},
    KeyMapping{code(Key::o), XKB_KEY_o},
    KeyMapping{code(Key::p), XKB_KEY_p},
    KeyMapping{code(Key::q), XKB_KEY_q},
    KeyMapping{code(Key::r), XKB_KEY_r},
    KeyMapping{code(Key::s), XKB_KEY_s},
    KeyMapping{code(Key::t), XKB_KEY_t},
    KeyMapping{code(Key::u), XKB_KEY_u},
    KeyMapping{code(Key::v), XKB_KEY_v},
    KeyMapping{code(Key::w), XKB_KEY_w},
    KeyMapping{code(Key::x), XKB_KEY_x},
    KeyMapping{code(Key::y), XKB_KEY_y},
    KeyMapping{code(Key::z), XKB_KEY_z},
    KeyMapping{code(Key::zero), XKB_KEY_0},
    KeyMapping{code(Key::one), XKB_KEY_1},
    KeyMapping{code(Key::two), XKB_KEY_2},
    KeyMapping{code(Key::three), XKB_KEY_3},
    KeyMapping{code(Key::four), XKB_KEY_4},
    KeyMapping{code(Key::five), XKB_KEY_5},
    KeyMapping{code(Key::six), XKB_KEY_6},
    KeyMapping{code(Key::seven), XKB_KEY_7},
    KeyMapping{code(Key::eight), XKB_KEY_8},
    KeyMapping{code(Key::nine), XKB_KEY_9},
    KeyMapping{code(Key::equal), XKB_KEY_equal},
    KeyMapping{code(Key::minus), XKB_KEY_minus},
    KeyMapping{code(Key::rightBracket), XKB_KEY_bracketright},
    KeyMapping{code(Key::leftBracket), XKB_KEY_bracketleft},
    KeyMapping{code(Key::quote), XKB_KEY_apostrophe},
    KeyMapping{code(Key::semicolon), XKB_KEY_semicolon},
    KeyMapping{code(Key::backslash), XKB_KEY_backslash},
    KeyMapping{code(Key::comma), XKB_KEY_comma},
    KeyMapping{code(Key::slash), XKB_KEY_slash},
    KeyMapping{code(Key::period), XKB_KEY_period},
    KeyMapping{code(Key::backtick), XKB_KEY_grave},
    KeyMapping{code(Key::returnKey), XKB_KEY_Return},
    KeyMapping{code(Key::tab), XKB_KEY_Tab},
    KeyMapping{code(Key::space), XKB_KEY_space},
    KeyMapping{code(Key::deleteKey), XKB_KEY_BackSpace},
    KeyMapping{code(Key::escape), XKB_KEY_Escape},
    KeyMapping{code(Key::keypadDecimal), XKB_KEY_KP_Decimal},
    KeyMapping{code(Key::keypadMultiply), XKB_KEY_KP_Multiply},
    KeyMapping{code(Key::keypadPlus), XKB_KEY_KP_Add},
    KeyMapping{code(Key::keypadClear), XKB_KEY_Clear},
    KeyMapping{code(Key::keypadDivide), XKB_KEY_KP_Divide},
    KeyMapping{code(Key::keypadEnter), XKB_KEY_KP_Enter},
    KeyMapping{code(Key::keypadMinus), XKB_KEY_KP_Subtract},
    KeyMapping{code(Key::keypadEquals), XKB_KEY_KP_Equal},
    KeyMapping{code(Key::keypad0), XKB_KEY_KP_0},
    KeyMapping{code(Key::keypad1), XKB_KEY_KP_1},
    KeyMapping{code(Key::keypad2), XKB_KEY_KP_2},
    KeyMapping{code(Key::keypad3), XKB_KEY_KP_3},
    KeyMapping{code(Key::keypad4), XKB_KEY_KP_4},
    KeyMapping{code(Key::keypad5), XKB_KEY_KP_5},
    KeyMapping{code(Key::keypad6), XKB_KEY_KP_6},
    KeyMapping{code(Key::keypad7), XKB_KEY_KP_7},
    KeyMapping{code(Key::keypad8), XKB_KEY_KP_8},
    KeyMapping{code(Key::keypad9), XKB_KEY_KP_9},
    KeyMapping{code(Key::f1), XKB_KEY_F1},
    KeyMapping{code(Key::f2), XKB_KEY_F2},
    KeyMapping{code(Key::f3), XKB_KEY_F3},
    KeyMapping{code(Key::f4), XKB_KEY_F4},
    KeyMapping{code(Key::f5), XKB_KEY_F5},
    KeyMapping{code(Key::f6), XKB_KEY_F6},
    KeyMapping{code(Key::f7), XKB_KEY_F7},
    KeyMapping{code(Key::f8), XKB_KEY_F8},
    KeyMapping{code(Key::f9), XKB_KEY_F9},
    KeyMapping{code(Key::f10), XKB_KEY_F10},
    KeyMapping{code(Key::f11), XKB_KEY_F11},
    KeyMapping{code(Key::f12), XKB_KEY_F12},
    KeyMapping{code(Key::f13), XKB_KEY_F13},
    KeyMapping{code(Key::f14), XKB_KEY_F14},
    KeyMapping{code(Key::f15), XKB_KEY_F15},
    KeyMapping{code(Key::f16), XKB_KEY_F16},
    KeyMapping{code(Key::f17), XKB_KEY_F17},
    KeyMapping{code(Key::f18), XKB_KEY_F18},
    KeyMapping{code(Key::f19), XKB_KEY_F19},
    KeyMapping{code(Key::f20), XKB_KEY_F20},
    KeyMapping{code(Key::help), XKB_KEY_Help},
    KeyMapping{code(Key::home), XKB_KEY_Home},
    KeyMapping{code(Key::pageUp), XKB_KEY_Prior},
    KeyMapping{code(Key::deleteForward), XKB_KEY_Delete},
    KeyMapping{code(Key::end), XKB_KEY_End},
    KeyMapping{code(Key::pageDown), XKB_KEY_Next},
    KeyMapping{code(Key::leftArrow), XKB_KEY_Left},
    KeyMapping{code(Key::rightArrow), XKB_KEY_Right},
    KeyMapping{code(Key::downArrow), XKB_KEY_Down},
    KeyMapping{code(Key::upArrow), XKB_KEY_Up},
};

}  // namespace

std::span<const KeyMapping> keyMappings() {
    return kMappings;
}

std::optional<std::uint32_t> keysymForCarbonKeyCode(int carbonKeyCode) {
    for (const auto& m : kMappings)
        if (m.carbonKeyCode == carbonKeyCode) return m.keysym;
    return std::nullopt;
}

std::optional<int> carbonKeyCodeForKeysym(std::uint32_t keysym) {
    if (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z) keysym += XKB_KEY_a - XKB_KEY_A;
    for (const auto& m : kMappings)
        if (m.keysym == keysym) return m.carbonKeyCode;
    return std::nullopt;
}

std::uint16_t xModifierMask(int carbonModifiers) {
    const Modifiers m(carbonModifiers);
    std::uint16_t mask = 0;
    if (m.contains(Modifier::control)) mask |= XCB_MOD_MASK_CONTROL;
    if (m.contains(Modifier::option)) mask |= XCB_MOD_MASK_1;
    if (m.contains(Modifier::shift)) mask |= XCB_MOD_MASK_SHIFT;
    if (m.contains(Modifier::command)) mask |= XCB_MOD_MASK_4;
    return mask;
}

int carbonModifiersForXState(std::uint16_t state) {
    int bits = 0;
    if (state & XCB_MOD_MASK_CONTROL) bits |= static_cast<int>(Modifier::control);
    if (state & XCB_MOD_MASK_1) bits |= static_cast<int>(Modifier::option);
    if (state & XCB_MOD_MASK_SHIFT) bits |= static_cast<int>(Modifier::shift);
    if (state & XCB_MOD_MASK_4) bits |= static_cast<int>(Modifier::command);
    return bits;
}

}  // namespace lumora::x11
