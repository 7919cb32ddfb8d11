#pragma once
// Between stored Carbon key codes and modifier bits and X keysyms and modifier
// masks. Keys are matched by the symbol they produce (an "L" shortcut is the
// key that types l in the current layout), not by their position.

#include <cstdint>
#include <optional>
#include <span>

namespace lumora::x11 {

struct KeyMapping {
    int carbonKeyCode;
    std::uint32_t keysym;  // lower-case for letters
};

// Every Carbon key code with an X keysym.
std::span<const KeyMapping> keyMappings();
// The keysym of a Carbon key code, or nothing for codes without one.
std::optional<std::uint32_t> keysymForCarbonKeyCode(int carbonKeyCode);
// The Carbon key code of a keysym; upper-case letters map like lower-case ones.
std::optional<int> carbonKeyCodeForKeysym(std::uint32_t keysym);

// Control = control, Alt (Mod1) = option, Shift = shift, Super (Mod4) = command.
std::uint16_t xModifierMask(int carbonModifiers);
int carbonModifiersForXState(std::uint16_t state);

}  // namespace lumora::x11
