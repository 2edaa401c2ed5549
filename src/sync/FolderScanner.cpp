#include "FolderScanner.h"

#include <QDir>
#include <QFile>
#include <QStringBuilder>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela::FolderScanner {

namespace {

struct Walk {
    const MignoreRules* rules = nullptr; // null when nothing can be ignored
    QString rootPath;
    QList<ScannedFile> files;
};

bool isIgnoredName(const char* name) {
    // The names of Finder metadata files; the first two are hidden anyway.
    return std::strcmp(name, "Icon\r") == 0 || std::strcmp(name, ".DS_Store") == 0 ||
           std::strcmp(name, ".localized") == 0;
}

QDateTime modificationTime(const struct stat& st) {
    const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// Takes ownership of `fd`. Each directory is read in one pass and entered as it is met.
void walkDirectory(Walk& walk, int fd, const QString& relativeDir, const QBitArray& matches) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.') // hidden, and "." and ".."
            continue;

        struct stat st;
        bool haveStat = false;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            haveStat = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type != DT_DIR && (type != DT_REG || isIgnoredName(name)))
            continue;

        const QString fileName = QFile::decodeName(name);
        const QString relativePath = relativeDir.isEmpty() ? fileName : relativeDir % u'/' % fileName;
        if (type == DT_DIR) {
            QBitArray below;
            if (walk.rules) {
                below = walk.rules->directoryMatches(matches, relativePath);
                if (walk.rules->ignores(below))
                    continue; // pruned: never opened
            }
            const int child = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                walkDirectory(walk, child, relativePath, below);
            continue;
        }

        if (walk.rules && walk.rules->isFileIgnored(matches, relativePath))
            continue;
        if (!haveStat && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode)) // replaced since it was listed
            continue;
        walk.files.append(ScannedFile{relativePath, walk.rootPath % u'/' % relativePath, qint64(st.st_size),
                                      modificationTime(st)});
    }
    ::closedir(dir);
}

} // namespace

QList<ScannedFile> scan(const QString& root, const MignoreRules* rules) {
    if (root.isEmpty())
        return {};
    Walk walk;
    walk.rootPath = QDir::cleanPath(QDir(root).absolutePath());
    // A root that is a symbolic link is followed; nothing below it is.
    const int fd = ::open(QFile::encodeName(walk.rootPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    if (rules && !rules->rules().isEmpty())
        walk.rules = rules;
    if (walk.rootPath == QLatin1String("/"))
        walk.rootPath.clear(); // so that paths below it start with a single "/"
    walkDirectory(walk, fd, QString(), QBitArray());
    return std::move(walk.files);
}

} // namespace norvela::FolderScanner
