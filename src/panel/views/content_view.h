#pragma once
// The panel's root view: title bar, the LIGHTS/ROOMS switcher and the body
// with the active list or a short explanation.

#include <QWidget>
#include <functional>
#include <string>

#include "app/app_settings.h"
#include "bridge/commands.h"

class QLabel;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

namespace lumora::ui {
class IconButton;
class PanelTab;
}  // namespace lumora::ui

namespace lumora::panel {

using ui::IconButton;
using ui::PanelTab;

struct PanelActions {
    std::function<void()> closePanel;
    std::function<void()> showSettings;  // the settings window at its default pane
    std::function<void()> connectToBridge;
    std::function<void(const std::string&)> openURL;
    std::string reviewURL;  // the page for writing a review
    std::string version;    // the release version
};

// The panel's width in points.
constexpr int kPanelWidth = 200;

class ContentView : public QWidget {
    Q_OBJECT
  public:
    ContentView(AppSettings& settings, CommandQueue& commands, PanelActions actions,
                QWidget* parent = nullptr);
    ~ContentView() override;

    // "ListLights", "ListGroups", "ListScenes", "NoLights", "NoGroups" or "NoScenes".
    QString bodyName() const;
    QWidget* body() const { return body_; }
    bool showsWelcomeTitle() const;
    PanelTab* lightsTab() const { return lightsTab_; }
    PanelTab* roomsTab() const { return roomsTab_; }
    IconButton* settingsButton() const { return gear_; }
    IconButton* reviewButton() const { return heart_; }
    QPushButton* welcomeSettingsButton() const { return welcomeSettings_; }
    QPushButton* connectButton() const { return connect_; }
    QLabel* warningLabel() const { return warning_; }
    // Brings everything up to date now (normally on the next turn).
    void sync();

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void changeEvent(QEvent*) override;

  private:
    QWidget* makeWelcomeTitle();
    QWidget* makeRegularTitle();
    QWidget* makeEmptyState(const QString& first, int margin, bool linkWarning);
    void review();

    AppSettings& settings_;
    CommandQueue& commands_;
    PanelActions actions_;
    int observer_ = 0;
    bool queued_ = false;

    QWidget* welcomeTitle_ = nullptr;
    QWidget* regularTitle_ = nullptr;
    QLabel* plainTitle_ = nullptr;
    QWidget* reviewRequest_ = nullptr;
    IconButton* heart_ = nullptr;
    IconButton* gear_ = nullptr;
    QPushButton* welcomeSettings_ = nullptr;
    PanelTab* lightsTab_ = nullptr;
    PanelTab* roomsTab_ = nullptr;
    QVBoxLayout* bodyLayout_ = nullptr;
    QWidget* body_ = nullptr;
    QString bodyName_;
    QString bodyKey_;  // the name, and whether the link warning shows
    QLabel* warning_ = nullptr;
    QPushButton* connect_ = nullptr;
};

}  // namespace lumora::panel
