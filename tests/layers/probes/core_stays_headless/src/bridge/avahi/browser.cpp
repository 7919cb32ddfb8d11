// The platform folders are where these belong.
#include <avahi-client/client.h>
#include <xcb/xcb.h>  // refused: bridge/avahi may not include X11
