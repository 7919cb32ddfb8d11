#include "preferences/link_explainer.h"

#include <QPainter>
#include <QSvgRenderer>
#include <mutex>

// The link frames live in their own resource file inside a static library;
// it has to be pulled in by name, outside any namespace.
static void initLinkFrames() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(link_frames); });
}

namespace lumora::prefs {

LinkLabel::LinkLabel(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void LinkLabel::setColor(const QColor& color) {
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; background: transparent; "
                                 "color: %1; text-align: center; }"
                                 "QPushButton:focus { text-decoration: underline; }")
                      .arg(color.name(QColor::HexArgb)));
}

// ---------------------------------------------------------------------------

LinkExplainer::LinkExplainer(Dispatcher& dispatcher, QWidget* parent)
    : QWidget(parent), dispatcher_(dispatcher) {
    initLinkFrames();
    for (int i = 0; i < 2; ++i) frames_[i] = new QSvgRenderer(imageName(i), this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(tr("The link button on the bridge being pressed"));
}

LinkExplainer::~LinkExplainer() {
    invalidate(timer_);
}

QString LinkExplainer::imageName(int index) {
    return QStringLiteral(":/lumora/preferences/link_%1.svg").arg(index);
}

QSize LinkExplainer::sizeHint() const {
    return {96, 92};
}

void LinkExplainer::paintEvent(QPaintEvent*) {
    // A third of the 286 x 274 artwork, centred.
    const QSizeF frame(286.0 / 3, 274.0 / 3);
    const QRectF r(QPointF((width() - frame.width()) / 2, (height() - frame.height()) / 2), frame);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    frames_[imageIndex_]->render(&p, r);
}

void LinkExplainer::showEvent(QShowEvent*) {
    invalidate(timer_);
    timer_ = dispatcher_.scheduleRepeating(kPeriod, [this] {
        imageIndex_ = 1 - imageIndex_;
        update();
    });
}

void LinkExplainer::hideEvent(QHideEvent*) {
    invalidate(timer_);
}

}  // namespace lumora::prefs
