#pragma once
// The panel that drops down from the tray icon: a frameless, always-on-top
// window of fixed width that the user may make taller, and the controller
// that shows, places, fades out and closes it.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "base/defaults_store.h"
#include "panel/panel_placement.h"

class QPropertyAnimation;

namespace lumora::panel {

// Holds the panel's view and makes it the first time it is needed: the tray
// program starts without building rows nobody has looked at yet.
class LazyContent : public QWidget {
    Q_OBJECT
  public:
    LazyContent(std::function<QWidget*()> make, int width);
    // The view, made now if it was not yet.
    QWidget* ensure();
    QWidget* view() const { return view_; }
    // Called once with the view right after it was made.
    void onMade(std::function<void(QWidget*)> f) { made_ = std::move(f); }
    QSize sizeHint() const override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::function<QWidget*()> make_;
    std::function<void(QWidget*)> made_;
    QWidget* view_ = nullptr;
    int width_;
};

class PanelWindow : public QWidget {
    Q_OBJECT
  public:
    // `unmanaged`: kept from the window manager, which would place it
    // elsewhere (a Wayland compositor centres its X11 windows).
    explicit PanelWindow(QWidget* content, bool unmanaged = false);
    QWidget* content() const { return content_; }

  signals:
    void resized();
    void activationChanged(bool active);
    void escapePressed();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool onBottomEdge(const QPoint& p) const;
    QWidget* content_;
    // The height drag along the bottom edge: no window manager needed.
    std::optional<int> dragFromY_;
    int dragStartHeight_ = 0;
};

// Watches clicks outside the program while the panel is open.
class ClickMonitor {
  public:
    virtual ~ClickMonitor() = default;
    // `onOutsideClick` gets a press outside the program's windows (left or
    // not), `onLeftRelease` every release of the left button. False when no
    // global monitor can be had here.
    virtual bool start(std::function<void(bool left)> onOutsideClick,
                       std::function<void()> onLeftRelease) = 0;
    virtual void stop() = 0;
};

class StatusBarMenuWindowController : public QObject {
    Q_OBJECT
  public:
    struct Environment {
        // The tray icon's rectangle; none where the tray gives none. Absent
        // when there is no status item at all.
        std::function<std::optional<QRect>()> iconGeometry;
        // Where a StatusNotifierItem host last said the icon was clicked.
        std::function<std::optional<QPoint>()> hostPoint;
        std::function<QPoint()> pointer;
        // The available area of the screen holding a point; empty when none does.
        std::function<QRect(QPoint)> screenAt;
        // That whole screen; none for the same as the available area.
        std::function<QRect(QPoint)> fullScreenAt;
        // A monitor for clicks outside the program; none falls back to
        // closing the panel when the program loses focus.
        std::function<std::unique_ptr<ClickMonitor>()> makeMonitor;
        // Length of the fade-out.
        int fadeMilliseconds = 180;
        // The panel placed by us alone, past the window manager.
        bool unmanaged = false;
        // The clock of the closing click's release.
        std::function<std::chrono::steady_clock::time_point()> now = [] {
            return std::chrono::steady_clock::now();
        };
    };

    // How long after its release the click that closed the panel may still
    // bring the tray's activation.
    static constexpr std::chrono::milliseconds kReleaseToActivation{1000};

    StatusBarMenuWindowController(QWidget* content, DefaultsStore& store, Environment env);
    ~StatusBarMenuWindowController() override;

    // Run when the window is about to close.
    std::function<void()> windowWillClose = [] {};

    bool isShown() const { return isShown_; }
    int preferredHeight() const { return preferredHeight_; }
    void setPreferredHeight(int h) { preferredHeight_ = h; }

    void showWindow();
    void close();
    void repositionWindow(double preferredHeight);
    // The frame repositionWindow would apply now.
    QRect computeFrame(double preferredHeight) const;

    PanelWindow* window() const { return window_.get(); }
    bool isFading() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Whether an activation of the tray icon now comes from the left click
    // whose press closed the panel: a tray that activates on release sends
    // it after the press has started the fade, or even after the fade has
    // ended. True once for that click; any later press starts afresh.
    bool takeClosingClick();

  private:
    void windowDidResize();
    void finishClose();
    void outsideClick(bool left);
    // Without a monitor: closes once no window of the program is active.
    void closeIfProgramInactive();
    void leftRelease();
    // Ends the watch for the closing click's activation.
    void forgetClosingClick();
    void stopMonitor();

    DefaultsStore& store_;
    Environment env_;
    std::unique_ptr<PanelWindow> window_;
    std::unique_ptr<ClickMonitor> eventMonitor_;
    QPointer<QPropertyAnimation> fade_;
    bool isShown_ = false;
    bool closeOnDeactivation_ = false;
    // The left click that closed the panel: held, or released at a time.
    enum class ClosingClick { none, held, released } closingClick_ = ClosingClick::none;
    std::chrono::steady_clock::time_point releasedAt_;
    int preferredHeight_ = 320;
};

}  // namespace lumora::panel
