#include "panel/panel_placement.h"

#include <algorithm>

namespace lumora::panel {

namespace {

// The host tells where the click was, not where its bar ends. The point is
// inside the bar, so the bar runs from the screen's edge at least that far;
// an icon sits in the middle of its bar, so it ends about as far again. A
// work area that already leaves the bar out knows better.
QRect atHostPoint(const PlacementInput& in, QPoint p, int width, int height) {
    const QRect& s = in.screen;
    const QRect full = in.fullScreen.isEmpty() ? s : in.fullScreen;
    const int top = full.top(), bottom = full.bottom() + 1;
    const int left = full.left(), right = full.right() + 1;
    const int h = std::max(1, std::min(height, s.height() - 2 * kPanelMargin));
    const int w = width;
    auto clampX = [&](int x) {
        return std::clamp(x, s.left() + kPanelMargin,
                          std::max(s.left() + kPanelMargin, s.right() + 1 - w - kPanelMargin));
    };
    auto clampY = [&](int y) {
        return std::clamp(y, s.top() + kPanelMargin,
                          std::max(s.top() + kPanelMargin, s.bottom() + 1 - h - kPanelMargin));
    };
    // The far side of a bar along an edge `d` away from the point.
    auto barEnd = [](int d) { return d <= kBarReach ? 2 * d : d; };

    // Distances to the edges, the same way on every side.
    const int dLeft = p.x() - left, dRight = right - p.x();
    const int dTop = p.y() - top, dBottom = bottom - p.y();
    // A bar down a side of the screen: the panel beside it, level with the
    // point. In a corner the bar along the top or bottom is the likelier.
    if (std::min(dTop, dBottom) > kBarReach && std::min(dLeft, dRight) <= kBarReach) {
        const int x = dLeft <= dRight
                          ? std::max(s.left(), left + barEnd(dLeft)) + kPanelMargin
                          : std::min(s.right() + 1, right - barEnd(dRight)) - kPanelMargin - w;
        return {x, clampY(p.y() - h / 2), w, h};
    }
    // Under the bar in the top half, above it in the bottom half.
    const bool lowerHalf = p.y() > full.center().y();
    const int y = lowerHalf ? std::min(s.bottom() + 1, bottom - barEnd(dBottom)) - kPanelMargin - h
                            : std::max(s.top(), top + barEnd(dTop)) + kPanelMargin;
    return {clampX(p.x() - w / 2), clampY(y), w, h};
}

}  // namespace

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

    if (in.hostPoint && haveScreen) return atHostPoint(in, *in.hostPoint, width, height);

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
