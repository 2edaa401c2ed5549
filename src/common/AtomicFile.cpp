#include "AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela::AtomicFile {

bool write(const QString& path, const QByteArray& data, int mode, Durability durability, QString* error) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray tmpl = target + ".tmp-XXXXXX";
    auto fail = [&] {
        if (error)
            *error =
                QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(" (") + path + QLatin1Char(')');
        return false;
    };
    const int fd = ::mkstemp(tmpl.data()); // created 0600
    if (fd < 0)
        return fail();

    bool ok = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
    const char* cursor = data.constData();
    qint64 left = data.size();
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, cursor, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        cursor += written;
        left -= written;
    }
    if (durability == Durability::Synced)
        ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmpl.constData(), target.constData()) == 0;
    if (ok)
        return true;
    const int cause = errno;
    ::unlink(tmpl.constData());
    errno = cause;
    return fail();
}

void moveAside(const QString& path, const QString& tag) {
    const QString base = path + QLatin1Char('.') + tag + QLatin1Char('-') +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    QString aside = base;
    // QFile::rename never replaces a file: a second damaged file within the same second
    // needs its own name.
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(path, aside))
        QFile::setPermissions(aside, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace norvela::AtomicFile
