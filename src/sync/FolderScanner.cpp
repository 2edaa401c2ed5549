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
    QList<UnsendableName>* unsendable = nullptr;
};

bool isIgnoredName(const char* name) {
    // The names of Finder metadata files; the first two are hidden anyway.
    return std::strcmp(name, "Icon\r") == 0 || std::strcmp(name, ".DS_Store") == 0 ||
           std::strcmp(name, ".localized") == 0;
}

// A name the services cannot take is reported, never decoded into another name (the
// decoder would put U+FFFD where the bytes are not UTF-8) that then leads nowhere.
void noteUnsendable(Walk& walk, int dirFd, const char* name, const QString& relativeDir,
                    const QString& problem) {
    if (!walk.unsendable)
        return;
    struct stat st {};
    ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW);
    const QString shown = displayName(name);
    walk.unsendable->append(
        {relativeDir.isEmpty() ? shown : relativeDir % u'/' % shown, problem, FileStamp::of(st)});
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
        const std::optional<QString> problem = nameProblem(name);
        if (type == DT_DIR) {
            QBitArray below;
            if (walk.rules) {
                below = walk.rules->directoryMatches(matches, relativePath);
                if (walk.rules->ignores(below))
                    continue; // pruned: never opened
            }
            if (problem) {
                noteUnsendable(walk, dirFd, name, relativeDir, *problem);
                continue;
            }
            const int child = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                walkDirectory(walk, child, relativePath, below);
            continue;
        }

        if (walk.rules && walk.rules->isFileIgnored(matches, relativePath))
            continue;
        if (problem) {
            noteUnsendable(walk, dirFd, name, relativeDir, *problem);
            continue;
        }
        if (!haveStat && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode)) // replaced since it was listed
            continue;
        walk.files.append(ScannedFile{relativePath, walk.rootPath % u'/' % relativePath, FileStamp::of(st)});
    }
    ::closedir(dir);
}

} // namespace

QList<ScannedFile> scan(const QString& root, const MignoreRules* rules, QList<UnsendableName>* unsendable) {
    if (root.isEmpty())
        return {};
    Walk walk;
    walk.unsendable = unsendable;
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

std::optional<QString> nameProblem(QByteArrayView name) {
    if (!name.isValidUtf8())
        return QStringLiteral("name is not valid UTF-8");
    if (name.size() > maxNameBytes)
        return QStringLiteral("name is longer than %1 bytes").arg(maxNameBytes);
    return std::nullopt;
}

QString displayName(QByteArrayView name) {
    QString shown;
    for (qsizetype i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const qsizetype length = lead < 0x80   ? 1
                                 : lead < 0xc2 ? 0
                                 : lead < 0xe0 ? 2
                                 : lead < 0xf0 ? 3
                                 : lead < 0xf5 ? 4
                                               : 0;
        if (length > 0 && i + length <= name.size() && name.sliced(i, length).isValidUtf8()) {
            shown += QString::fromUtf8(name.sliced(i, length));
            i += length;
            continue;
        }
        shown +=
            QStringLiteral("\\x") + QString::number(lead, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        ++i;
    }
    return shown;
}

} // namespace norvela::FolderScanner
