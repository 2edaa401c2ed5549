#pragma once

#include "TrayState.h"

#include <QIcon>
#include <QPalette>
#include <QPixmap>

#include <array>

namespace norvela::TrayIconArt {

// Trays show a monochrome glyph: light on dark panels, dark on light ones.
enum class Variant { forDarkPanel, forLightPanel };

// The sizes trays ask for: XEmbed paints 22, StatusNotifierItem hosts scale from up to 64.
inline constexpr std::array<int, 6> sizes{16, 22, 24, 32, 48, 64};

// The "wind" symbol with the state's emblem in its lower right corner (syncing: circling
// arrows, paused: two bars, error: "!"), so no state is told by colour alone.
QPixmap render(TrayState state, Variant variant, int size, qreal devicePixelRatio);

// Every size at device pixel ratios 1 and 2, as pixmaps: trays that get an icon made from
// vector data may not show it.
QIcon icon(TrayState state, Variant variant);

// The panel's colours are not known; the desktop's palette is the best guess at them.
Variant variantFor(const QPalette& palette);

} // namespace norvela::TrayIconArt
