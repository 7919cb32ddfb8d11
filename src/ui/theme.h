#pragma once
// The look both windows share: which scheme is showing, the program's own
// dark palette, the panel's font and inks, and SVG images drawn in one ink.

#include <QColor>
#include <QFont>
#include <QPalette>

class QPainter;
class QRectF;
class QString;
class QWidget;

namespace lumora::ui {

// Whether `w` (the application when null) shows the dark scheme: a window
// colour darker than middle grey.
bool isDarkScheme(const QWidget* w);

// The program's own dark palette, for LUMORA_COLOR_SCHEME=dark on desktops
// that give Qt none, and for the pictures and tests of the dark scheme.
QPalette darkPalette();

// The desktop's font at a pixel size (points here are logical pixels).
QFont panelFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// Text colour of the scheme (white or black) at an opacity.
QColor ink(bool dark, qreal opacity);
QColor grey(qreal level, qreal opacity = 1.0);
// The one colour of the product: a light that is on, in either scheme, with
// black text on it. The desktop's accent stays for focus and selection.
QColor onAmber();

// Draws an SVG resource into `target`; with a tint, in that one colour (a
// template image).
void drawSvg(QPainter& p, const QString& resource, const QRectF& target,
             const QColor* tint = nullptr);

}  // namespace lumora::ui
