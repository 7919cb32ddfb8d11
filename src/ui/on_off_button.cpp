#include "ui/on_off_button.h"

#include <QPainter>

#include "ui/control_accessibility.h"
#include "ui/theme.h"

namespace lumora::ui {

OnOffButton::OnOffButton(QWidget* parent) : PressControl(parent) {
    setFixedSize(32, 14);
    setCursor(Qt::PointingHandCursor);
}

void OnOffButton::setOn(bool on) {
    if (on_ == on) return;
    on_ = on;
    update();
    notifyStateChanged(this, true, false);
}

void OnOffButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(1, 1, 30, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(on_ ? onAmber() : grey(0.1));
    p.drawRoundedRect(r, 5, 5);
    if (!on_ && isDarkScheme(this)) {
        // Grey 0.1 on the dark panel's grey 0.1: a faint edge keeps its shape.
        p.setPen(QPen(grey(1.0, 0.25), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 4.5, 4.5);
    }
    p.setPen(on_ ? QColor(Qt::black) : QColor(Qt::white));
    p.setFont(panelFont(10, QFont::Bold));
    p.drawText(r, Qt::AlignCenter, on_ ? tr("ON") : tr("OFF"));
    drawFocusRing(p, rect(), 6);
}

}  // namespace lumora::ui
