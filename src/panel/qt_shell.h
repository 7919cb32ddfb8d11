#pragma once
// The top of the tray program: tray icon, panel window, context menu, the
// welcome and debug windows, the review request, sleep and wake. It calls the
// bridge controller and hears back through AppSettings' observers only.

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "panel/panel_window.h"
#include "panel/sleep_watcher.h"
#include "panel/status_item.h"

class QScreen;

namespace lumora::panel {

// The first screen that holds the pointer; none when no screen does.
QScreen* getScreenWithMouse();

// On a Wayland session no program places its own windows, so the panel could
// not open at the tray icon: choose X11 through XWayland where an X server is
// there, unless the user chose a platform. Before the QApplication is made;
// says on standard error what it chose.
void choosePlatformForPlacement();

// WAYLAND_DISPLAY set or XDG_SESSION_TYPE=wayland.
bool onWaylandSession();

// The application's names, resources, translations, icon and palette; once,
// right after the QApplication is made.
void setUpApplication();

// LUMORA_COLOR_SCHEME=dark|light overrides the desktop's palette, for
// desktops that give Qt none and for screenshots.
void applyColorSchemeOverride();

class QtShell : public QObject {
    Q_OBJECT
  public:
    struct Options {
        // The panel's root view, made when the panel first opens; the
        // program's own ContentView unless given.
        std::function<QWidget*(QtShell&)> makeContent;
        // The settings window at its default pane.
        std::function<void(QtShell&)> showSettings;
        // The welcome window's view; `done` is for its closing button. No
        // factory, no window.
        std::function<QWidget*(std::function<void()> done)> makeWelcomeView;
        // The debug window's view over the log, with the report's start and
        // the window's close.
        std::function<QWidget*(AppSettings&, std::function<void()> sendDebugReport,
                               std::function<void()> close)>
            makeDebugView;
        // The product's home and feedback pages.
        std::string helpURL, feedbackURL;
        // Off in tests: no global click monitor, no system bus.
        bool monitorClicks = true;
        bool watchSleep = true;
        int fadeMilliseconds = 180;
    };

    QtShell(BridgeController& controller, HotkeyActions& hotkeys, Options options);
    ~QtShell() override;

    // The start-up sequence: the shortcuts, the stored settings, the
    // interface, the connection, and the welcome for a first start.
    void applicationDidFinishLaunching();
    // Makes the status item, the panel window and the context menu.
    void buildInterface();

    enum class Click { left, right };
    // A click on the status item; a control-click counts as `right`.
    void togglePopover(Click click);
    // Counts the panel's openings and shows or withdraws the review request.
    void reviewCheck();
    void openSettings();
    void openHelp();
    void openFeedback();

    void openURL(const std::string& url);
    // True from showing the panel until its fade-out has ended.
    bool isPanelShown() const;
    void showPanel(std::int64_t preferredHeight);
    void closePanel();
    // Pops the context menu up at the host's point, the icon or the pointer.
    void popUpContextMenu();
    void showWelcomeWindow();
    void showDebugWindow();

    StatusItem* statusItem() const { return statusItem_.get(); }
    StatusBarMenuWindowController* windowController() const { return windowController_.get(); }
    QMenu* contextMenu() const { return contextMenu_.get(); }
    QWidget* welcomeWindow() const { return welcomeWindow_; }
    QWidget* debugWindow() const { return debugWindow_; }
    bool isMenuOpen() const { return menuOpen_; }
    SleepWatcher* sleepWatcher() const { return sleepWatcher_.get(); }

    // As the welcome view's button does it.
    void welcomeDone();
    // As the context menu's delegate.
    void menuDidClose();

  private:
    void buildContextMenu();
    // Shows "Open Lumora" where the icon is a StatusNotifierItem.
    void syncOpenItem();
    void traceFirstPaints();
    QWidget* makeSmallWindow(const QString& title, QSize size, QWidget* content);

    AppSettings& settings() const { return controller_.settings(); }
    // The timers' state, for the sleep and wake lines of the log.
    std::string timersState() const;

    BridgeController& controller_;
    HotkeyActions& hotkeys_;
    Options options_;
    std::unique_ptr<StatusItem> statusItem_;
    LazyContent* content_ = nullptr;  // owned by the panel window
    std::unique_ptr<StatusBarMenuWindowController> windowController_;
    std::unique_ptr<QMenu> contextMenu_;
    // "Open Lumora": first in the menu where the host shows the menu on a
    // left click (StatusNotifierItem).
    QAction* openItem_ = nullptr;
    QAction* openSeparator_ = nullptr;
    std::unique_ptr<SleepWatcher> sleepWatcher_;
    QPointer<QWidget> welcomeWindow_;
    QPointer<QWidget> debugWindow_;
    bool menuOpen_ = false;
    int settingsObserver_ = 0;
};

}  // namespace lumora::panel
