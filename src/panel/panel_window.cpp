#include "panel/panel_window.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "base/setting_keys.h"
#include "ui/theme.h"

namespace lumora::panel {

namespace {

constexpr int kEdgeGrip = 6;
constexpr int kMinimumStoredHeight = 200;

// Translucent corners only look right with a compositor; without one the
// window paints its corners in the panel's own colour.
bool compositorRunning() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return false;
    xcb_connection_t* c = x11->connection();
    const char name[] = "_NET_WM_CM_S0";
    auto cookie = xcb_intern_atom(c, 1, sizeof name - 1, name);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!atom) return false;
    const xcb_atom_t a = atom->atom;
    free(atom);
    if (a == XCB_NONE) return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a), nullptr);
    const bool running = owner && owner->owner != XCB_NONE;
    free(owner);
    return running;
}

}  // namespace

LazyContent::LazyContent(std::function<QWidget*()> make, int width)
    : make_(std::move(make)), width_(width) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setFixedWidth(width);
}

QWidget* LazyContent::ensure() {
    if (view_ || !make_) return view_;
    view_ = make_();
    make_ = nullptr;
    layout()->addWidget(view_);
    if (isVisible()) view_->show();
    if (made_) made_(view_);
    return view_;
}

QSize LazyContent::sizeHint() const {
    return view_ ? view_->sizeHint() : QSize(width_, 200);
}

void LazyContent::showEvent(QShowEvent* event) {
    ensure();
    QWidget::showEvent(event);
}

PanelWindow::PanelWindow(QWidget* content, bool unmanaged) : content_(content) {
    // Unmanaged, an ordinary window rather than a tool one: a compositor
    // gives the keyboard to such a window when it appears.
    setWindowFlags((unmanaged ? Qt::Window | Qt::X11BypassWindowManagerHint : Qt::Tool) |
                   Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint);
    setWindowTitle(QStringLiteral("Lumora panel"));
    setAttribute(Qt::WA_TranslucentBackground, compositorRunning());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content_);
    setFixedWidth(content_->sizeHint().width() > 0 ? content_->sizeHint().width() : 200);
    setMouseTracking(true);
}

void PanelWindow::paintEvent(QPaintEvent*) {
    if (testAttribute(Qt::WA_TranslucentBackground)) return;
    QPainter p(this);
    const bool dark = ui::isDarkScheme(this);
    p.fillRect(rect(), dark ? QColor::fromRgbF(0.1, 0.1, 0.1) : QColor(250, 250, 250));
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

void PanelWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) emit activationChanged(isActiveWindow());
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit escapePressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PanelWindow::onBottomEdge(const QPoint& p) const {
    return p.y() >= height() - kEdgeGrip;
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onBottomEdge(event->position().toPoint())) {
        dragFromY_ = static_cast<int>(event->globalPosition().y());
        dragStartHeight_ = height();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragFromY_) {
        const int dy = static_cast<int>(event->globalPosition().y()) - *dragFromY_;
        resize(width(), std::max(minimumHeight(), dragStartHeight_ + dy));
        return;
    }
    setCursor(onBottomEdge(event->position().toPoint()) ? Qt::SizeVerCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void PanelWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (dragFromY_) {
        dragFromY_.reset();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------

StatusBarMenuWindowController::StatusBarMenuWindowController(QWidget* content, DefaultsStore& store,
                                                             Environment env)
    : store_(store),
      env_(std::move(env)),
      window_(std::make_unique<PanelWindow>(content, env_.unmanaged)) {
    window_->resize(window_->width(), 320);
    connect(window_.get(), &PanelWindow::resized, this, [this] { windowDidResize(); });
    connect(window_.get(), &PanelWindow::escapePressed, this, [this] {
        if (isShown_) close();
    });
    connect(window_.get(), &PanelWindow::activationChanged, this, [this](bool active) {
        if (!active) closeIfProgramInactive();
    });
}

StatusBarMenuWindowController::~StatusBarMenuWindowController() {
    if (eventMonitor_) eventMonitor_->stop();
}

bool StatusBarMenuWindowController::isFading() const {
    return fade_ && fade_->state() == QAbstractAnimation::Running;
}

void StatusBarMenuWindowController::showWindow() {
    if (fade_) {
        fade_->stop();
        fade_->deleteLater();
    }
    // Placed before the first show too, so it never flashes at the old spot.
    if (!window_->isVisible()) window_->setGeometry(computeFrame(preferredHeight_));
    repositionWindow(static_cast<double>(preferredHeight_));
    window_->setWindowOpacity(1.0);
    window_->show();
    window_->raise();
    window_->activateWindow();

    closingClick_ = ClosingClick::none;
    if (eventMonitor_) eventMonitor_->stop();
    eventMonitor_ = env_.makeMonitor ? env_.makeMonitor() : nullptr;
    QPointer<StatusBarMenuWindowController> self(this);
    const bool watching = eventMonitor_ && eventMonitor_->start(
                                               [self](bool left) {
                                                   if (self) self->outsideClick(left);
                                               },
                                               [self] {
                                                   if (self) self->leftRelease();
                                               });
    if (!watching) eventMonitor_.reset();
    closeOnDeactivation_ = !watching;
    // The focus may pass to another window of the program (the settings)
    // and leave the program from there.
    if (closeOnDeactivation_) qApp->installEventFilter(this);
    isShown_ = true;
}

void StatusBarMenuWindowController::close() {
    if (!isShown_ || isFading()) return;
    auto* fade = new QPropertyAnimation(window_.get(), "windowOpacity", this);
    fade->setDuration(env_.fadeMilliseconds);
    fade->setStartValue(window_->windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, [this, fade] {
        fade->deleteLater();
        finishClose();
    });
    fade_ = fade;
    fade->start();
}

void StatusBarMenuWindowController::finishClose() {
    windowWillClose();
    window_->hide();
    isShown_ = false;
    qApp->removeEventFilter(this);
    // Kept while the click that closed the panel may still activate the icon.
    if (closingClick_ == ClosingClick::none) stopMonitor();
}

bool StatusBarMenuWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate) closeIfProgramInactive();
    return QObject::eventFilter(watched, event);
}

void StatusBarMenuWindowController::closeIfProgramInactive() {
    // Looked at on the next turn: the focus may be on its way to another of
    // the program's windows.
    QPointer<StatusBarMenuWindowController> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self && self->closeOnDeactivation_ && self->isShown_ && !self->isFading() &&
                !QApplication::activeWindow())
                self->close();
        },
        Qt::QueuedConnection);
}

void StatusBarMenuWindowController::stopMonitor() {
    if (eventMonitor_) eventMonitor_->stop();
    eventMonitor_.reset();
}

void StatusBarMenuWindowController::outsideClick(bool left) {
    if (isShown_ && !isFading()) {
        closingClick_ = left ? ClosingClick::held : ClosingClick::none;
        close();
        return;
    }
    // A new click: an activation from here on is its own.
    forgetClosingClick();
}

void StatusBarMenuWindowController::leftRelease() {
    if (closingClick_ != ClosingClick::held) return;
    closingClick_ = ClosingClick::released;
    releasedAt_ = env_.now();
    QPointer<StatusBarMenuWindowController> self(this);
    QTimer::singleShot(kReleaseToActivation, this, [self, at = releasedAt_] {
        if (self && self->closingClick_ == ClosingClick::released && self->releasedAt_ == at)
            self->forgetClosingClick();
    });
}

void StatusBarMenuWindowController::forgetClosingClick() {
    closingClick_ = ClosingClick::none;
    if (!isShown_) stopMonitor();
}

bool StatusBarMenuWindowController::takeClosingClick() {
    const bool closing =
        closingClick_ == ClosingClick::held || (closingClick_ == ClosingClick::released &&
                                                env_.now() - releasedAt_ <= kReleaseToActivation);
    if (closingClick_ != ClosingClick::none) forgetClosingClick();
    return closing;
}

QRect StatusBarMenuWindowController::computeFrame(double preferredHeight) const {
    PlacementInput in;
    in.width = window_->width();
    in.preferredHeight = preferredHeight;
    in.pointer = env_.pointer ? env_.pointer() : QPoint();
    if (env_.iconGeometry) in.icon = env_.iconGeometry();
    if (env_.hostPoint) in.hostPoint = env_.hostPoint();
    const QPoint probe = in.icon && !in.icon->isEmpty() ? in.icon->center()
                         : in.hostPoint                 ? *in.hostPoint
                                                        : in.pointer;
    in.screen = env_.screenAt ? env_.screenAt(probe) : QRect();
    if (env_.fullScreenAt) in.fullScreen = env_.fullScreenAt(probe);
    if (!env_.iconGeometry) {
        // No status item at all: the middle of the pointer's screen.
        const int h = preferredHeight > 0 ? static_cast<int>(preferredHeight) : kDefaultPanelHeight;
        QRect frame(0, 0, in.width, h);
        if (!in.screen.isEmpty()) frame.moveCenter(in.screen.center());
        return frame;
    }
    return panelFrame(in);
}

void StatusBarMenuWindowController::repositionWindow(double preferredHeight) {
    const QRect frame = computeFrame(preferredHeight);
    // Applied on the next turn of the loop, after the window is shown.
    QPointer<PanelWindow> w(window_.get());
    QTimer::singleShot(0, this, [w, frame] {
        if (w) w->setGeometry(frame);
    });
}

void StatusBarMenuWindowController::windowDidResize() {
    const std::int64_t panel = store_.integer(keys::activePanel);
    // The content fills the window: no frame, no margins.
    const int height = window_->height();
    if (height == 0) return;
    const std::int64_t value = std::max(height, kMinimumStoredHeight);
    const char* key = nullptr;
    switch (panel) {
        case 0:
            key = keys::heightLights;
            break;
        case 1:
            key = keys::heightRooms;
            break;
        case 2:
            key = keys::heightScenes;
            break;
        default:
            return;
    }
    store_.setInteger(key, value);  // the store skips an unchanged value
}

}  // namespace lumora::panel
