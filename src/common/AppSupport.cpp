#include "AppSupport.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace norvela::AppSupport {

QString devHookDirectory() {
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Norvela");
    QDir().mkpath(dir);
    return dir;
}

QString dataDirectory() {
    if (qEnvironmentVariableIsSet("NORVELA_APP_SUPPORT_DIR"))
        return qEnvironmentVariable("NORVELA_APP_SUPPORT_DIR");
    return devHookDirectory();
}

void writeDiagnosticFile(const QString& name, const QString& text) {
    AtomicFile::write(devHookDirectory() + QLatin1Char('/') + name, text.toUtf8());
}

void breadcrumb(const QString& message) {
    if (qEnvironmentVariable("NORVELA_DUMP_STATE") != QLatin1String("1"))
        return;
    const QString path = devHookDirectory() + QStringLiteral("/breadcrumbs.txt");
    const QByteArray line = message.toUtf8() + '\n';
    QFile file(path);
    if (file.exists() && file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line);
        return;
    }
    AtomicFile::write(path, line);
}

} // namespace norvela::AppSupport
