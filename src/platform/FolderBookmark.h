#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace norvela::FolderBookmark {

// Stands in for a security-scoped bookmark: the folder's canonical path plus its device
// and inode. Resolving never yields a different path; a folder replaced by another one at
// the same path resolves as stale, so the caller re-saves it.
struct Resolved {
    QString path;
    bool stale = false;
};

std::optional<QByteArray> create(const QString& folderPath);
std::optional<Resolved> resolve(const QByteArray& data);

// Access needs no grant on this platform; it succeeds while the folder is there.
bool startAccess(const QString& path);
void stopAccess(const QString& path);

} // namespace norvela::FolderBookmark
