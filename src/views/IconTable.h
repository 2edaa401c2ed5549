#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace norvela::IconTable {

// The glyph (in the embedded Material Icons font) for one of the app's symbol names
// ("wind", "pause.fill", "link", …); a question-mark glyph for an unknown name.
QString glyph(const QString& symbolName);
// Whether the table maps `symbolName`.
bool knows(const QString& symbolName);
// Every name the table maps.
QStringList names();

// The embedded icon font at a pixel size.
QFont font(int pixelSize);

} // namespace norvela::IconTable
