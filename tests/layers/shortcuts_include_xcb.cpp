// Must not compile: the hot-key logic talks to X11 only through HotkeyService.
#include <xcb/xcb.h>
