#include "app/IconTable.h"

#include <QFontInfo>
#include <QImage>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

// How many pixels of the drawn symbol are not transparent.
int inkedPixels(const QIcon& icon) {
    const QImage image = icon.pixmap(64, 64).toImage();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            inked += qAlpha(image.pixel(x, y)) > 0;
    return inked;
}

} // namespace

TEST(IconTable, EmbeddedFontDrawsTheTraySymbol) {
    EXPECT_EQ(QFontInfo(IconTable::font(32)).family(), "Material Icons");
    const QIcon wind = IconTable::icon(QStringLiteral("wind"), Qt::black);
    const int ink = inkedPixels(wind);
    EXPECT_GT(ink, 100);
    EXPECT_LT(ink, 64 * 64 / 2); // a glyph, not a filled box
    EXPECT_NE(IconTable::glyph(QStringLiteral("wind")), IconTable::glyph(QStringLiteral("no.such.symbol")));
    wind.pixmap(64, 64).save(QStringLiteral("tray-icon-wind.png"));
}
