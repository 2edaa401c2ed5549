#include "FileKinds.h"

#include "sync/FileKind.h"

namespace norvela {

QString FileKinds::label(const QString& fileName) const {
    return FileKind(fileName).chip;
}

QColor FileKinds::background(const QString& fileName, bool dark) const {
    return FileKind(fileName).background(dark);
}

QColor FileKinds::foreground(const QString& fileName, bool dark) const {
    return FileKind(fileName).foreground(dark);
}

} // namespace norvela
