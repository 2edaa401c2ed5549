#include "Paths.h"

#include <QDir>

namespace norvela::Paths {

QString expandTilde(const QString& path) {
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

QString abbreviateHome(const QString& path) {
    // Only a whole leading home path is abbreviated: "/home/x" must not turn
    // "/home/xavier" into "~avier".
    const QString home = QDir::homePath();
    if (home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString standardized(const QString& path) {
    return QDir::cleanPath(path);
}

} // namespace norvela::Paths
