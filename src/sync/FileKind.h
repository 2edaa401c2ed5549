#pragma once

#include <QColor>
#include <QString>

namespace norvela {

// The badge drawn next to a file name: a short label and colours for both appearances.
struct FileKind {
    QString chip;
    QColor backgroundDark, backgroundLight;
    QColor foregroundDark, foregroundLight;

    explicit FileKind(const QString& fileName);

    QColor background(bool dark) const { return dark ? backgroundDark : backgroundLight; }
    QColor foreground(bool dark) const { return dark ? foregroundDark : foregroundLight; }
};

} // namespace norvela
