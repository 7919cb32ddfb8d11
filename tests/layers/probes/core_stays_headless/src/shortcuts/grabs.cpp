#include <sys/socket.h>
#include <xcb/xcb.h>              // refused: shortcuts may not include X11
#include <xkbcommon/xkbcommon.h>  // refused: shortcuts may not include X11
