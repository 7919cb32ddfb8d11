#include "panel/views/panel_controls.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>

#include "panel/views/panel_accessibility.h"

namespace lumora::panel {

bool isDarkScheme(const QWidget* w) {
    const QPalette& pal = w ? w->palette() : QApplication::palette();
    return pal.color(QPalette::Window).lightness() < 128;
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

namespace {

bool isPressKey(const QKeyEvent* e) {
    return e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
}

// Draws an SVG resource, optionally in one colour (a template image).
void drawImage(QPainter& p, const QString& resource, const QRectF& target, const QColor* tint) {
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

}  // namespace

PanelControl::PanelControl(QWidget* parent) : QWidget(parent) {
    installPanelAccessibility();
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

// ---- OnOffButton -------------------------------------------------------------

OnOffButton::OnOffButton(QWidget* parent) : PanelControl(parent) {
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
    // On shows in the desktop's accent colour.
    p.setBrush(on_ ? palette().color(QPalette::Highlight) : grey(0.1));
    p.drawRoundedRect(r, 5, 5);
    if (!on_ && isDarkScheme(this)) {
        // Grey 0.1 on the dark panel's grey 0.1: a faint edge keeps its shape.
        p.setPen(QPen(grey(1.0, 0.25), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 4.5, 4.5);
    }
    p.setPen(on_ ? palette().color(QPalette::HighlightedText) : QColor(Qt::white));
    p.setFont(panelFont(10, QFont::Bold));
    p.drawText(r, Qt::AlignCenter, on_ ? tr("ON") : tr("OFF"));
    drawFocusRing(p, rect(), 6);
}

void OnOffButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit pressed();
}

void OnOffButton::keyPressEvent(QKeyEvent* e) {
    if (isPressKey(e)) {
        emit pressed();
        return;
    }
    PanelControl::keyPressEvent(e);
}

// ---- CustomSlider ------------------------------------------------------------

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

// ---- TemperatureBar ----------------------------------------------------------

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
    drawImage(p, QStringLiteral(":/panel/temp_curve.svg"), QRectF(rect()), nullptr);
    p.setClipping(false);
    drawFocusRing(p, rect(), 5);
}

void TemperatureBar::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    setPosition(e->position().x());
    emit released(e->position().x());
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

// ---- HueSatField -------------------------------------------------------------

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
    if (e->button() == Qt::LeftButton) pick(e->position());
}

void HueSatField::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) pick(e->position());
}

void HueSatField::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) pick(e->position());
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

// ---- SceneButton -------------------------------------------------------------

SceneButton::SceneButton(const QString& sceneName, QWidget* parent)
    : PanelControl(parent), name_(sceneName) {
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

void SceneButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void SceneButton::keyPressEvent(QKeyEvent* e) {
    if (isPressKey(e)) {
        emit clicked();
        return;
    }
    PanelControl::keyPressEvent(e);
}

// ---- SectionHeaderLabel --------------------------------------------------------

SectionHeaderLabel::SectionHeaderLabel(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text) {
    installPanelAccessibility();
    setFixedHeight(20);
    setAccessibleName(text);
}

void SectionHeaderLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool dark = isDarkScheme(this);
    p.setFont(panelFont(8));
    p.setPen(ink(dark, 0.4));
    p.drawText(QRect(5, 0, width() - 10, height() - 6), Qt::AlignLeft | Qt::AlignBottom, text_);
    p.fillRect(QRectF(5, height() - 1, width() - 10, 1), ink(dark, 0.1));
}

// ---- PanelTab ------------------------------------------------------------------

PanelTab::PanelTab(const QString& label, QWidget* parent) : PanelControl(parent), label_(label) {
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

void PanelTab::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void PanelTab::keyPressEvent(QKeyEvent* e) {
    if (isPressKey(e)) {
        emit clicked();
        return;
    }
    PanelControl::keyPressEvent(e);
}

// ---- IconButton ------------------------------------------------------------------

IconButton::IconButton(const QString& resource, QSize size, qreal opacity, bool tint,
                       QWidget* parent)
    : PanelControl(parent), resource_(resource), size_(size), opacity_(opacity), tint_(tint) {
    setFixedSize(size + QSize(2, 2));
    setCursor(Qt::PointingHandCursor);
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF target(1, 1, size_.width(), size_.height());
    if (tint_) {
        const QColor c = ink(isDarkScheme(this), opacity_);
        drawImage(p, resource_, target, &c);
    } else {
        p.setOpacity(opacity_);
        drawImage(p, resource_, target, nullptr);
        p.setOpacity(1);
    }
    drawFocusRing(p, rect(), 3);
}

void IconButton::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

void IconButton::keyPressEvent(QKeyEvent* e) {
    if (isPressKey(e)) {
        emit clicked();
        return;
    }
    PanelControl::keyPressEvent(e);
}

}  // namespace lumora::panel
