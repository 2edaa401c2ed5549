#include "sync/FileKind.h"

#include <gtest/gtest.h>

using namespace norvela;

TEST(FileKind, ChipComesFromTheLowerCasedExtension) {
    const std::pair<QString, QString> cases[] = {{"Report.PDF", "PDF"},
                                                 {"data.csv", "XLS"},
                                                 {"budget.Numbers", "XLS"},
                                                 {"photo.jpeg", "JPE"},
                                                 {"notes", "FILE"},
                                                 {".bashrc", "FILE"},
                                                 {"archive.tar.gz", "GZ"},
                                                 {"main.c", "C"},
                                                 {"trailing.", "FILE"},
                                                 {"design.sketch", "SK"},
                                                 {"board.FIG", "FIG"},
                                                 {"v1.2/readme", "FILE"},
                                                 {"..hidden", "HID"},
                                                 {QString::fromUtf8("x.ébc😀d"), QString::fromUtf8("ÉBC")},
                                                 {QString::fromUtf8("x.😀😀😀😀"), QString::fromUtf8("😀😀😀")}};
    for (const auto& [name, chip] : cases)
        EXPECT_EQ(FileKind(name).chip, chip) << name.toStdString();
}

TEST(FileKind, ColoursForBothAppearances) {
    const auto rgba = [](const QColor& c) {
        return std::make_tuple(c.red(), c.green(), c.blue(), qRound(c.alphaF() * 100));
    };
    EXPECT_EQ(rgba(FileKind("a.sketch").background(true)), std::make_tuple(194, 65, 12, 22));
    EXPECT_EQ(rgba(FileKind("a.pdf").background(false)), std::make_tuple(254, 226, 226, 100));
    EXPECT_EQ(FileKind("a.xlsx").foreground(false), QColor(0x15, 0x80, 0x3D));
    EXPECT_EQ(FileKind("a.fig").foreground(true), QColor(0xA7, 0x8B, 0xFA));
    EXPECT_EQ(rgba(FileKind("a.zip").background(false)), std::make_tuple(10, 130, 255, 10));
}
