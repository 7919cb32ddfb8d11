#include "ui/icon_button.h"

#include <QPainter>

#include "ui/theme.h"

namespace lumora::ui {

IconButton::IconButton(const QString& resource, QSize size, qreal opacity, bool tint,
                       QWidget* parent)
    : PressControl(parent), resource_(resource), size_(size), opacity_(opacity), tint_(tint) {
    setFixedSize(size + QSize(2, 2));
    setCursor(Qt::PointingHandCursor);
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF target(1, 1, size_.width(), size_.height());
    if (tint_) {
        const QColor c = ink(isDarkScheme(this), opacity_);
        drawSvg(p, resource_, target, &c);
    } else {
        p.setOpacity(opacity_);
        drawSvg(p, resource_, target);
        p.setOpacity(1);
    }
    drawFocusRing(p, rect(), 3);
}

}  // namespace lumora::ui
