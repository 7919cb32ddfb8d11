#include "ui/custom_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "ui/control_accessibility.h"
#include "ui/theme.h"

namespace lumora::ui {

CustomSlider::CustomSlider(QWidget* parent) : PanelControl(parent) {
    setFixedHeight(16);
    setMinimumWidth(40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CustomSlider::setValue(double v) {
    v = std::clamp(v, 0.0, 1.0);
    if (v == value_) return;
    value_ = v;
    update();
    notifyValueChanged(this, v * 100);
}

void CustomSlider::setValueByUser(double v) {
    v = std::clamp(v, 0.0, 1.0);
    setValue(v);
    emit moved(v);
}

void CustomSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDarkScheme(this);
    p.setPen(Qt::NoPen);
    p.setBrush(dark ? grey(0.22) : grey(0.86));
    p.drawRoundedRect(QRectF(0, 0, width(), 16), 5, 5);
    const double w = (width() - 2) * value_;
    if (w > 0) {
        const double opacity = std::clamp(0.5 * value_ + 0.3, 0.3, 0.8);
        p.setBrush(dark ? QColor::fromRgbF(1, 1, 1, opacity) : grey(0.7, opacity));
        p.drawRoundedRect(QRectF(1, 1, w, 14), 4.5, 4.5);
    }
    drawFocusRing(p, rect(), 5);
}

void CustomSlider::report(double x) {
    setValueByUser(width() > 0 ? x / width() : 0.0);
}

void CustomSlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) report(e->position().x());
}

void CustomSlider::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) report(e->position().x());
}

void CustomSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) report(e->position().x());
}

void CustomSlider::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down:
            stepBy(-1);
            break;
        case Qt::Key_Right:
        case Qt::Key_Up:
            stepBy(1);
            break;
        case Qt::Key_Home:
            setValueByUser(0);
            break;
        case Qt::Key_End:
            setValueByUser(1);
            break;
        default:
            PanelControl::keyPressEvent(e);
    }
}

}  // namespace lumora::ui
