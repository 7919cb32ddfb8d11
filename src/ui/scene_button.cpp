#include "ui/scene_button.h"

#include <QPainter>

#include "ui/theme.h"

namespace lumora::ui {

SceneButton::SceneButton(const QString& sceneName, QWidget* parent)
    : PressControl(parent), name_(sceneName) {
    setFixedWidth(180);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(tr("Scene %1").arg(sceneName));
    QSizePolicy sp(QSizePolicy::Fixed, QSizePolicy::Preferred);
    sp.setHeightForWidth(true);
    setSizePolicy(sp);
}

int SceneButton::heightForWidth(int w) const {
    const QFontMetrics fm(panelFont(12));
    const QRect r = fm.boundingRect(QRect(0, 0, w - 16, 10000), Qt::TextWordWrap, name_);
    return r.height() + 20;
}

QSize SceneButton::sizeHint() const {
    return {180, heightForWidth(180)};
}

void SceneButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDarkScheme(this);
    p.setPen(Qt::NoPen);
    p.setBrush(dark ? QColor::fromRgbF(0, 0, 0, opacity_) : QColor::fromRgbF(1, 1, 1, opacity_));
    p.drawRoundedRect(QRectF(rect()), 5, 5);
    p.setPen(ink(dark, 0.85));
    p.setFont(panelFont(12));
    p.drawText(rect().adjusted(8, 10, -8, -10), Qt::AlignCenter | Qt::TextWordWrap, name_);
    drawFocusRing(p, rect(), 5);
}

void SceneButton::enterEvent(QEnterEvent*) {
    opacity_ = 0.5;
    update();
}

void SceneButton::leaveEvent(QEvent*) {
    opacity_ = 0.2;
    update();
}

}  // namespace lumora::ui
