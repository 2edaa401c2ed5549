#pragma once

#include "DriveError.h"
#include "DriveFile.h"
#include "DriveQuery.h"
#include "JsonStream.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace cloudsim {

// Every account's Drive: folders and files by id under the account's root folder, with each
// file's revisions and permissions. Bytes live in the BlobStore; only their ids and hashes here.
class DriveStore {
public:
    // Revisions kept per file; older ones are pruned as the service does.
    static constexpr int maxRevisions = 100;

    // The id behind the alias "root", making the account's Drive on first use.
    QString rootId(const QString& account);
    // An item by id or by the alias "root"; null when the account has no such item.
    DriveFile* find(const QString& account, const QString& id);
    // Trashed itself or inside a trashed folder.
    bool isTrashed(const QString& account, const DriveFile& file) const;

    // Checks the metadata of a new item ("name", "mimeType", "parents") and fills `out`,
    // which is not stored until add().
    DriveError prepare(const QString& account, const QJsonObject& metadata, const QString& fallbackMimeType,
                       qint64 nowMs, DriveFile* out);
    DriveFile& add(const QString& account, DriveFile file);
    // A metadata update of an existing item: "name", "mimeType", "trashed". Parents are not
    // writable this way, as on the service.
    DriveError update(const QString& account, DriveFile& file, const QJsonObject& metadata, qint64 nowMs);
    void addRevision(const QString& account, DriveFile& file, const Blob& blob, qint64 nowMs);
    // Deletes the item and everything inside it.
    void remove(const QString& account, const QString& id);

    // Matching items in creation order; never the root folder itself.
    QList<const DriveFile*> search(const QString& account, const DriveQuery& query) const;
    // Bytes stored by the account, old revisions included.
    qint64 usage(const QString& account) const;

    // The API's resources, with every field this emulator knows.
    QJsonObject fileResource(const QString& account, const DriveFile& file) const;
    static QJsonObject revisionResource(const DriveFile& file, const DriveRevision& revision);
    static QJsonObject permissionResource(const DrivePermission& permission);

    QJsonObject listing(const QString& account) const; // the folder tree, for inspection
    // The state to keep across restarts, written an item at a time; read back by fromJson.
    void writeJson(JsonStream& json) const;
    void fromJson(const QJsonObject& state);
    void clear();

    static QString rfc3339(qint64 ms); // "2024-05-01T12:34:56.789Z"
    static QString newId(int length, const char* prefix = "");

private:
    struct Drive {
        QString rootId;
        QHash<QString, DriveFile> items;
        qint64 used = 0; // the sizes of every revision, kept as they change
    };
    const Drive* drive(const QString& account) const;
    Drive& driveFor(const QString& account);
    QJsonObject listingNode(const Drive& drive, const DriveFile& item) const;

    QHash<QString, Drive> m_drives;
    qint64 m_nextSequence = 1;
};

} // namespace cloudsim
