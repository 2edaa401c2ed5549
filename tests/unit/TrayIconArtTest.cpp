#include "app/TrayIconArt.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

constexpr TrayState allStates[] = {TrayState::idle, TrayState::syncing, TrayState::paused, TrayState::error};

} // namespace

TEST(TrayIconArt, EveryStateRendersAtEverySizeAsADistinctGlyphInItsVariantsInk) {
    for (const auto variant : {TrayIconArt::Variant::forDarkPanel, TrayIconArt::Variant::forLightPanel})
        for (const int size : TrayIconArt::sizes)
            for (const qreal ratio : {1.0, 2.0}) {
                QList<QImage> images;
                for (const TrayState state : allStates) {
                    const QPixmap pixmap = TrayIconArt::render(state, variant, size, ratio);
                    SCOPED_TRACE(testing::Message() << "state " << int(state) << " variant " << int(variant)
                                                    << " size " << size << "@" << ratio);
                    EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(size, size));
                    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
                    ASSERT_EQ(image.size(), QSize(size, size) * ratio);
                    ASSERT_TRUE(image.hasAlphaChannel());
                    int inked = 0, clear = 0;
                    for (int y = 0; y < image.height(); ++y)
                        for (int x = 0; x < image.width(); ++x) {
                            const QColor pixel = image.pixelColor(x, y);
                            clear += pixel.alpha() == 0;
                            if (pixel.alpha() >= 128) {
                                ++inked;
                                EXPECT_EQ(pixel.lightnessF() > 0.5,
                                          variant == TrayIconArt::Variant::forDarkPanel);
                            }
                        }
                    const int area = image.width() * image.height();
                    EXPECT_GT(inked, area / 10);
                    EXPECT_GT(clear, area / 3); // a glyph, not a filled square
                    for (const QImage& other : images)
                        EXPECT_NE(image, other); // the emblem tells the state
                    images.append(image);
                }
            }
}

TEST(TrayIconArt, VariantFollowsThePalette) {
    const struct {
        QColor window, text;
        TrayIconArt::Variant expected;
    } rows[] = {
        {QColor(0x20, 0x20, 0x20), Qt::white, TrayIconArt::Variant::forDarkPanel},
        {QColor(0xf0, 0xf0, 0xf0), Qt::black, TrayIconArt::Variant::forLightPanel},
        {QColor(0x90, 0x90, 0x90), Qt::white, TrayIconArt::Variant::forDarkPanel}, // text lighter than window
        {QColor(0x90, 0x90, 0x90), Qt::black, TrayIconArt::Variant::forLightPanel},
    };
    for (const auto& row : rows) {
        QPalette palette;
        palette.setColor(QPalette::Window, row.window);
        palette.setColor(QPalette::WindowText, row.text);
        EXPECT_EQ(TrayIconArt::variantFor(palette), row.expected) << qPrintable(row.window.name());
    }
}
