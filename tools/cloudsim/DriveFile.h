#pragma once

#include "BlobStore.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace cloudsim {

inline constexpr const char* driveFolderType = "application/vnd.google-apps.folder";

struct DriveRevision {
    QString id;
    qint64 modifiedMs = 0;
    Blob blob;
};

struct DrivePermission {
    QString id;
    QString role; // reader, commenter, writer, …
    QString type; // user, group, domain, anyone
    QString emailAddress;
    QString domain;
    bool allowFileDiscovery = false;
};

// One item of a Drive: a folder or a file. Files keep their content as a revision list,
// oldest first; the last one is the current content.
struct DriveFile {
    QString id;
    QString name;
    QString mimeType;
    QStringList parents;
    bool trashed = false; // trashed itself; an item inside a trashed folder counts as trashed too
    qint64 createdMs = 0;
    qint64 modifiedMs = 0;
    qint64 version = 1;
    qint64 sequence = 0; // creation order, which search results follow
    QList<DriveRevision> revisions;
    QList<DrivePermission> permissions;

    bool isFolder() const { return mimeType == QLatin1String(driveFolderType); }
    // Google's own document types (and folders) have no stored bytes.
    bool hasContent() const { return !mimeType.startsWith(QLatin1String("application/vnd.google-apps.")); }
    const DriveRevision* head() const { return revisions.isEmpty() ? nullptr : &revisions.last(); }

    QJsonObject toJson() const;
    static DriveFile fromJson(const QJsonObject& o);
};

} // namespace cloudsim
