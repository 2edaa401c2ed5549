#include "FolderBookmark.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace norvela::FolderBookmark {

namespace {

std::optional<struct stat> statDirectory(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return st;
}

} // namespace

std::optional<QByteArray> create(const QString& folderPath) {
    const QString canonical = QFileInfo(folderPath).canonicalFilePath();
    if (canonical.isEmpty())
        return std::nullopt;
    const auto st = statDirectory(canonical);
    if (!st)
        return std::nullopt;
    const QJsonObject o{{QStringLiteral("path"), canonical},
                        {QStringLiteral("device"), QString::number(st->st_dev)},
                        {QStringLiteral("inode"), QString::number(st->st_ino)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Resolved> resolve(const QByteArray& data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QString path = o.value(QStringLiteral("path")).toString();
    bool devOk = false, inoOk = false;
    const qulonglong device = o.value(QStringLiteral("device")).toString().toULongLong(&devOk);
    const qulonglong inode = o.value(QStringLiteral("inode")).toString().toULongLong(&inoOk);
    if (path.isEmpty() || !devOk || !inoOk)
        return std::nullopt;
    const auto st = statDirectory(path);
    if (!st)
        return std::nullopt;
    const bool sameFolder = st->st_dev == device && st->st_ino == inode;
    return Resolved{path, !sameFolder};
}

bool startAccess(const QString& path) {
    return statDirectory(path).has_value();
}

void stopAccess(const QString&) {}

} // namespace norvela::FolderBookmark
