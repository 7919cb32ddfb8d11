// Must not compile: the bridge sits below the app and knows nothing of it.
#include "app/app_settings.h"
