#include "PanelPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace norvela {

namespace {

constexpr int margin = 4;

enum class Edge { top, bottom, left, right };

Edge nearestEdge(const QRect& screen, const QPoint& p) {
    const std::pair<int, Edge> distances[] = {{p.y() - screen.top(), Edge::top},
                                              {screen.bottom() - p.y(), Edge::bottom},
                                              {p.x() - screen.left(), Edge::left},
                                              {screen.right() - p.x(), Edge::right}};
    return std::min_element(std::begin(distances), std::end(distances),
                            [](const auto& a, const auto& b) { return a.first < b.first; })
        ->second;
}

// Moves (and if need be shrinks) `panel` into `area` less the margin.
QRect clampInto(QRect panel, const QRect& area) {
    const QRect bounds = area.adjusted(margin, margin, -margin, -margin);
    panel.setSize(panel.size().boundedTo(bounds.size()));
    panel.moveLeft(std::clamp(panel.left(), bounds.left(), bounds.right() - panel.width() + 1));
    panel.moveTop(std::clamp(panel.top(), bounds.top(), bounds.bottom() - panel.height() + 1));
    return panel;
}

QRect usableArea(const ScreenArea& screen) {
    return screen.available.isValid() ? screen.available : screen.geometry;
}

} // namespace

QRect placePanel(const QRect& iconRect, const std::optional<QPoint>& cursor, const QList<ScreenArea>& screens,
                 const QSize& panelSize) {
    if (screens.isEmpty())
        return QRect(QPoint(0, 0), panelSize);
    QRect panel(QPoint(0, 0), panelSize);
    const bool hasIcon = iconRect.isValid();
    if (!hasIcon && !cursor) {
        panel.moveCenter(usableArea(screens.first()).center());
        return clampInto(panel, usableArea(screens.first()));
    }

    // The icon's own extent keeps the panel off it; a cursor is a point.
    const QRect anchor = hasIcon ? iconRect : QRect(*cursor, QSize(1, 1));
    const auto under = std::find_if(screens.cbegin(), screens.cend(), [&](const ScreenArea& s) {
        return s.geometry.contains(anchor.center());
    });
    const ScreenArea& screen = under == screens.cend() ? screens.first() : *under;
    // An icon left on a monitor that has gone counts as being at the primary's nearest point.
    const QPoint centre(std::clamp(anchor.center().x(), screen.geometry.left(), screen.geometry.right()),
                        std::clamp(anchor.center().y(), screen.geometry.top(), screen.geometry.bottom()));

    switch (nearestEdge(screen.geometry, centre)) {
    case Edge::top:
        panel.moveTopLeft({centre.x() - panel.width() / 2, anchor.bottom() + 1 + margin});
        break;
    case Edge::bottom:
        panel.moveBottomLeft({centre.x() - panel.width() / 2, anchor.top() - 1 - margin});
        break;
    case Edge::left:
        panel.moveTopLeft({anchor.right() + 1 + margin, centre.y() - panel.height() / 2});
        break;
    case Edge::right:
        panel.moveTopRight({anchor.left() - 1 - margin, centre.y() - panel.height() / 2});
        break;
    }
    return clampInto(panel, usableArea(screen));
}

QList<ScreenArea> desktopScreens() {
    QList<ScreenArea> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const ScreenArea area{screen->geometry(), screen->availableGeometry()};
        screen == primary ? areas.prepend(area) : areas.append(area);
    }
    return areas;
}

} // namespace norvela
