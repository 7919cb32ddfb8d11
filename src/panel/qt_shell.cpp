#include "panel/qt_shell.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>

#include "app/linux/launch_at_login.h"
#include "app/x11/event_monitor.h"
#include "base/setting_keys.h"
#include "panel/views/content_view.h"
#include "ui/theme.h"
#include "ui/translations.h"

// The resources live in static libraries; they are pulled in by name, outside
// any namespace.
static void initResources() {
    Q_INIT_RESOURCE(lumora);
    Q_INIT_RESOURCE(views_resources);
}

namespace lumora::panel {

namespace {

// Clicks anywhere outside the program, from XInput2 on a connection of its own.
class XInputClickMonitor : public ClickMonitor {
  public:
    bool start(std::function<void(bool left)> onOutsideClick,
               std::function<void()> onLeftRelease) override {
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
            EventMonitor::Mask::leftMouseDown | EventMonitor::Mask::rightMouseDown |
                EventMonitor::Mask::leftMouseUp,
            [onOutsideClick, onLeftRelease](const EventMonitor::Event& e) {
                if (e.kind == EventMonitor::Mask::leftMouseUp) {
                    onLeftRelease();
                } else {
                    onOutsideClick(e.kind == EventMonitor::Mask::leftMouseDown);
                }
            },
            options);
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

bool onWaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == "wayland";
}

void choosePlatformForPlacement() {
    if (!onWaylandSession()) return;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "lumora: Wayland session, platform \"%s\" as set: the panel opens at the "
                     "tray icon only through X11 (XWayland).\n",
                     qgetenv("QT_QPA_PLATFORM").constData());
        return;
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        std::fprintf(stderr,
                     "lumora: Wayland session: running through XWayland (DISPLAY=%s) so the "
                     "panel opens at the tray icon.\n",
                     qgetenv("DISPLAY").constData());
        return;
    }
    std::fprintf(stderr,
                 "lumora: Wayland session without XWayland: the desktop places the panel, "
                 "which may open away from the tray icon.\n");
}

QScreen* getScreenWithMouse() {
    const QPoint p = QCursor::pos();
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->geometry().contains(p)) return s;
    }
    return nullptr;
}

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("lumora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumora"));
    QApplication::setApplicationVersion(QStringLiteral(LUMORA_VERSION));
    // The desktop, the portal and the autostart entry know us by this id.
    QApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    QApplication::setQuitOnLastWindowClosed(false);
    initResources();
    ui::installTranslations(QLocale::system());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumora/icons/lumora.svg")));
    applyColorSchemeOverride();
}

void applyColorSchemeOverride() {
    const QByteArray scheme = qgetenv("LUMORA_COLOR_SCHEME");
    if (scheme != "dark" && scheme != "light") return;
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (scheme == "light") {
        QApplication::setPalette(QApplication::style()->standardPalette());
        return;
    }
    QApplication::setPalette(ui::darkPalette());
}

QtShell::QtShell(BridgeController& controller, HotkeyActions& hotkeys, Options options)
    : controller_(controller), hotkeys_(hotkeys), options_(std::move(options)) {}

QtShell::~QtShell() {
    if (settingsObserver_) settings().removeObserver(settingsObserver_);
    delete welcomeWindow_.data();
    delete debugWindow_.data();
}

void QtShell::applicationDidFinishLaunching() {
    hotkeys_.registerKeyboardHotkeys();
    // The panel without the mouse: the same as a left click on the icon, on
    // the next turn rather than inside the key handler.
    // The module may outlive this shell: the handler holds a guarded pointer.
    hotkeys_.shortcuts().onKeyUp(
        KeyboardShortcuts::Name::actionTogglePanel, [self = QPointer<QtShell>(this)] {
            if (!self) return;
            QMetaObject::invokeMethod(
                self, [self] { self->togglePopover(Click::left); }, Qt::QueuedConnection);
        });
    settings().loadFromStore();
    buildInterface();
    controller_.start();
    const auto seen = settings().defaults().object(keys::hasSeenWelcomeScreen);
    const bool seenIt = seen && std::holds_alternative<bool>(*seen) && std::get<bool>(*seen);
    if (!seenIt) showWelcomeWindow();
}

void QtShell::buildInterface() {
    AppSettings& settings = this->settings();
    // The panel's view is made when the panel first opens.
    auto* content = new LazyContent(
        [this]() -> QWidget* {
            if (options_.makeContent) return options_.makeContent(*this);
            PanelActions actions;
            actions.closePanel = [this] { closePanel(); };
            // The window alone: the gear closes the panel itself, the
            // welcome title bar's button leaves it open.
            actions.showSettings = [this] {
                if (options_.showSettings) options_.showSettings(*this);
            };
            actions.connectToBridge = [this] { controller_.connectToBridge(); };
            actions.openURL = [this](const std::string& url) { openURL(url); };
            actions.reviewURL = options_.feedbackURL;
            actions.version = LUMORA_VERSION;
            return new ContentView(this->settings(), controller_, std::move(actions));
        },
        kPanelWidth);
    content_ = content;

    statusItem_ = std::make_unique<StatusItem>();
    statusItem_->setImage(QString::fromStdString(settings.appIcon()));
    // The point a host passes is kept by the item; placement reads it there.
    connect(statusItem_.get(), &StatusItem::leftClicked, this, [this] {
        // A tray that draws the icon itself (and tells us no geometry)
        // activates on release: the click whose press closed the panel
        // leaves it closed. An icon in a window of ours (XEmbed) is never
        // the click that closed the panel, nor seen as one.
        const bool closingClick = windowController_ && !statusItem_->iconGeometry() &&
                                  windowController_->takeClosingClick();
        if (closingClick) return;
        togglePopover(Click::left);
    });
    connect(statusItem_.get(), &StatusItem::rightClicked, this,
            [this] { togglePopover(Click::right); });
    connect(statusItem_.get(), &StatusItem::becameNotifierItem, this, [this] { syncOpenItem(); });
    settingsObserver_ = settings.addObserver([this](AppSettings::Field f) {
        if (f == AppSettings::Field::appIcon) {
            statusItem_->setImage(QString::fromStdString(this->settings().appIcon()));
        } else if (f == AppSettings::Field::activeMainPanel && windowController_) {
            // The panel switched: it takes the height it had then, once the
            // switch has been drawn.
            const double height =
                static_cast<double>(this->settings().getCurrentPreferredWindowHeight());
            QMetaObject::invokeMethod(
                this,
                [this, height] {
                    if (windowController_) windowController_->repositionWindow(height);
                },
                Qt::QueuedConnection);
        }
    });
    statusItem_->show();

    StatusBarMenuWindowController::Environment env;
    env.iconGeometry = [this] { return statusItem_->iconGeometry(); };
    env.hostPoint = [this] { return statusItem_->lastPoint(); };
    env.pointer = [] { return QCursor::pos(); };
    env.screenAt = [](QPoint p) {
        QScreen* s = QGuiApplication::screenAt(p);
        if (!s) s = getScreenWithMouse();
        return s ? s->availableGeometry() : QRect();
    };
    env.fullScreenAt = [](QPoint p) {
        QScreen* s = QGuiApplication::screenAt(p);
        if (!s) s = getScreenWithMouse();
        return s ? s->geometry() : QRect();
    };
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    // Through XWayland the compositor centres every window it manages: the
    // panel is placed past it. Clicks on the desktop's own surfaces reach no
    // X client, so there the click monitor sees only those on X windows.
    env.unmanaged = x11 && onWaylandSession();
    const bool xinput = options_.monitorClicks && x11 && EventMonitor::isAvailable();
    if (xinput) env.makeMonitor = [] { return std::make_unique<XInputClickMonitor>(); };
    env.fadeMilliseconds = options_.fadeMilliseconds;
    windowController_ = std::make_unique<StatusBarMenuWindowController>(
        content, settings.defaults(), std::move(env));

    buildContextMenu();
    statusItem_->setMenu(contextMenu_.get());
    syncOpenItem();
    if (qEnvironmentVariableIsSet("LUMORA_TRACE_TIMES")) traceFirstPaints();

    if (options_.watchSleep) {
        sleepWatcher_ = std::make_unique<SleepWatcher>(
            [this] {
                controller_.onSleepNote();
                this->settings().logger("System will sleep: " + timersState());
            },
            [this] {
                controller_.onWakeNote();
                this->settings().logger("System woke: " + timersState());
            });
    }
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { controller_.applicationWillTerminate(); });
}

std::string QtShell::timersState() const {
    return std::string("queue timer ") +
           (controller_.actionQueueProcessor().expired() ? "stopped" : "running") +
           ", refresh timer " +
           (controller_.bridgeStateRefresher().expired() ? "stopped" : "running");
}

void QtShell::togglePopover(Click click) {
    if (click == Click::right) {
        if (isPanelShown()) closePanel();
        popUpContextMenu();
        return;
    }
    if (!windowController_) return;
    if (isPanelShown()) {
        closePanel();
        return;
    }
    settings().reloadPreferredHeights();
    showPanel(settings().getCurrentPreferredWindowHeight());
    // Queued, so it runs once the panel is on screen.
    QMetaObject::invokeMethod(
        this, [this] { reviewCheck(); }, Qt::QueuedConnection);
}

void QtShell::reviewCheck() {
    DefaultsStore& store = settings().defaults();
    const std::int64_t n = store.integer(keys::appInvocations);
    store.setInteger(keys::appInvocations, n + 1);
    if (store.boolean(keys::noMoreReviewRequests)) return;
    if (settings().showReviewRequest()) {
        if (n >= 41) settings().setShowReviewRequest(false);
    }
    if (!settings().showReviewRequest()) {
        if (n >= 26 && n <= 39) settings().setShowReviewRequest(true);
    }
}

void QtShell::openSettings() {
    if (options_.showSettings) options_.showSettings(*this);
    if (isPanelShown()) closePanel();
}

void QtShell::openHelp() {
    if (!options_.helpURL.empty()) openURL(options_.helpURL);
}

void QtShell::openFeedback() {
    if (!options_.feedbackURL.empty()) openURL(options_.feedbackURL);
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
        if (run) connect(a, &QAction::triggered, this, std::move(run));
        return a;
    };
    // Hidden until the icon is a StatusNotifierItem.
    openItem_ = add(tr("Open Lumora"), Qt::Key_unknown, [this] {
        if (!isPanelShown()) togglePopover(Click::left);
    });
    openSeparator_ = contextMenu_->addSeparator();
    openItem_->setVisible(false);
    openSeparator_->setVisible(false);
    add(tr("Darkness!"), Qt::Key_X, [this] { controller_.allOff(); });
    // Each delayed-off item carries its minutes, whatever its title says.
    const std::pair<QString, int> delayed[] = {
        {tr("Off in 5 minutes"), 5}, {tr("Off in 30 minutes"), 30}, {tr("Off in 60 minutes"), 60}};
    for (const auto& [title, minutes] : delayed) {
        QAction* item = add(title, Qt::Key_unknown, {});
        item->setData(minutes);
        connect(item, &QAction::triggered, this,
                [this, item] { controller_.allOffInMinutes(item->data().toInt()); });
    }
    contextMenu_->addSeparator();
    add(tr("Settings"), Qt::Key_S, [this] { openSettings(); });
    contextMenu_->addSeparator();
    add(tr("Help"), Qt::Key_H, [this] { openHelp(); });
    add(tr("Provide Feedback"), Qt::Key_F, [this] { openFeedback(); });
    contextMenu_->addSeparator();
    add(tr("Quit Lumora"), Qt::Key_Q, [] { QCoreApplication::quit(); });
    connect(contextMenu_.get(), &QMenu::aboutToHide, this, [this] { menuDidClose(); });
}

void QtShell::syncOpenItem() {
    // A host that shows the menu on a left click never sends that click to
    // us: the panel needs an item of its own there.
    const bool notifier = statusItem_ && statusItem_->isNotifierItem();
    if (openItem_) openItem_->setVisible(notifier);
    if (openSeparator_) openSeparator_->setVisible(notifier);
}

void QtShell::menuDidClose() {
    menuOpen_ = false;
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
        if (auto r = statusItem_->iconGeometry()) {
            at = r->bottomLeft() + QPoint(-3, 8);
        } else if (auto p = statusItem_->lastPoint()) {
            // Where the panel would go: beside the host's bar, at the click.
            QScreen* s = QGuiApplication::screenAt(*p);
            if (!s) s = getScreenWithMouse();
            const QSize size = contextMenu_->sizeHint();
            PlacementInput in;
            in.hostPoint = *p;
            in.screen = s ? s->availableGeometry() : QRect();
            in.fullScreen = s ? s->geometry() : QRect();
            in.width = size.width();
            in.preferredHeight = size.height();
            const QRect frame = panelFrame(in);
            at = in.screen.isEmpty() ? *p : frame.topLeft();
        }
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
        settings().reloadPreferredHeights();
        showPanel(settings().getCurrentPreferredWindowHeight());
    }
    settings().defaults().setBool(keys::hasSeenWelcomeScreen, true);
}

void QtShell::showDebugWindow() {
    if (debugWindow_) {
        debugWindow_->close();
        debugWindow_ = nullptr;
    }
    if (!options_.makeDebugView) return;
    QWidget* view = options_.makeDebugView(
        settings(), [this] { controller_.sendDebugReport(); },
        [this] {
            if (debugWindow_) debugWindow_->close();
        });
    debugWindow_ = makeSmallWindow(tr("Lumora Debug"), {320, 300}, view);
}

}  // namespace lumora::panel
