// The app is given its store and its dispatcher; it picks no platform's.
#include "app/app_settings.h"
#include "app/linux/file_store.h"        // refused: app may not include app/linux/
#include "app/qt/qt_executor.h"          // refused: app may not include app/qt/
#include "bridge/avahi/avahi_browser.h"  // refused: app may not include bridge/avahi/
#include "bridge/records.h"
#include "shortcuts/shortcut.h"
