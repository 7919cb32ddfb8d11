// The bridge stands on the base alone.
#include "app/app_settings.h"      // refused: bridge may not include app/
#include "app/linux/file_store.h"  // refused: bridge may not include app/linux/
#include "base/dispatch.h"
#include "bridge/records.h"
#include "shortcuts/shortcut.h"  // refused: bridge may not include shortcuts/
