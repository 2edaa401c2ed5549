#include "HashCommand.h"

#include "cloud/DropboxFileHasher.h"
#include "cloud/MD5FileHasher.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace norvela::cli {

namespace {

// Why a file could not be hashed, in the words of the system.
QString unreadableReason(const QString& path) {
    if (QFileInfo(path).isDir())
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return QStringLiteral("cannot be read");
}

} // namespace

QCoro::Task<int> hashCommand(QStringList args, Io io) {
    if (args.size() < 2 ||
        (args.first() != QLatin1String("dropbox") && args.first() != QLatin1String("md5"))) {
        io.err << "usage: norvela hash dropbox|md5 FILE...\n";
        co_return 2;
    }
    const DropboxFileHasher dropbox;
    const MD5FileHasher md5;
    const FileHasher& hasher = args.takeFirst() == QLatin1String("dropbox")
                                   ? static_cast<const FileHasher&>(dropbox)
                                   : static_cast<const FileHasher&>(md5);
    int status = 0;
    for (const QString& path : args) {
        if (const auto digest = hasher.hash(path)) {
            io.out << *digest << "  " << path << '\n';
        } else {
            io.err << "norvela: " << path << ": " << unreadableReason(path) << '\n';
            status = 1;
        }
        io.out.flush();
    }
    co_return status;
}

} // namespace norvela::cli
