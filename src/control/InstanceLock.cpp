#include "InstanceLock.h"

#include "RuntimeDirectory.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace norvela {

namespace {

std::optional<QByteArray> lockPath(QString* error) {
    const auto directory = RuntimeDirectory::ensure(error);
    if (!directory)
        return std::nullopt;
    return QFile::encodeName(*directory + QStringLiteral("/instance.lock"));
}

pid_t readPid(int fd) {
    char text[32] = {};
    const ssize_t size = ::pread(fd, text, sizeof text - 1, 0);
    if (size <= 0)
        return 0;
    bool ok = false;
    const int pid = QByteArray(text, size).trimmed().toInt(&ok);
    return ok && pid > 0 ? pid : 0;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

std::variant<InstanceLock, InstanceLock::Held, QString> InstanceLock::acquire() {
    QString error;
    const auto path = lockPath(&error);
    if (!path)
        return error;
    const int fd = ::open(path->constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return QStringLiteral("Couldn't open %1: %2").arg(QFile::decodeName(*path), systemError());

    for (int attempt = 1;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            error = QStringLiteral("Couldn't lock %1: %2").arg(QFile::decodeName(*path), systemError());
            ::close(fd);
            return error;
        }
        if (attempt == 3) {
            const pid_t pid = readPid(fd);
            ::close(fd);
            return Held{pid};
        }
        // holder() takes the lock shared for an instant to look; a start must not fail on that.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Rewritten in place rather than atomically: the lock lives on this inode. A reader that
    // catches the file empty just learns no pid.
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), pid.size(), 0) != pid.size()) {
        error = QStringLiteral("Couldn't write %1: %2").arg(QFile::decodeName(*path), systemError());
        ::close(fd);
        return error;
    }
    return InstanceLock(fd);
}

std::optional<pid_t> InstanceLock::holder() {
    const auto path = lockPath(nullptr);
    if (!path)
        return std::nullopt;
    const int fd = ::open(path->constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::optional<pid_t> result;
    int locked;
    do
        locked = ::flock(fd, LOCK_SH | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK)
        result = readPid(fd);
    ::close(fd); // also drops the shared lock, if taken
    return result;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace norvela
