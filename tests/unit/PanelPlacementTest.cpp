#include "app/PanelPlacement.h"

#include <gtest/gtest.h>

using namespace norvela;

TEST(PanelPlacement, OpensAwayFromTheTaskbarInsideTheScreenUnderTheIconOrCursor) {
    const QSize panel(340, 500);
    const ScreenArea topBar{{0, 0, 1920, 1080}, {0, 28, 1920, 1052}};
    const ScreenArea bottomBar{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}};
    const ScreenArea leftBar{{0, 0, 1920, 1080}, {48, 0, 1872, 1080}};
    const ScreenArea plain{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};
    const ScreenArea leftOfPrimaryRightBar{{-2560, -360, 2560, 1440}, {-2560, -360, 2512, 1440}};
    const ScreenArea abovePrimaryTopBar{{0, -1080, 1920, 1080}, {0, -1052, 1920, 1052}};
    const ScreenArea bigPrimaryRightOfOther{{1920, 0, 2560, 1440}, {1920, 0, 2560, 1440}};
    const ScreenArea laptop{{0, 0, 1366, 768}, {0, 0, 1366, 740}};
    const struct {
        const char* name;
        QList<ScreenArea> screens; // the primary first
        QRect icon;
        std::optional<QPoint> cursor;
        QSize size;
        QRect expected;
    } rows[] = {
        // Under the icon, pushed left off the screen's right edge.
        {"top, icon in the corner", {topBar}, {1880, 3, 22, 22}, QPoint(5, 5), panel, {1576, 32, 340, 500}},
        // StatusNotifierItem trays report no geometry: the cursor stands in for the icon.
        {"bottom, empty icon rect", {bottomBar}, {}, QPoint(1000, 1060), panel, {830, 536, 340, 500}},
        {"left, beside the icon", {leftBar}, {12, 900, 24, 24}, std::nullopt, panel, {52, 576, 340, 500}},
        {"right, second monitor at negative x",
         {plain, leftOfPrimaryRightBar},
         {},
         QPoint(-20, 700),
         panel,
         {-392, 450, 340, 500}},
        {"top, second monitor above the primary",
         {plain, abovePrimaryTopBar},
         {960, -1076, 22, 22},
         QPoint(100, 500),
         panel,
         {800, -1048, 340, 500}},
        {"icon on a monitor that has gone",
         {bottomBar},
         {2500, 1050, 22, 22},
         {},
         panel,
         {1576, 536, 340, 500}},
        {"opened without a click: centred on the primary",
         {bigPrimaryRightOfOther, plain},
         {},
         std::nullopt,
         panel,
         {3030, 470, 340, 500}},
        {"panel taller than the screen", {laptop}, {}, QPoint(1300, 760), {400, 1000}, {962, 4, 400, 732}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(placePanel(row.icon, row.cursor, row.screens, row.size), row.expected) << row.name;
}
