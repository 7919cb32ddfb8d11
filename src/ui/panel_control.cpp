#include "ui/panel_control.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/control_accessibility.h"

namespace lumora::ui {

PanelControl::PanelControl(QWidget* parent) : QWidget(parent) {
    installControlAccessibility();
    setFocusPolicy(Qt::StrongFocus);
}

void PanelControl::focusInEvent(QFocusEvent* e) {
    switch (e->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            keyboardFocus_ = true;
            break;
        case Qt::MouseFocusReason:
            keyboardFocus_ = false;
            break;
        default:
            // Focus coming back (a popup closed, the window came forward)
            // keeps the ring it had.
            break;
    }
    QWidget::focusInEvent(e);
}

void PanelControl::drawFocusRing(QPainter& p, const QRectF& r, qreal radius) {
    if (!showsFocusRing()) return;
    QColor accent = palette().color(QPalette::Highlight);
    accent.setAlphaF(0.9);
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(accent, 1.5));
    p.drawRoundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), radius, radius);
    p.restore();
}

void PressControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) activate();
}

void PressControl::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        activate();
        return;
    }
    PanelControl::keyPressEvent(e);
}

}  // namespace lumora::ui
