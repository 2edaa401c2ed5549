#include "PlatformWords.h"

namespace norvela::PlatformWords {

QString thisComputer() {
    return QStringLiteral("this Mac");
}
QString fileManager() {
    return QStringLiteral("Finder");
}
QString terminal() {
    return QStringLiteral("Terminal");
}
QString menuBar() {
    return QStringLiteral("menu bar");
}

} // namespace norvela::PlatformWords
