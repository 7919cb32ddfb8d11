#pragma once
// What the application logic needs from windows, the status item and the
// browser. The Qt layer implements it; tests and lumora-ctl use none or a fake.

#include <string>

namespace lumora {

class Shell {
public:
    virtual ~Shell() = default;
    // The panel should take this height (points).
    virtual void repositionWindow(double preferredHeight) = 0;
    virtual void openURL(const std::string& url) = 0;
};

}  // namespace lumora
