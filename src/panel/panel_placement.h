#pragma once
// Where the panel goes: under the tray icon when the tray tells us where the
// icon is, else at the pointer. Screen coordinates with y growing downwards.

#include <QPoint>
#include <QRect>
#include <optional>

namespace lumora::panel {

// The gap between the tray and the panel, and between the panel and the
// screen's right edge.
inline constexpr int kPanelMargin = 5;
inline constexpr int kDefaultPanelHeight = 280;

struct PlacementInput {
    // The icon's rectangle; none (or empty) where the tray gives none.
    std::optional<QRect> icon;
    // The pointer, used when there is no icon rectangle.
    QPoint pointer;
    // The available area of the screen that holds the icon or the pointer;
    // an empty rectangle when no screen does.
    QRect screen;
    int width = 200;
    double preferredHeight = 0;
};

// The panel's frame.
QRect panelFrame(const PlacementInput& in);

}  // namespace lumora::panel
