#include "views/IconTable.h"

#include <QFontInfo>
#include <QFontMetrics>

#include <gtest/gtest.h>

using namespace norvela;

TEST(IconTable, EverySymbolHasAGlyphInTheEmbeddedFont) {
    const QFont font = IconTable::font(32);
    EXPECT_EQ(QFontInfo(font).family(), "Material Icons");
    const QFontMetrics metrics(font);
    for (const QString& name : IconTable::names())
        EXPECT_TRUE(metrics.inFont(IconTable::glyph(name).front())) << name.toStdString();
    EXPECT_FALSE(IconTable::knows(QStringLiteral("no.such.symbol")));
    EXPECT_NE(IconTable::glyph(QStringLiteral("wind")), IconTable::glyph(QStringLiteral("no.such.symbol")));
}
