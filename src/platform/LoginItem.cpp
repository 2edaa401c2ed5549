#include "LoginItem.h"

#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace norvela::LoginItem {

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/norvela.desktop");
}

std::optional<QString> registerApp(const QString& executablePath) {
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Norvela\n"
                                         "Comment=Keeps your folders uploaded to the cloud\n"
                                         "Exec=\"%1\"\nIcon=norvela\nTerminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(executablePath);
    if (!AtomicFile::write(path, entry.toUtf8()))
        return QStringLiteral("cannot write %1").arg(path);
    return std::nullopt;
}

std::optional<QString> unregisterApp() {
    QFile file(entryPath());
    if (file.exists() && !file.remove())
        return file.errorString();
    return std::nullopt;
}

} // namespace norvela::LoginItem
