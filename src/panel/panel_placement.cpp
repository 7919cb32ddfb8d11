#include "panel/panel_placement.h"

#include <algorithm>

namespace lumora::panel {

QRect panelFrame(const PlacementInput& in) {
    const int width = in.width;
    const int height =
        in.preferredHeight > 0 ? static_cast<int>(in.preferredHeight) : kDefaultPanelHeight;
    const bool haveScreen = !in.screen.isEmpty();

    if (in.icon && !in.icon->isEmpty()) {
        const QRect& icon = *in.icon;
        // Centred under the icon; pulled in at the right edge only, so a
        // panel near the left edge may reach past the screen.
        int x = icon.x() + icon.width() / 2 - width / 2;
        if (haveScreen) {
            const int right = in.screen.x() + in.screen.width();
            if (x + width > right) x = right - width - kPanelMargin;
        }
        // A tray at the bottom of the screen opens the panel upwards.
        const bool bottomTray = haveScreen && icon.center().y() > in.screen.center().y();
        const int y = bottomTray ? icon.top() - kPanelMargin - height
                                 : icon.y() + icon.height() + kPanelMargin;
        return {x, y, width, height};
    }

    // No icon rectangle: at the pointer, inside the screen.
    int x = in.pointer.x() - width / 2;
    const bool lowerHalf = haveScreen && in.pointer.y() > in.screen.center().y();
    int y = lowerHalf ? in.pointer.y() - kPanelMargin - height : in.pointer.y() + kPanelMargin;
    if (haveScreen) {
        const QRect& s = in.screen;
        x = std::clamp(x, s.left() + kPanelMargin,
                       std::max(s.left() + kPanelMargin, s.right() + 1 - width - kPanelMargin));
        const int h = std::min(height, s.height() - 2 * kPanelMargin);
        y = std::clamp(y, s.top() + kPanelMargin,
                       std::max(s.top() + kPanelMargin, s.bottom() + 1 - h - kPanelMargin));
        return {x, y, width, std::max(h, 1)};
    }
    return {x, y, width, height};
}

}  // namespace lumora::panel
