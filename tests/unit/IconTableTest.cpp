#include "app/IconTable.h"

#include <QFontInfo>
#include <QFontMetrics>

#include <gtest/gtest.h>

using namespace norvela;

TEST(IconTable, EmbeddedFontHoldsTheTraySymbols) {
    const QFont font = IconTable::font(32);
    EXPECT_EQ(QFontInfo(font).family(), "Material Icons");
    const QFontMetrics metrics(font);
    for (const char* name : {"wind", "arrow.triangle.2.circlepath", "pause.fill", "exclamationmark"})
        EXPECT_TRUE(metrics.inFont(IconTable::glyph(QString::fromLatin1(name)).front())) << name;
    EXPECT_NE(IconTable::glyph(QStringLiteral("wind")), IconTable::glyph(QStringLiteral("no.such.symbol")));
}
