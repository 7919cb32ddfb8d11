#include "ui/hue_sat_field.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace lumora::ui {

HueSatField::HueSatField(QWidget* parent) : PanelControl(parent) {
    setFixedHeight(50);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::CrossCursor);
}

std::int64_t HueSatField::hueAt(double x) {
    return static_cast<std::int64_t>(x / 180.0 * 65535.0);
}

std::int64_t HueSatField::saturationAt(double y) {
    return static_cast<std::int64_t>(y / 50.0 * 250.0);
}

void HueSatField::resizeEvent(QResizeEvent*) {
    strips_ = QImage();
}

void HueSatField::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Every field of one size shows the same pixels: the rows share one
    // image (QImage shares its data) instead of keeping one each.
    static QImage shared;
    const qreal dpr = devicePixelRatioF();
    if (strips_.isNull() && shared.size() == size() * dpr && shared.devicePixelRatio() == dpr) {
        strips_ = shared;
    }
    if (strips_.isNull() || strips_.size() != size() * dpr) {
        // 24 strips, each a 1-point line 2k points down, through 71 hues.
        strips_ = QImage(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        strips_.setDevicePixelRatio(dpr);
        strips_.fill(Qt::transparent);
        QPainter sp(&strips_);
        for (int k = 1; k <= 24; ++k) {
            QLinearGradient g(0, 0, width(), 0);
            for (int i = 0; i <= 70; ++i) {
                g.setColorAt(i / 70.0, ColorInfo{i * 5, 4 * k, 100}.color());
            }
            // On whole device pixels, so that at a fractional scale every
            // strip is as thick as the next.
            const qreal top = std::round((2.0 * k - 1) * dpr) / dpr;
            const qreal height = std::max<qreal>(1, std::round(dpr)) / dpr;
            sp.fillRect(QRectF(0, top, width(), height), g);
        }
        sp.end();
        shared = strips_;
    }
    p.drawImage(0, 0, strips_);
    p.setRenderHint(QPainter::Antialiasing);
    drawFocusRing(p, rect(), 3);
}

void HueSatField::setPoint(const QPointF& p) {
    keyPoint_ = QPointF(std::clamp(p.x(), 0.0, 180.0), std::clamp(p.y(), 2.0, 48.0));
}

void HueSatField::pick(const QPointF& pos) {
    setPoint(pos);
    emit picked(hueAt(pos.x()), saturationAt(pos.y()));
}

void HueSatField::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) pick({onScale(e->position().x()), e->position().y()});
}

void HueSatField::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) pick({onScale(e->position().x()), e->position().y()});
}

void HueSatField::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) pick({onScale(e->position().x()), e->position().y()});
}

void HueSatField::keyPressEvent(QKeyEvent* e) {
    QPointF d;
    switch (e->key()) {
        case Qt::Key_Left:
            d = {-9, 0};
            break;
        case Qt::Key_Right:
            d = {9, 0};
            break;
        case Qt::Key_Up:
            d = {0, -2};
            break;
        case Qt::Key_Down:
            d = {0, 2};
            break;
        default:
            PanelControl::keyPressEvent(e);
            return;
    }
    setPoint(keyPoint_ + d);
    pick(keyPoint_);
}

}  // namespace lumora::ui
