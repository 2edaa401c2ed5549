#include "LocalFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

namespace norvela {

namespace {

constexpr int fileFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

QString systemReason(int error) {
    if (error == ELOOP)
        return QStringLiteral("is a symbolic link, or lies behind one");
    if (error == EXDEV)
        return QStringLiteral("lies outside the folder");
    return QString::fromLocal8Bit(std::strerror(error));
}

// The kernel resolves the whole path below the root, refusing any link and any way out.
int openBeneath(int rootFd, const QByteArray& relative) {
#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
    open_how how{};
    how.flags = fileFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd, relative.constData(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return int(fd);
#endif
    // Older kernels (or a sandbox that forbids the call): one component at a time, each
    // refusing to follow a link.
    int dirFd = ::dup(rootFd);
    const QList<QByteArray> parts = relative.split('/');
    for (qsizetype i = 0; dirFd >= 0 && i < parts.size(); ++i) {
        const QByteArray& part = parts[i];
        const bool last = i == parts.size() - 1;
        const int next =
            ::openat(dirFd, part.constData(),
                     last ? fileFlags | O_NOFOLLOW : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int cause = errno;
        ::close(dirFd);
        errno = cause;
        dirFd = next;
    }
    return dirFd;
}

} // namespace

std::variant<std::shared_ptr<const LocalFile>, QString> LocalFile::open(const QString& root,
                                                                        const QString& relativePath) {
    // Relative paths come from scans: plain names only, whichever way the kernel resolves.
    for (const QString& part : relativePath.split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("is not a plain path below the folder");
    // The root itself may be a link the user chose to sync; below it, nothing may be.
    const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return QStringLiteral("the folder cannot be opened: ") + systemReason(errno);
    const int fd = openBeneath(rootFd, QFile::encodeName(relativePath));
    const int cause = errno;
    ::close(rootFd);
    if (fd < 0)
        return systemReason(cause);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return QStringLiteral("is not a regular file");
    }
    return std::shared_ptr<const LocalFile>(
        new LocalFile(fd, root + QLatin1Char('/') + relativePath, FileStamp::of(st)));
}

LocalFile::LocalFile(int fd, QString path, FileStamp stamp)
    : m_fd(fd), m_path(std::move(path)), m_stamp(stamp) {}

LocalFile::~LocalFile() {
    ::close(m_fd);
}

qint64 LocalFile::read(qint64 offset, char* into, qint64 length) const {
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, into + done, size_t(length - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::optional<FileStamp> LocalFile::stampNow() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return FileStamp::of(st);
}

} // namespace norvela
