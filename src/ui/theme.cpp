#include "ui/theme.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QWidget>

namespace lumora::ui {

bool isDarkScheme(const QWidget* w) {
    const QPalette& pal = w ? w->palette() : QApplication::palette();
    return pal.color(QPalette::Window).lightness() < 128;
}

QColor onAmber() {
    return QColor::fromRgbF(1.0, 191 / 255.0, 0);
}

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
    p.setColor(QPalette::Highlight, onAmber());
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::ToolTipBase, QColor(52, 52, 55));
    p.setColor(QPalette::ToolTipText, QColor(235, 235, 235));
    // Links readable on the dark window.
    p.setColor(QPalette::Link, QColor(110, 170, 255));
    p.setColor(QPalette::LinkVisited, QColor(170, 140, 255));
    return p;
}

QFont panelFont(int pixelSize, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QColor ink(bool dark, qreal opacity) {
    QColor c = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    c.setAlphaF(opacity);
    return c;
}

QColor grey(qreal level, qreal opacity) {
    return QColor::fromRgbF(level, level, level, opacity);
}

void drawSvg(QPainter& p, const QString& resource, const QRectF& target, const QColor* tint) {
    QSvgRenderer svg(resource);
    if (!tint) {
        svg.render(&p, target);
        return;
    }
    const qreal dpr = p.device()->devicePixelRatioF();
    QImage img((target.size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter ip(&img);
        svg.render(&ip);
        ip.setCompositionMode(QPainter::CompositionMode_SourceIn);
        ip.fillRect(img.rect(), *tint);
    }
    img.setDevicePixelRatio(dpr);
    p.drawImage(target.topLeft(), img);
}

}  // namespace lumora::ui
