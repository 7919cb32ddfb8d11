#include "panel/views/palette.h"

#include <QColor>

namespace lumora::panel {

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(36, 36, 38));
    p.setColor(QPalette::WindowText, QColor(235, 235, 235));
    p.setColor(QPalette::Base, QColor(26, 26, 28));
    p.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    p.setColor(QPalette::Text, QColor(235, 235, 235));
    p.setColor(QPalette::Button, QColor(52, 52, 55));
    p.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    p.setColor(QPalette::Mid, QColor(90, 90, 94));
    p.setColor(QPalette::Highlight, QColor(255, 191, 0));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::ToolTipBase, QColor(52, 52, 55));
    p.setColor(QPalette::ToolTipText, QColor(235, 235, 235));
    // Links readable on the dark window.
    p.setColor(QPalette::Link, QColor(110, 170, 255));
    p.setColor(QPalette::LinkVisited, QColor(170, 140, 255));
    return p;
}

}  // namespace lumora::panel
