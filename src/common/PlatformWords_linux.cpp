#include "PlatformWords.h"

namespace norvela::PlatformWords {

QString thisComputer() {
    return QStringLiteral("this computer");
}
QString fileManager() {
    return QStringLiteral("file manager");
}
QString terminal() {
    return QStringLiteral("a terminal");
}
QString menuBar() {
    return QStringLiteral("system tray");
}

} // namespace norvela::PlatformWords
