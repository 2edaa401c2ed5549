#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace norvela {

// One monitor, in virtual-desktop coordinates.
struct ScreenArea {
    QRect geometry;  // the whole screen
    QRect available; // without the desktop's panels and docks
};

// Where the tray's dropdown panel goes. It hangs off the tray icon's centre when the tray
// reports the icon's geometry (XEmbed trays do, StatusNotifierItem trays leave it empty), else
// off the cursor; with neither it is centred on the primary screen. The taskbar is guessed to
// lie along the screen edge nearest that point, and the panel opens away from it, 4 pixels
// inside the screen's available area. A panel too large for that area is cut to fit (its
// content scrolls). `screens` lists the primary screen first.
QRect placePanel(const QRect& iconRect, const std::optional<QPoint>& cursor, const QList<ScreenArea>& screens,
                 const QSize& panelSize);

// The desktop's screens as they are now, the primary first.
QList<ScreenArea> desktopScreens();

} // namespace norvela
