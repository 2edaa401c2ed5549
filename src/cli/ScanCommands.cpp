#include "ScanCommands.h"

#include "sync/FolderScanner.h"
#include "sync/MignoreRules.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela::cli {

namespace {

const char* const scanUsage = "usage: norvela scan FOLDER [--count]\n";
const char* const checkIgnoreUsage = "usage: norvela check-ignore FOLDER PATH...\n";

// Why `folder` cannot be scanned, in the words of the system; none when it can.
std::optional<QString> folderProblem(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return std::nullopt;
}

// `path` relative to `folder`, without "." segments or empty components; none when it leads
// outside the folder.
std::optional<QString> pathInFolder(const QString& folder, const QString& path) {
    const QString cleanFolder = QDir::cleanPath(QDir(folder).absolutePath());
    QString relative = QDir::isAbsolutePath(path) ? QDir(cleanFolder).relativeFilePath(QDir::cleanPath(path))
                                                  : QDir::cleanPath(path);
    if (relative == QLatin1String("."))
        relative.clear();
    if (relative == QLatin1String("..") || relative.startsWith(QLatin1String("../")) ||
        QDir::isAbsolutePath(relative))
        return std::nullopt;
    return relative;
}

// The folder's rules, or none after saying why its .mignore cannot be read: the answer would
// otherwise pretend nothing is ignored.
std::optional<MignoreRules> readRules(const QString& folder, const Io& io) {
    auto rules = MignoreRules::fromRoot(folder);
    if (const auto* problem = std::get_if<QString>(&rules)) {
        io.err << "norvela: " << folder << "/.mignore: " << *problem << '\n';
        return std::nullopt;
    }
    return std::get<MignoreRules>(std::move(rules));
}

bool isDirectoryEntry(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the scan would leave `relative` out: it is ignored itself, or a directory above it
// is and the scan never enters that directory.
bool wouldBeIgnored(const MignoreRules& rules, const QString& relative, bool isDirectory) {
    for (qsizetype slash = relative.indexOf(u'/'); slash >= 0; slash = relative.indexOf(u'/', slash + 1)) {
        if (rules.isIgnored(relative.first(slash), true))
            return true;
    }
    return rules.isIgnored(relative, isDirectory);
}

} // namespace

QCoro::Task<int> scanCommand(QStringList args, Io io) {
    const bool countOnly = args.removeAll(QStringLiteral("--count")) > 0;
    if (args.size() != 1 || args.first().isEmpty() || args.first().startsWith(u'-')) {
        io.err << scanUsage;
        co_return 2;
    }
    const QString folder = args.first();
    if (const auto problem = folderProblem(folder)) {
        io.err << "norvela: " << folder << ": " << *problem << '\n';
        co_return 1;
    }

    const std::optional<MignoreRules> rules = readRules(folder, io);
    if (!rules)
        co_return 1;
    QList<UnsendableName> unsendable;
    const QList<ScannedFile> files = FolderScanner::scan(folder, &*rules, &unsendable);
    for (const UnsendableName& name : unsendable)
        io.err << "norvela: not sent: " << name.relativePath << " (" << name.reason << ")\n";
    if (countOnly) {
        io.out << files.size() << '\n';
        co_return 0;
    }
    QList<QByteArray> paths;
    paths.reserve(files.size());
    for (const ScannedFile& file : files)
        paths.append(file.relativePath.toUtf8());
    std::sort(paths.begin(), paths.end());
    for (const QByteArray& path : paths)
        io.out << QString::fromUtf8(path) << '\n';
    co_return 0;
}

QCoro::Task<int> checkIgnoreCommand(QStringList args, Io io) {
    if (args.size() < 2 || args.first().isEmpty()) {
        io.err << checkIgnoreUsage;
        co_return 2;
    }
    const QString folder = args.takeFirst();
    QStringList relatives;
    for (const QString& path : std::as_const(args)) {
        const auto relative = pathInFolder(folder, path);
        if (!relative) {
            io.err << "norvela: " << path << ": outside " << folder << '\n';
            co_return 2;
        }
        relatives.append(*relative);
    }
    if (const auto problem = folderProblem(folder)) {
        io.err << "norvela: " << folder << ": " << *problem << '\n';
        co_return 1;
    }

    const std::optional<MignoreRules> rules = readRules(folder, io);
    if (!rules)
        co_return 1;
    bool anyIgnored = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const bool isDirectory = args[i].endsWith(u'/') ||
                                 (!relatives[i].isEmpty() && isDirectoryEntry(folder + u'/' + relatives[i]));
        if (wouldBeIgnored(*rules, relatives[i], isDirectory)) {
            io.out << args[i] << '\n';
            anyIgnored = true;
        }
    }
    co_return anyIgnored ? 0 : 1;
}

} // namespace norvela::cli
