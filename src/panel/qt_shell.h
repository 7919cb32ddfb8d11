#pragma once
// The Qt side of the program: tray icon, panel window, context menu, the
// welcome and debug windows, sleep and wake. The application logic reaches
// all of it through the Shell interface.

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "app/app_delegate.h"
#include "app/shell.h"
#include "panel/panel_window.h"
#include "panel/sleep_watcher.h"
#include "panel/status_item.h"

class QScreen;

namespace lumora::panel {

// The first screen that holds the pointer; none when no screen does.
QScreen* getScreenWithMouse();

class QtShell : public QObject, public Shell {
    Q_OBJECT
  public:
    struct Options {
        // The panel's root view; called once, in buildInterface.
        std::function<QWidget*(QtShell&)> makeContent;
        // The settings window at its default pane.
        std::function<void()> showSettings;
        // Starts the debug report; called on the user-interface thread, does
        // its blocking part on a worker.
        std::function<void()> sendDebugData;
        // The welcome window's view; `done` is for its closing button. No
        // factory, no window.
        std::function<QWidget*(std::function<void()> done)> makeWelcomeView;
        // The debug window's view over the log, with the report's start
        // (sendDebugData) and the window's close.
        std::function<QWidget*(AppSettings&, std::function<void()> sendDebugData,
                               std::function<void()> close)>
            makeDebugView;
        // Off in tests: no global click monitor, no system bus.
        bool monitorClicks = true;
        bool watchSleep = true;
        int fadeMilliseconds = 180;
    };

    QtShell(AppDelegate& delegate, Options options);
    ~QtShell() override;

    void buildInterface() override;
    void repositionWindow(double preferredHeight) override;
    void openURL(const std::string& url) override;
    bool isPanelShown() const override;
    void showPanel(std::int64_t preferredHeight) override;
    void closePanel() override;
    void popUpContextMenu() override;
    void showWelcomeWindow() override;
    void showDebugWindow() override;
    void showSettings() override;

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
    void traceFirstPaints();
    QWidget* makeSmallWindow(const QString& title, QSize size, QWidget* content);

    AppDelegate& delegate_;
    Options options_;
    std::unique_ptr<StatusItem> statusItem_;
    LazyContent* content_ = nullptr;  // owned by the panel window
    std::unique_ptr<StatusBarMenuWindowController> windowController_;
    std::unique_ptr<QMenu> contextMenu_;
    std::unique_ptr<SleepWatcher> sleepWatcher_;
    QPointer<QWidget> welcomeWindow_;
    QPointer<QWidget> debugWindow_;
    bool menuOpen_ = false;
    int iconObserver_ = 0;
};

}  // namespace lumora::panel
