#include "panel/panel_window.h"
#include "preferences/lights_pane.h"  // refused: panel/views may not include preferences/
