// Controls both use live in ui/.
#include "panel/qt_shell.h"              // refused: preferences may not include panel/
#include "panel/views/panel_controls.h"  // refused: preferences may not include panel/views/
#include "preferences/settings_form.h"
#include "ui/divider.h"
#include "ui/translations.h"
