#include "ui/panel_tab.h"

#include <QPainter>

#include "ui/control_accessibility.h"
#include "ui/theme.h"

namespace lumora::ui {

PanelTab::PanelTab(const QString& label, QWidget* parent) : PressControl(parent), label_(label) {
    setFixedHeight(20);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(label);
}

void PanelTab::setSelected(bool selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    update();
    notifyStateChanged(this, false, true);
}

void PanelTab::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDarkScheme(this);
    const qreal level = selected_ ? (dark ? 0.9 : 0.2) : (dark ? 0.4 : 0.6);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(grey(level, 0.5), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 5, 5);
    p.setPen(grey(level));
    p.setFont(panelFont(8, QFont::Bold));
    p.drawText(rect(), Qt::AlignCenter, label_);
    drawFocusRing(p, rect(), 5);
}

}  // namespace lumora::ui
