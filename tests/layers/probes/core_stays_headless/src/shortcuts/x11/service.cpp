#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <QKeySequence>  // refused: shortcuts/x11 may not include Qt
