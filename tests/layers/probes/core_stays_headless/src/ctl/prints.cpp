#include <xcb/xcb.h>  // refused: ctl may not include X11

#include <QCoreApplication>  // refused: ctl may not include Qt
#include <iostream>
