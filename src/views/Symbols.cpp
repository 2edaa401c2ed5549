#include "Symbols.h"

#include "IconTable.h"

#include <QFontInfo>

namespace norvela {

QString Symbols::family() const {
    return IconTable::font(16).family();
}

QString Symbols::glyph(const QString& name) const {
    if (!IconTable::knows(name))
        qWarning("Norvela: no symbol named \"%s\"", qPrintable(name));
    return IconTable::glyph(name);
}

} // namespace norvela
