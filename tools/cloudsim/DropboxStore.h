#pragma once

#include "BlobStore.h"
#include "JsonStream.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

namespace cloudsim {

// One stored version of a Dropbox file.
struct DropboxRevision {
    QString rev;
    Blob blob;
    qint64 clientModifiedMs = 0;
    qint64 serverModifiedMs = 0;
};

struct DropboxFile {
    QString id;                       // "id:…", kept across revisions
    QString pathDisplay;              // the case the file was first stored with
    QList<DropboxRevision> revisions; // oldest first; the last one is the current content

    const DropboxRevision& current() const { return revisions.constLast(); }
    QString name() const { return pathDisplay.section(QLatin1Char('/'), -1); }
};

// What blocks a write at a path: nothing, a file where a folder is needed (an ancestor is a
// file), or a folder where the file would go.
enum class DropboxConflict { none, file, folder };

// The files, revisions and shared links of every Dropbox account. Paths are compared in lower
// case, as the service does; folders exist implicitly as the parents of files.
class DropboxStore {
public:
    const DropboxFile* file(const QString& accountId, const QString& pathLower) const;
    const DropboxFile* fileById(const QString& accountId, const QString& id) const;
    DropboxConflict conflictAt(const QString& accountId, const QString& pathLower) const;

    // Stores `blob` as the new current revision of the file at `path` (display case), creating
    // the file when there is none.
    const DropboxFile& commit(const QString& accountId, const QString& path, const Blob& blob,
                              qint64 clientModifiedMs, qint64 nowMs);
    qint64 usedBytes(const QString& accountId) const;
    // Deletes the file and its shared link; false when there is none.
    bool remove(const QString& accountId, const QString& pathLower);

    // The token of the file's shared link, or empty when it has none.
    QString linkToken(const QString& accountId, const QString& pathLower) const;
    QString createLink(const QString& accountId, const QString& pathLower);
    QStringList linkedPaths(const QString& accountId) const; // lower case, sorted
    // The file a link token leads to, in any account.
    const DropboxFile* fileForLink(const QString& token) const;

    QJsonObject listing(const QString& accountId) const;
    // The state to keep across restarts, written a file at a time; read back by fromJson.
    void writeJson(JsonStream& json) const;
    void fromJson(const QJsonObject& state);
    void reset();

private:
    struct Space {
        QMap<QString, DropboxFile> files; // by lower-case path
        QMap<QString, QString> links;     // lower-case path -> link token
        qint64 used = 0;                  // the sizes of the current revisions, kept as they change
    };

    QString newRev();

    QHash<QString, Space> m_spaces; // by account id
    quint64 m_revCounter = 0;
};

} // namespace cloudsim
