#pragma once
// The Advanced pane: start at login, the panel's display switches, live
// updates, the tray icon, and the ways to the help and feedback pages.

#include <QWidget>
#include <functional>
#include <string>

#include "app/app_settings.h"

class QPushButton;

namespace lumora {
class LaunchAtLogin;
}

namespace lumora::prefs {

class ImageSegments;
class SettingsForm;
class SettingsSwitch;

inline constexpr const char* kAppIconNames[] = {"Icon_Lamp0", "Icon_Lamp1", "Icon_Lamp2",
                                                "Icon_Lamp3"};

class AdvancedPane : public QWidget {
    Q_OBJECT
  public:
    // `setTrayIcon` puts the named icon on the tray (may be empty when there
    // is no tray); `openURL` opens an address in the browser; `siteBase` is
    // the product site ending in "/".
    AdvancedPane(AppSettings& settings, LaunchAtLogin& launchAtLogin,
                 std::function<void(const std::string&)> setTrayIcon,
                 std::function<void(const std::string&)> openURL, std::string siteBase,
                 QWidget* parent = nullptr);
    ~AdvancedPane() override;

    SettingsSwitch* runAtStart() const { return runAtStart_; }
    SettingsSwitch* colorBarsForRooms() const { return roomBars_; }
    SettingsSwitch* colorBarsForLights() const { return lightBars_; }
    SettingsSwitch* showScenePanel() const { return scenes_; }
    SettingsSwitch* showZones() const { return zones_; }
    SettingsSwitch* liveUpdates() const { return live_; }
    ImageSegments* appIcon() const { return icon_; }
    QPushButton* helpButton() const { return help_; }
    QPushButton* feedbackButton() const { return feedback_; }
    SettingsForm* form() const { return form_; }

  private:
    void chooseIcon(const std::string& name);
    void refresh();

    AppSettings& settings_;
    LaunchAtLogin& launchAtLogin_;
    std::function<void(const std::string&)> setTrayIcon_;
    int observer_ = 0;
    SettingsForm* form_;
    SettingsSwitch* runAtStart_;
    SettingsSwitch* roomBars_;
    SettingsSwitch* lightBars_;
    SettingsSwitch* scenes_;
    SettingsSwitch* zones_;
    SettingsSwitch* live_;
    ImageSegments* icon_;
    QPushButton* help_;
    QPushButton* feedback_;
};

}  // namespace lumora::prefs
