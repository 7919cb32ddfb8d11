#include "panel/qt_shell.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>

#include "app/x11/event_monitor.h"
#include "base/setting_keys.h"
#include "panel/views/content_view.h"

namespace lumora::panel {

namespace {

// Clicks anywhere outside the program, from XInput2 on a connection of its own.
class XInputClickMonitor : public ClickMonitor {
  public:
    bool start(std::function<void()> onOutsideClick) override {
        EventMonitor::Options options;
        options.post = [](std::function<void()> work) {
            QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
        };
        options.ownWindows = [] {
            std::vector<std::uint32_t> ids;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && w->internalWinId()) {
                    ids.push_back(static_cast<std::uint32_t>(w->internalWinId()));
                }
            }
            return ids;
        };
        monitor_ = std::make_unique<EventMonitor>(
            EventMonitor::Mask::leftMouseDown | EventMonitor::Mask::rightMouseDown,
            [onOutsideClick](const EventMonitor::Event&) { onOutsideClick(); }, options);
        return monitor_->start();
    }
    void stop() override {
        if (monitor_) monitor_->stop();
    }

  private:
    std::unique_ptr<EventMonitor> monitor_;
};

// The context menu's key equivalents: a plain letter picks its item.
class KeyEquivalents : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* menu = qobject_cast<QMenu*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!menu || (key->modifiers() & ~Qt::ShiftModifier & ~Qt::KeypadModifier)) return false;
        for (QAction* a : menu->actions()) {
            if (!a->shortcut().isEmpty() && a->shortcut()[0].key() == key->key()) {
                menu->hide();
                a->trigger();
                return true;
            }
        }
        return false;
    }
};

}  // namespace

QScreen* getScreenWithMouse() {
    const QPoint p = QCursor::pos();
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->geometry().contains(p)) return s;
    }
    return nullptr;
}

QtShell::QtShell(AppDelegate& delegate, Options options)
    : delegate_(delegate), options_(std::move(options)) {}

QtShell::~QtShell() {
    if (iconObserver_) delegate_.settings().removeObserver(iconObserver_);
    delete welcomeWindow_.data();
    delete debugWindow_.data();
}

void QtShell::buildInterface() {
    AppSettings& settings = delegate_.settings();
    // The panel's view is made when the panel first opens.
    auto* content = new LazyContent(
        [this]() -> QWidget* {
            return options_.makeContent ? options_.makeContent(*this) : new QWidget;
        },
        kPanelWidth);
    content_ = content;

    statusItem_ = std::make_unique<StatusItem>();
    statusItem_->setImage(QString::fromStdString(settings.appIcon()));
    connect(statusItem_.get(), &StatusItem::leftClicked, this,
            [this] { delegate_.togglePopover(AppDelegate::Click::left); });
    connect(statusItem_.get(), &StatusItem::rightClicked, this,
            [this] { delegate_.togglePopover(AppDelegate::Click::right); });
    iconObserver_ = settings.addObserver([this](AppSettings::Field f) {
        if (f == AppSettings::Field::appIcon) {
            statusItem_->setImage(QString::fromStdString(delegate_.settings().appIcon()));
        }
    });
    statusItem_->show();

    StatusBarMenuWindowController::Environment env;
    env.iconGeometry = [this] { return statusItem_->geometry(); };
    env.pointer = [] { return QCursor::pos(); };
    env.screenAt = [](QPoint p) {
        QScreen* s = QGuiApplication::screenAt(p);
        if (!s) s = getScreenWithMouse();
        return s ? s->availableGeometry() : QRect();
    };
    const bool xinput = options_.monitorClicks &&
                        QGuiApplication::platformName() == QLatin1String("xcb") &&
                        EventMonitor::isAvailable();
    if (xinput) env.makeMonitor = [] { return std::make_unique<XInputClickMonitor>(); };
    env.fadeMilliseconds = options_.fadeMilliseconds;
    windowController_ = std::make_unique<StatusBarMenuWindowController>(
        content, settings.defaults(), std::move(env));

    buildContextMenu();
    if (qEnvironmentVariableIsSet("LUMORA_TRACE_TIMES")) traceFirstPaints();

    if (options_.watchSleep) {
        sleepWatcher_ = std::make_unique<SleepWatcher>(
            [this] {
                delegate_.onSleepNote();
                delegate_.settings().logger(
                    std::string("System will sleep: queue timer ") +
                    (delegate_.actionQueueProcessor().expired() ? "stopped" : "running") +
                    ", refresh timer " +
                    (delegate_.bridgeStateRefresher().expired() ? "stopped" : "running"));
            },
            [this] {
                delegate_.onWakeNote();
                delegate_.settings().logger(
                    std::string("System woke: queue timer ") +
                    (delegate_.actionQueueProcessor().expired() ? "stopped" : "running") +
                    ", refresh timer " +
                    (delegate_.bridgeStateRefresher().expired() ? "stopped" : "running"));
            });
    }
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { delegate_.applicationWillTerminate(); });
}

namespace {

// Prints the time of the panel's first paint after each show (for the
// benchmark: click to picture).
class FirstPaintTracer : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) pending_ = true;
        if (e->type() == QEvent::Paint && pending_) {
            pending_ = false;
            timespec ts{};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            std::fprintf(stderr, "lumora: panel painted (t=%.3f)\n",
                         ts.tv_sec * 1e3 + ts.tv_nsec / 1e6);
        }
        return false;
    }

  private:
    bool pending_ = false;
};

}  // namespace

void QtShell::traceFirstPaints() {
    QWidget* panel = windowController_->window();
    auto* tracer = new FirstPaintTracer(panel);
    panel->installEventFilter(tracer);
    // The content paints the panel; its first paint is the picture.
    if (content_) content_->onMade([tracer](QWidget* view) { view->installEventFilter(tracer); });
}

void QtShell::buildContextMenu() {
    contextMenu_ = std::make_unique<QMenu>();
    contextMenu_->installEventFilter(new KeyEquivalents(contextMenu_.get()));
    auto add = [this](const QString& title, Qt::Key key, std::function<void()> run) {
        QAction* a = contextMenu_->addAction(title);
        if (key != Qt::Key_unknown) {
            a->setShortcut(QKeySequence(key));
            a->setShortcutContext(Qt::WidgetShortcut);
        }
        connect(a, &QAction::triggered, this, std::move(run));
        return a;
    };
    add(tr("Darkness!"), Qt::Key_X, [this] { delegate_.allOff(); });
    // The minutes come from the English title, whatever the translation.
    for (const char* english : {QT_TR_NOOP("Off in 5 minutes"), QT_TR_NOOP("Off in 30 minutes"),
                                QT_TR_NOOP("Off in 60 minutes")}) {
        add(tr(english), Qt::Key_unknown, [this, english] {
            delegate_.allOffInMinutes(AppDelegate::minutesFromMenuTitle(english));
        });
    }
    contextMenu_->addSeparator();
    add(tr("Settings"), Qt::Key_S, [this] { delegate_.openSettings(); });
    contextMenu_->addSeparator();
    add(tr("Help"), Qt::Key_H, [this] { delegate_.openHelp(); });
    add(tr("Provide Feedback"), Qt::Key_F, [this] { delegate_.openFeedback(); });
    contextMenu_->addSeparator();
    add(tr("Quit Lumora"), Qt::Key_Q, [] { QCoreApplication::quit(); });
    connect(contextMenu_.get(), &QMenu::aboutToHide, this, [this] { menuDidClose(); });
}

void QtShell::menuDidClose() {
    menuOpen_ = false;
}

void QtShell::repositionWindow(double preferredHeight) {
    if (windowController_) windowController_->repositionWindow(preferredHeight);
}

void QtShell::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool QtShell::isPanelShown() const {
    return windowController_ && windowController_->isShown();
}

void QtShell::showPanel(std::int64_t preferredHeight) {
    if (!windowController_) return;
    // Made before the window shows, so its first frame has the rows.
    if (content_) content_->ensure();
    windowController_->setPreferredHeight(static_cast<int>(preferredHeight));
    windowController_->showWindow();
}

void QtShell::closePanel() {
    if (windowController_) windowController_->close();
}

void QtShell::popUpContextMenu() {
    if (!contextMenu_) return;
    QPoint at = QCursor::pos();
    if (statusItem_) {
        if (auto r = statusItem_->geometry()) at = r->bottomLeft() + QPoint(-3, 8);
    }
    menuOpen_ = true;
    // A popup shown while the panel fades out would close with it: the panel
    // takes the focus along when it hides. Open the menu once it is gone.
    if (windowController_ && windowController_->isShown()) {
        QPointer<QMenu> menu(contextMenu_.get());
        QTimer::singleShot(options_.fadeMilliseconds + 40, this, [menu, at] {
            if (menu) menu->popup(at);
        });
        return;
    }
    contextMenu_->popup(at);
}

QWidget* QtShell::makeSmallWindow(const QString& title, QSize size, QWidget* content) {
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    window->setFixedSize(size);
    if (QScreen* screen = getScreenWithMouse()) {
        const QRect g = screen->availableGeometry();
        window->move(g.x() + (g.width() - size.width()) / 2,
                     g.y() + (g.height() - size.height()) / 2);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void QtShell::showWelcomeWindow() {
    if (welcomeWindow_) {
        welcomeWindow_->close();
        welcomeWindow_ = nullptr;
    }
    if (!options_.makeWelcomeView) return;
    QWidget* view = options_.makeWelcomeView([this] { welcomeDone(); });
    welcomeWindow_ = makeSmallWindow(tr("Welcome to Lumora"), {320, 500}, view);
}

void QtShell::welcomeDone() {
    if (welcomeWindow_) {
        welcomeWindow_->close();
        welcomeWindow_ = nullptr;
    }
    if (windowController_) {
        delegate_.settings().reloadPreferredHeights();
        showPanel(delegate_.settings().getCurrentPreferredWindowHeight());
    }
    delegate_.settings().defaults().setBool(keys::hasSeenWelcomeScreen, true);
}

void QtShell::showDebugWindow() {
    if (debugWindow_) {
        debugWindow_->close();
        debugWindow_ = nullptr;
    }
    if (!options_.makeDebugView) return;
    QWidget* view = options_.makeDebugView(delegate_.settings(), options_.sendDebugData, [this] {
        if (debugWindow_) debugWindow_->close();
    });
    debugWindow_ = makeSmallWindow(tr("Lumora Debug"), {320, 300}, view);
}

void QtShell::showSettings() {
    if (options_.showSettings) options_.showSettings();
}

}  // namespace lumora::panel
