#pragma once
// The settings window: a toolbar with one button per pane above the chosen
// pane. A pane's widget is made afresh each time it is shown and destroyed
// when another takes its place, so panes start from the current settings.

#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/setting_keys.h"

class QAction;
class QActionGroup;
class QToolBar;
class QVBoxLayout;

namespace lumora::prefs {

struct PaneEntry {
    std::string id;
    QString title;
    // A name from the desktop's icon theme, and a bundled image used when
    // the theme has none.
    QString themeIcon;
    QString fallbackIcon;
    std::function<QWidget*(QWidget* parent)> make;
};

class PreferencesWindow : public QWidget {
    Q_OBJECT
  public:
    // The window frame is kept in `store` under "settingsWindowFrame".
    PreferencesWindow(std::vector<PaneEntry> panes, DefaultsStore& store,
                      QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    // Shows the pane `paneId` (the first pane when empty or unknown), made
    // afresh, and brings the window to the front on the current desktop.
    void show(const std::string& paneId = {});

    const std::string& currentPaneId() const { return current_; }
    QWidget* currentPane() const { return pane_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* paneAction(const std::string& id) const;

    static constexpr const char* kFrameKey = keys::settingsWindowFrame;

  protected:
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void selectPane(size_t index);
    void restoreFrame();
    void saveFrame();

    std::vector<PaneEntry> panes_;
    DefaultsStore& store_;
    QToolBar* toolBar_;
    QActionGroup* actions_;
    QVBoxLayout* body_;
    QWidget* pane_ = nullptr;
    std::string current_;
    bool frameRestored_ = false;
    bool shown_ = false;
    QTimer saveTimer_;
};

}  // namespace lumora::prefs
