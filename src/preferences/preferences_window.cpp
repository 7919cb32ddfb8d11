#include "preferences/preferences_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMoveEvent>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <QVBoxLayout>
#include <sstream>

namespace lumora::prefs {

PreferencesWindow::PreferencesWindow(std::vector<PaneEntry> panes, DefaultsStore& store,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window), panes_(std::move(panes)), store_(store) {
    setObjectName(QStringLiteral("PreferencesWindow"));
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(500);
    connect(&saveTimer_, &QTimer::timeout, this, &PreferencesWindow::saveFrame);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The window takes each pane's own size; the user does not resize it.
    column->setSizeConstraint(QLayout::SetFixedSize);

    toolBar_ = new QToolBar(this);
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(24, 24));
    actions_ = new QActionGroup(this);
    actions_->setExclusive(true);
    for (size_t i = 0; i < panes_.size(); ++i) {
        const PaneEntry& entry = panes_[i];
        QIcon icon = QIcon::fromTheme(entry.themeIcon, QIcon(entry.fallbackIcon));
        auto* a = toolBar_->addAction(icon, entry.title);
        a->setCheckable(true);
        a->setData(QString::fromStdString(entry.id));
        actions_->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] {
            if (panes_[i].id != current_) selectPane(i);
        });
    }
    toolBar_->setVisible(panes_.size() > 1);
    // Closed from the keyboard like any settings window. A recorder that is
    // recording takes these keys first, so they can still be recorded.
    for (const QKeySequence& keys :
         {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    column->addWidget(toolBar_);

    body_ = new QVBoxLayout;
    body_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(body_);
}

PreferencesWindow::~PreferencesWindow() {
    if (saveTimer_.isActive()) saveFrame();
}

QAction* PreferencesWindow::paneAction(const std::string& id) const {
    for (QAction* a : actions_->actions())
        if (a->data().toString().toStdString() == id) return a;
    return nullptr;
}

void PreferencesWindow::show(const std::string& paneId) {
    size_t index = 0;
    for (size_t i = 0; i < panes_.size(); ++i)
        if (panes_[i].id == paneId) index = i;
    if (!panes_.empty()) selectPane(index);
    if (!frameRestored_) {
        frameRestored_ = true;
        restoreFrame();
    }
    // A window left open on another desktop is mapped again so that the
    // window manager puts it on the one in use.
    if (isVisible() && !isActiveWindow()) QWidget::hide();
    QWidget::show();
    shown_ = true;
    raise();
    activateWindow();
}

void PreferencesWindow::selectPane(size_t index) {
    const PaneEntry& entry = panes_[index];
    if (pane_) {
        body_->removeWidget(pane_);
        delete pane_;
        pane_ = nullptr;
    }
    current_ = entry.id;
    if (QAction* a = paneAction(entry.id)) a->setChecked(true);
    setWindowTitle(entry.title);
    pane_ = entry.make ? entry.make(this) : nullptr;
    if (pane_) {
        body_->addWidget(pane_);
        pane_->show();
        // Keyboard focus starts in the pane, not on the toolbar's first button.
        for (QWidget* w = pane_->nextInFocusChain(); w && w != pane_; w = w->nextInFocusChain()) {
            if (!pane_->isAncestorOf(w)) break;
            if (w->isVisibleTo(pane_) && (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
}

void PreferencesWindow::restoreFrame() {
    const std::string text = store_.string(kFrameKey).value_or("");
    std::istringstream in(text);
    int x, y, w, h;
    if (!(in >> x >> y >> w >> h) || w <= 0 || h <= 0) return;
    // The saved place may be on a screen that is gone; then the window
    // manager's own placement is better than a window out of reach.
    const QRect frame(x, y, w, h);
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->availableGeometry().intersected(frame).width() >= std::min(w, 100) &&
            s->availableGeometry().contains(QPoint(x + w / 2, y))) {
            move(x, y);
            return;
        }
    }
}

void PreferencesWindow::saveFrame() {
    if (!shown_) return;
    const QRect f = frameGeometry();
    std::ostringstream out;
    out << f.x() << ' ' << f.y() << ' ' << f.width() << ' ' << f.height();
    if (store_.string(kFrameKey) != out.str()) store_.setString(kFrameKey, out.str());
}

// A drag of the window moves it many times a second; the file is written
// once it comes to rest, and always when the window goes away.
void PreferencesWindow::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    if (shown_) saveTimer_.start();
}

void PreferencesWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (shown_) saveTimer_.start();
}

void PreferencesWindow::closeEvent(QCloseEvent* e) {
    QWidget::closeEvent(e);
    // Nothing of a closed window's pane is needed again: the next show makes
    // a new one, and until then it neither observes the settings nor holds
    // a web page in memory.
    if (e->isAccepted() && pane_) {
        body_->removeWidget(pane_);
        pane_->deleteLater();
        pane_ = nullptr;
    }
}

void PreferencesWindow::hideEvent(QHideEvent* e) {
    saveTimer_.stop();
    saveFrame();
    QWidget::hideEvent(e);
}

}  // namespace lumora::prefs
