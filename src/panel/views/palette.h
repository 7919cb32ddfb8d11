#pragma once
// The dark palette's old home, for the program's start-up until it includes
// "ui/theme.h" itself.

#include "ui/theme.h"

namespace lumora::panel {

using ui::darkPalette;

}  // namespace lumora::panel
