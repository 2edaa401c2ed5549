#include "TrayIconArt.h"

#include "views/IconTable.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <optional>

namespace norvela::TrayIconArt {

namespace {

std::optional<QString> emblemSymbol(TrayState state) {
    switch (state) {
    case TrayState::idle:
        return std::nullopt;
    case TrayState::syncing:
        return QStringLiteral("arrow.triangle.2.circlepath");
    case TrayState::paused:
        return QStringLiteral("pause.fill");
    case TrayState::error:
        return QStringLiteral("exclamationmark");
    }
    return std::nullopt;
}

QColor ink(Variant variant) {
    return variant == Variant::forDarkPanel ? QColor(0xf5, 0xf5, 0xf5) : QColor(0x21, 0x21, 0x21);
}

} // namespace

QPixmap render(TrayState state, Variant variant, int size, qreal devicePixelRatio) {
    // Drawn in device pixels, so the glyphs are hinted for the size they are shown at.
    const int px = qRound(size * devicePixelRatio);
    QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setPen(ink(variant));
    painter.setFont(IconTable::font(px));
    painter.drawText(QRectF(0, 0, px, px), Qt::AlignCenter, IconTable::glyph(QStringLiteral("wind")));

    if (const auto emblem = emblemSymbol(state)) {
        // The font's glyphs keep a twelfth of their box empty on each side; the emblem's ink
        // sits in the corner, over the empty margin of the glyph beneath.
        const qreal inked = px * 0.56;
        const qreal offset = inked / 2 + px / 24.0; // arrow heads reach nearer the box's edge
        const QPointF centre(px - offset, px - offset);
        // A transparent ring keeps the emblem apart from the waves beneath.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        const qreal radius = inked / 2 + std::max(1.0, px / 18.0);
        painter.drawEllipse(centre, radius, radius);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(ink(variant));
        const qreal box = inked * 1.2;
        painter.setFont(IconTable::font(qRound(box)));
        painter.drawText(QRectF(centre.x() - box / 2, centre.y() - box / 2, box, box), Qt::AlignCenter,
                         IconTable::glyph(*emblem));
    }
    painter.end();

    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon icon(TrayState state, Variant variant) {
    QIcon result;
    for (const qreal ratio : {1.0, 2.0})
        for (const int size : sizes)
            result.addPixmap(render(state, variant, size, ratio));
    return result;
}

Variant variantFor(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    return window.lightnessF() < 0.5 || text.lightnessF() > window.lightnessF() ? Variant::forDarkPanel
                                                                                : Variant::forLightPanel;
}

} // namespace norvela::TrayIconArt
