#include <QtCore/qglobal.h>  // refused: base may not include Qt
#include <httplib.h>         // refused: base may not include http

#include <QtCore/QObject>  // refused: base may not include Qt
#include <string>

#include "base/x11/xcb_watch.h"  // refused: base may not include base/x11/
