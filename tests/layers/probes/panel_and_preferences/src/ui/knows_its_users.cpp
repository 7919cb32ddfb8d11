// The common library sits below both.
#include "app/qt/qt_executor.h"
#include "panel/panel_window.h"         // refused: ui may not include panel/
#include "preferences/settings_form.h"  // refused: ui may not include preferences/
