#include "AppSupport.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace norvela::AppSupport {

namespace {

constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions othersMay = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                         QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

} // namespace

void ensurePrivateDirectory(const QString& path) {
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        // Missing folders above are made owner-only too, as the XDG base directory rules ask.
        for (qsizetype slash = native.indexOf('/', 1); slash > 0; slash = native.indexOf('/', slash + 1))
            ::mkdir(native.left(slash).constData(), 0700);
        ::mkdir(native.constData(), 0700);
        return;
    }
    if (S_ISDIR(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), st.st_mode & 0700);
}

QString devHookDirectory() {
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Norvela");
    ensurePrivateDirectory(dir);
    return dir;
}

QString dataDirectory() {
    if (!qEnvironmentVariableIsSet("NORVELA_APP_SUPPORT_DIR"))
        return devHookDirectory();
    const QString dir = qEnvironmentVariable("NORVELA_APP_SUPPORT_DIR");
    ensurePrivateDirectory(dir);
    return dir;
}

void writeDiagnosticFile(const QString& name, const QString& text) {
    AtomicFile::write(devHookDirectory() + QLatin1Char('/') + name, text.toUtf8(), 0600);
}

void breadcrumb(const QString& message) {
    if (qEnvironmentVariable("NORVELA_DUMP_STATE") != QLatin1String("1"))
        return;
    const QString path = devHookDirectory() + QStringLiteral("/breadcrumbs.txt");
    const QByteArray line = message.toUtf8() + '\n';
    QFile file(path);
    if (file.exists() && file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (file.permissions() & othersMay) // left open by an older version
            file.setPermissions(ownerOnly);
        file.write(line);
        return;
    }
    AtomicFile::write(path, line, 0600);
}

} // namespace norvela::AppSupport
