#include "ui/temperature_bar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/control_accessibility.h"
#include "ui/theme.h"

namespace lumora::ui {

TemperatureBar::TemperatureBar(QWidget* parent) : PanelControl(parent) {
    setFixedHeight(14);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::CrossCursor);
}

std::int64_t TemperatureBar::temperatureAt(double x, std::int64_t ctMin, std::int64_t ctMax) {
    return ctMin + static_cast<std::int64_t>(static_cast<double>(ctMax - ctMin) * x / kWidth);
}

void TemperatureBar::setPosition(double x) {
    x = std::clamp(x, 0.0, kWidth);
    if (x == keyX_) return;
    keyX_ = x;
    notifyValueChanged(this, x / kWidth * 100);
}

void TemperatureBar::choose(double x) {
    setPosition(x);
    emit released(keyX_);
}

void TemperatureBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 5, 5);
    p.setClipPath(clip);
    drawSvg(p, QStringLiteral(":/panel/temp_curve.svg"), QRectF(rect()));
    p.setClipping(false);
    drawFocusRing(p, rect(), 5);
}

void TemperatureBar::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const double x = onScale(e->position().x());
    setPosition(x);
    emit released(x);
}

void TemperatureBar::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Down) {
        choose(keyX_ - kKeyStep);
    } else if (e->key() == Qt::Key_Right || e->key() == Qt::Key_Up) {
        choose(keyX_ + kKeyStep);
    } else {
        PanelControl::keyPressEvent(e);
    }
}

}  // namespace lumora::ui
