#pragma once
// A stored combination in the desktop portal's shortcut syntax: the modifiers
// CTRL, ALT, SHIFT and LOGO, in that order, then the key's keysym name, joined
// with "+" ("CTRL+ALT+k", "SHIFT+LOGO+F5"). The key is named by the symbol it
// types, as the X11 grabs match it. No toolkit.

#include <optional>
#include <string>

#include "shortcuts/shortcut.h"

namespace lumora {

// Nothing for a key code the module has no key for.
std::optional<std::string> portalTrigger(const Shortcut& shortcut);

}  // namespace lumora
