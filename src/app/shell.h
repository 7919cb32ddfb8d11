#pragma once
// What the application logic needs from windows, the status item, the menu
// and the browser. The Qt layer implements it; tests fake it; lumora-ctl has
// none.

#include <cstdint>
#include <string>

namespace lumora {

class Shell {
  public:
    virtual ~Shell() = default;
    // Makes the panel's view, the status item, the panel window and the
    // context menu; called once during start-up, after the settings loaded.
    virtual void buildInterface() = 0;
    // The panel should take this height (points).
    virtual void repositionWindow(double preferredHeight) = 0;
    virtual void openURL(const std::string& url) = 0;

    // True from showing the panel until its fade-out has ended.
    virtual bool isPanelShown() const = 0;
    virtual void showPanel(std::int64_t preferredHeight) = 0;
    virtual void closePanel() = 0;
    // Attaches the context menu to the status item and pops it up.
    virtual void popUpContextMenu() = 0;

    virtual void showWelcomeWindow() = 0;
    virtual void showDebugWindow() = 0;
    // The settings window at its default pane.
    virtual void showSettings() = 0;
};

}  // namespace lumora
