#pragma once
// Where the panel goes: under the tray icon when the tray tells us where the
// icon is, at the point a StatusNotifierItem host passed with the click, else
// at the pointer. Screen coordinates with y growing downwards.

#include <QPoint>
#include <QRect>
#include <optional>

namespace lumora::panel {

// The gap between the tray and the panel, and between the panel and the
// screen's right edge.
inline constexpr int kPanelMargin = 5;
inline constexpr int kDefaultPanelHeight = 280;
// A host's point this close to a screen edge is taken as inside a bar along
// that edge.
inline constexpr int kBarReach = 48;

struct PlacementInput {
    // The icon's rectangle; none (or empty) where the tray gives none.
    std::optional<QRect> icon;
    // Where a StatusNotifierItem host said the click on the icon was; used
    // when there is no icon rectangle.
    std::optional<QPoint> hostPoint;
    // The pointer, used when there is neither.
    QPoint pointer;
    // The available area of the screen that holds the icon or the point;
    // an empty rectangle when no screen does.
    QRect screen;
    // That whole screen; empty for the same as `screen`.
    QRect fullScreen;
    int width = 200;
    double preferredHeight = 0;
};

// The panel's frame.
QRect panelFrame(const PlacementInput& in);

}  // namespace lumora::panel
