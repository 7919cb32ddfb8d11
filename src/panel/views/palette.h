#pragma once
// The program's own dark palette, for LUMORA_COLOR_SCHEME=dark on desktops
// that give Qt none, and for the pictures and tests of the dark scheme.

#include <QPalette>

namespace lumora::panel {

QPalette darkPalette();

}  // namespace lumora::panel
