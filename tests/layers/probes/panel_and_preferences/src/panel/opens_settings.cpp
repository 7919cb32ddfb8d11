// The panel reaches the settings window only through what it is given.
#include "app/app_settings.h"
#include "panel/views/content_view.h"
#include "preferences/preferences_window.h"  // refused: panel may not include preferences/
#include "ui/theme.h"
