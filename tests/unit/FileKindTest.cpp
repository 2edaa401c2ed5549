#include "sync/FileKind.h"

#include <gtest/gtest.h>

using namespace norvela;

TEST(FileKind, ChipComesFromTheLowerCasedExtension) {
    const std::pair<QString, QString> cases[] = {{"Report.PDF", "PDF"},
                                                 {"data.csv", "XLS"},
                                                 {"photo.jpeg", "JPE"},
                                                 {"notes", "FILE"},
                                                 {".bashrc", "FILE"},
                                                 {"archive.tar.gz", "GZ"},
                                                 {"main.c", "C"},
                                                 {"trailing.", "FILE"},
                                                 {"v1.2/readme", "FILE"},
                                                 {"..hidden", "HID"},
                                                 {QString::fromUtf8("x.ébc😀d"), QString::fromUtf8("ÉBC")},
                                                 {QString::fromUtf8("x.😀😀😀😀"), QString::fromUtf8("😀😀😀")}};
    for (const auto& [name, chip] : cases)
        EXPECT_EQ(FileKind(name).chip, chip) << name.toStdString();
}
