#include "RuntimeDirectory.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela::RuntimeDirectory {

namespace {

QString location() {
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (xdg.startsWith('/') && ::stat(xdg.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        ::access(xdg.constData(), W_OK | X_OK) == 0)
        return QFile::decodeName(xdg) + QStringLiteral("/norvela");
    return QStringLiteral("/tmp/norvela-%1").arg(::geteuid());
}

std::nullopt_t refuse(QString* error, const QString& text) {
    if (error)
        *error = text;
    return std::nullopt;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

std::optional<QString> ensure(QString* error) {
    const QString path = location();
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return refuse(error, QStringLiteral("Couldn't create %1: %2").arg(path, systemError()));

    // Checked through the open descriptor, so the folder cannot be swapped between the check
    // and the chmod; O_NOFOLLOW refuses a symlink in its place.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return refuse(error, QStringLiteral("%1 is not a directory").arg(path));
        return refuse(error, QStringLiteral("Couldn't open %1: %2").arg(path, systemError()));
    }
    struct stat info {};
    std::optional<QString> result;
    if (::fstat(fd, &info) != 0)
        refuse(error, QStringLiteral("Couldn't inspect %1: %2").arg(path, systemError()));
    else if (info.st_uid != ::geteuid())
        refuse(error, QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(info.st_uid));
    else if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)
        refuse(error, QStringLiteral("Couldn't make %1 private: %2").arg(path, systemError()));
    else
        result = path;
    ::close(fd);
    return result;
}

} // namespace norvela::RuntimeDirectory
