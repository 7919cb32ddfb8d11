#include <X11/Xlib.h>     // refused: app may not include X11
#include <gtest/gtest.h>  // refused: <gtest/gtest.h> is in no header family

#include <QString>  // refused: app may not include Qt
