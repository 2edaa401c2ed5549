#include "DriveFile.h"

#include <QJsonArray>

namespace cloudsim {

namespace {

QJsonObject blobJson(const Blob& blob) {
    return {{QStringLiteral("id"), blob.id},
            {QStringLiteral("size"), QString::number(blob.size)},
            {QStringLiteral("md5"), blob.md5},
            {QStringLiteral("contentHash"), blob.contentHash}};
}

Blob blobFrom(const QJsonObject& o) {
    Blob blob;
    blob.id = o.value(QStringLiteral("id")).toString();
    blob.size = o.value(QStringLiteral("size")).toString().toLongLong();
    blob.md5 = o.value(QStringLiteral("md5")).toString();
    blob.contentHash = o.value(QStringLiteral("contentHash")).toString();
    return blob;
}

} // namespace

QJsonObject DriveFile::toJson() const {
    QJsonArray revisionList, permissionList;
    for (const DriveRevision& r : revisions)
        revisionList.append(QJsonObject{{QStringLiteral("id"), r.id},
                                        {QStringLiteral("modified"), QString::number(r.modifiedMs)},
                                        {QStringLiteral("blob"), blobJson(r.blob)}});
    for (const DrivePermission& p : permissions)
        permissionList.append(QJsonObject{{QStringLiteral("id"), p.id},
                                          {QStringLiteral("role"), p.role},
                                          {QStringLiteral("type"), p.type},
                                          {QStringLiteral("emailAddress"), p.emailAddress},
                                          {QStringLiteral("domain"), p.domain},
                                          {QStringLiteral("allowFileDiscovery"), p.allowFileDiscovery}});
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("mimeType"), mimeType},
            {QStringLiteral("parents"), QJsonArray::fromStringList(parents)},
            {QStringLiteral("trashed"), trashed},
            {QStringLiteral("created"), QString::number(createdMs)},
            {QStringLiteral("modified"), QString::number(modifiedMs)},
            {QStringLiteral("version"), QString::number(version)},
            {QStringLiteral("sequence"), QString::number(sequence)},
            {QStringLiteral("revisions"), revisionList},
            {QStringLiteral("permissions"), permissionList}};
}

DriveFile DriveFile::fromJson(const QJsonObject& o) {
    DriveFile f;
    f.id = o.value(QStringLiteral("id")).toString();
    f.name = o.value(QStringLiteral("name")).toString();
    f.mimeType = o.value(QStringLiteral("mimeType")).toString();
    for (const QJsonValue& p : o.value(QStringLiteral("parents")).toArray())
        f.parents.append(p.toString());
    f.trashed = o.value(QStringLiteral("trashed")).toBool();
    f.createdMs = o.value(QStringLiteral("created")).toString().toLongLong();
    f.modifiedMs = o.value(QStringLiteral("modified")).toString().toLongLong();
    f.version = o.value(QStringLiteral("version")).toString().toLongLong();
    f.sequence = o.value(QStringLiteral("sequence")).toString().toLongLong();
    for (const QJsonValue& v : o.value(QStringLiteral("revisions")).toArray()) {
        const QJsonObject r = v.toObject();
        f.revisions.append(DriveRevision{r.value(QStringLiteral("id")).toString(),
                                         r.value(QStringLiteral("modified")).toString().toLongLong(),
                                         blobFrom(r.value(QStringLiteral("blob")).toObject())});
    }
    for (const QJsonValue& v : o.value(QStringLiteral("permissions")).toArray()) {
        const QJsonObject p = v.toObject();
        f.permissions.append(DrivePermission{
            p.value(QStringLiteral("id")).toString(), p.value(QStringLiteral("role")).toString(),
            p.value(QStringLiteral("type")).toString(), p.value(QStringLiteral("emailAddress")).toString(),
            p.value(QStringLiteral("domain")).toString(),
            p.value(QStringLiteral("allowFileDiscovery")).toBool()});
    }
    return f;
}

} // namespace cloudsim
