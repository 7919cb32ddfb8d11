#include "preferences/image_player.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace lumora {

namespace {

// A dusk room: the lamp swings in, switches on, warms up and lights the
// floor; the frames end on the fully lit room.
QPixmap drawFrame(int index, qreal dpr) {
    const qreal t = index / qreal(ImagePlayer::kFrames - 1);
    QPixmap pm(QSize(320, 180) * dpr);
    pm.setDevicePixelRatio(dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal glow = std::clamp((t - 0.25) / 0.55, 0.0, 1.0);
    QLinearGradient sky(0, 0, 0, 180);
    sky.setColorAt(0, QColor::fromRgbF(0.07 + 0.10 * glow, 0.08 + 0.07 * glow, 0.16, 1));
    sky.setColorAt(1, QColor::fromRgbF(0.12 + 0.22 * glow, 0.10 + 0.14 * glow, 0.14, 1));
    p.fillRect(QRectF(0, 0, 320, 180), sky);

    // Floor.
    p.fillRect(QRectF(0, 150, 320, 30),
               QColor::fromRgbF(0.10 + 0.18 * glow, 0.08 + 0.12 * glow, 0.08 + 0.05 * glow, 1));

    // The lamp swings gently until it settles.
    const qreal swing = (1 - std::min(1.0, t / 0.35)) * std::sin(t * 18) * 10;
    const QPointF top(160, 0);
    const QPointF shade(160 + swing, 62);
    p.setPen(QPen(QColor(90, 90, 100), 1.5));
    p.drawLine(top, shade - QPointF(0, 14));

    // Light cone and pool on the floor.
    if (glow > 0) {
        QPainterPath cone;
        cone.moveTo(shade + QPointF(-14, 0));
        cone.lineTo(shade + QPointF(14, 0));
        cone.lineTo(QPointF(160 + swing + 70, 152));
        cone.lineTo(QPointF(160 + swing - 70, 152));
        cone.closeSubpath();
        QLinearGradient beam(shade, QPointF(shade.x(), 152));
        beam.setColorAt(0, QColor(255, 205, 110, int(150 * glow)));
        beam.setColorAt(1, QColor(255, 205, 110, int(25 * glow)));
        p.fillPath(cone, beam);
        QRadialGradient pool(QPointF(160 + swing, 154), 90);
        pool.setColorAt(0, QColor(255, 214, 130, int(170 * glow)));
        pool.setColorAt(1, QColor(255, 214, 130, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(pool);
        p.drawEllipse(QPointF(160 + swing, 154), 90, 14);
    }

    // Shade and bulb.
    QPainterPath lamp;
    lamp.moveTo(shade + QPointF(-8, -14));
    lamp.lineTo(shade + QPointF(8, -14));
    lamp.lineTo(shade + QPointF(16, 0));
    lamp.lineTo(shade + QPointF(-16, 0));
    lamp.closeSubpath();
    p.fillPath(lamp, QColor(60 + int(40 * glow), 62 + int(30 * glow), 70));
    const QColor bulb =
        QColor::fromRgbF(0.35 + 0.65 * glow, 0.33 + 0.50 * glow, 0.30 + 0.15 * glow, 1);
    p.setBrush(bulb);
    p.drawEllipse(shade + QPointF(0, 3), 5, 4);

    // A chair, for scale.
    p.setBrush(QColor::fromRgbF(0.16 + 0.25 * glow, 0.12 + 0.16 * glow, 0.10 + 0.06 * glow, 1));
    p.drawRoundedRect(QRectF(230, 118, 36, 8), 3, 3);
    p.drawRect(QRectF(232, 126, 4, 24));
    p.drawRect(QRectF(260, 126, 4, 24));
    p.drawRoundedRect(QRectF(258, 88, 8, 32), 3, 3);
    return pm;
}

}  // namespace

ImagePlayer::ImagePlayer(int imageIndex, int resetDelay, QWidget* parent)
    : QWidget(parent), imageIndex_(imageIndex), resetDelay_(resetDelay) {
    setFixedSize(320, 180);
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    setAccessibleName(tr("A lamp switching on"));
}

QString ImagePlayer::frameName(int index) {
    return QStringLiteral("frame_%1").arg(index, 2, 10, QLatin1Char('0'));
}

void ImagePlayer::tick() {
    if (imageIndex_ >= kFrames - 1) {
        if (resetDelay_ == 0) resetDelay_ = kHoldTicks;
    } else {
        ++imageIndex_;
    }
    if (resetDelay_ > 0) {
        --resetDelay_;
        if (resetDelay_ == 0) imageIndex_ = 0;
    }
    update();
}

const QPixmap& ImagePlayer::frame(int index) {
    const int i = std::clamp(index, 0, kFrames - 1);
    if (frames_[i].isNull()) frames_[i] = drawFrame(i, devicePixelRatioF());
    return frames_[i];
}

void ImagePlayer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(rect(), frame(imageIndex_));
}

void ImagePlayer::showEvent(QShowEvent*) {
    timer_.start();
}

void ImagePlayer::hideEvent(QHideEvent*) {
    timer_.stop();
}

}  // namespace lumora
