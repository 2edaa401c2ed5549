#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

namespace norvela::IconTable {

// The glyph (in the embedded Material Icons font) for one of the app's symbol names
// ("wind", "pause.fill", "link", …); a question-mark glyph for an unknown name.
QString glyph(const QString& symbolName);

// The embedded icon font at a pixel size.
QFont font(int pixelSize);

// A symbol drawn as an icon, for places that take images (the tray).
QIcon icon(const QString& symbolName, const QColor& color, int size = 64);

} // namespace norvela::IconTable
