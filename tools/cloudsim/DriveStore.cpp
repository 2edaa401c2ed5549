#include "DriveStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QRandomGenerator>

#include <algorithm>

namespace cloudsim {

namespace {

constexpr int idLength = 33;
constexpr int depthLimit = 256; // guards walks up the tree against a damaged state file

QString folderLink(const QString& id) {
    return QStringLiteral("https://drive.google.com/drive/folders/") + id;
}

QString fileLink(const QString& id) {
    return QStringLiteral("https://drive.google.com/file/d/%1/view?usp=drivesdk").arg(id);
}

} // namespace

QString DriveStore::rfc3339(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString DriveStore::newId(int length, const char* prefix) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    QString id = QLatin1String(prefix);
    while (id.size() < length)
        id += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(64)]);
    return id;
}

const DriveStore::Drive* DriveStore::drive(const QString& account) const {
    const auto it = m_drives.constFind(account);
    return it == m_drives.cend() ? nullptr : &*it;
}

DriveStore::Drive& DriveStore::driveFor(const QString& account) {
    Drive& d = m_drives[account];
    if (d.rootId.isEmpty()) {
        DriveFile root;
        // Derived from the account so that a Drive first touched by a read (which isn't saved)
        // keeps its root id across restarts. Root ids are shorter than other ids on the service.
        root.id = QStringLiteral("0A") +
                  QString::fromLatin1(QCryptographicHash::hash(account.toUtf8(), QCryptographicHash::Sha256)
                                          .toBase64(QByteArray::Base64UrlEncoding)
                                          .left(17));
        root.name = QStringLiteral("My Drive");
        root.mimeType = QLatin1String(driveFolderType);
        root.createdMs = root.modifiedMs = QDateTime::currentMSecsSinceEpoch();
        root.sequence = m_nextSequence++;
        d.rootId = root.id;
        d.items.insert(root.id, root);
    }
    return d;
}

QString DriveStore::rootId(const QString& account) {
    return driveFor(account).rootId;
}

DriveFile* DriveStore::find(const QString& account, const QString& id) {
    Drive& d = driveFor(account);
    const auto it = d.items.find(id == QLatin1String("root") ? d.rootId : id);
    return it == d.items.end() ? nullptr : &*it;
}

bool DriveStore::isTrashed(const QString& account, const DriveFile& file) const {
    const Drive* d = drive(account);
    const DriveFile* at = &file;
    for (int depth = 0; at && depth < depthLimit; ++depth) {
        if (at->trashed)
            return true;
        if (!d || at->parents.isEmpty())
            return false;
        const auto parent = d->items.constFind(at->parents.first());
        at = parent == d->items.cend() ? nullptr : &*parent;
    }
    return false;
}

DriveError DriveStore::prepare(const QString& account, const QJsonObject& metadata,
                               const QString& fallbackMimeType, qint64 nowMs, DriveFile* out) {
    Drive& d = driveFor(account);
    const QJsonValue name = metadata.value(QStringLiteral("name"));
    const QJsonValue mimeType = metadata.value(QStringLiteral("mimeType"));
    const QJsonValue parents = metadata.value(QStringLiteral("parents"));
    if (!name.isUndefined() && !name.isString())
        return DriveError::badRequest(QStringLiteral("Invalid value for: name"));
    if (!mimeType.isUndefined() && !mimeType.isString())
        return DriveError::badRequest(QStringLiteral("Invalid value for: mimeType"));
    if (!parents.isUndefined() && !parents.isArray())
        return DriveError::badRequest(QStringLiteral("Invalid value for: parents"));

    DriveFile file;
    file.name = name.toString(QStringLiteral("Untitled"));
    file.mimeType = mimeType.toString(fallbackMimeType);
    const QJsonArray parentList = parents.toArray();
    if (parentList.size() > 1)
        return {403,
                QStringLiteral("cannotAddParent"),
                QStringLiteral("Increasing the number of parents is not allowed."),
                {}};
    for (const QJsonValue& p : parentList) {
        if (!p.isString())
            return DriveError::badRequest(QStringLiteral("Invalid value for: parents"));
        const DriveFile* parent = find(account, p.toString());
        if (!parent)
            return DriveError::fileNotFound(p.toString());
        if (!parent->isFolder())
            return DriveError::badRequest(QStringLiteral("The specified parent is not a folder."));
        file.parents.append(parent->id);
    }
    if (file.parents.isEmpty())
        file.parents.append(d.rootId);
    do
        file.id = newId(idLength, "1");
    while (d.items.contains(file.id));
    file.createdMs = file.modifiedMs = nowMs;
    *out = std::move(file);
    return {};
}

DriveFile& DriveStore::add(const QString& account, DriveFile file) {
    file.sequence = m_nextSequence++;
    Drive& d = driveFor(account);
    return *d.items.insert(file.id, std::move(file));
}

DriveError DriveStore::update(const QString& account, DriveFile& file, const QJsonObject& metadata,
                              qint64 nowMs) {
    if (metadata.contains(QStringLiteral("parents")) || metadata.contains(QStringLiteral("id")))
        return {403,
                QStringLiteral("fieldNotWritable"),
                QStringLiteral("The resource body includes fields which are not directly writable."),
                {}};
    const QJsonValue name = metadata.value(QStringLiteral("name"));
    const QJsonValue mimeType = metadata.value(QStringLiteral("mimeType"));
    const QJsonValue trashed = metadata.value(QStringLiteral("trashed"));
    if ((!name.isUndefined() && !name.isString()) || (!mimeType.isUndefined() && !mimeType.isString()) ||
        (!trashed.isUndefined() && !trashed.isBool()))
        return DriveError::badRequest(QStringLiteral("Invalid value in the request body."));
    const bool isRoot = file.id == rootId(account);
    if (isRoot && (!name.isUndefined() || !trashed.isUndefined()))
        return {403,
                QStringLiteral("insufficientFilePermissions"),
                QStringLiteral("The user does not have sufficient permissions for this file."),
                {}};
    // A folder stays a folder, and a file can't turn into one.
    if (!mimeType.isUndefined() &&
        (file.isFolder() || mimeType.toString() == QLatin1String(driveFolderType)) &&
        mimeType.toString() != file.mimeType)
        return DriveError::badRequest(QStringLiteral("The mimeType of a folder can't be changed."));
    if (!name.isUndefined())
        file.name = name.toString();
    if (!mimeType.isUndefined())
        file.mimeType = mimeType.toString();
    if (!trashed.isUndefined())
        file.trashed = trashed.toBool();
    file.modifiedMs = std::max(nowMs, file.modifiedMs);
    ++file.version;
    return {};
}

void DriveStore::addRevision(const QString& account, DriveFile& file, const Blob& blob, qint64 nowMs) {
    // Revision times strictly increase within a file, so newest-first sorting is never ambiguous.
    const qint64 at =
        file.revisions.isEmpty() ? nowMs : std::max(nowMs, file.revisions.last().modifiedMs + 1);
    Drive& d = driveFor(account);
    file.revisions.append(DriveRevision{newId(44, "0B"), at, blob});
    d.used += blob.size;
    while (file.revisions.size() > maxRevisions)
        d.used -= file.revisions.takeFirst().blob.size;
    file.modifiedMs = at;
    ++file.version;
}

void DriveStore::remove(const QString& account, const QString& id) {
    Drive& d = driveFor(account);
    QStringList doomed{id};
    for (qsizetype i = 0; i < doomed.size(); ++i)
        for (const DriveFile& item : std::as_const(d.items))
            if (item.parents.contains(doomed[i]) && !doomed.contains(item.id))
                doomed.append(item.id);
    for (const QString& gone : doomed) {
        for (const DriveRevision& r : d.items.value(gone).revisions)
            d.used -= r.blob.size;
        d.items.remove(gone);
    }
}

QList<const DriveFile*> DriveStore::search(const QString& account, const DriveQuery& query) const {
    QList<const DriveFile*> found;
    const Drive* d = drive(account);
    if (!d)
        return found;
    for (const DriveFile& item : d->items)
        // The walk up for trashed folders costs more than the terms: only for items that
        // match either way.
        if (item.id != d->rootId &&
            (query.matches(item, false, d->rootId) || query.matches(item, true, d->rootId)) &&
            query.matches(item, isTrashed(account, item), d->rootId))
            found.append(&item);
    std::sort(found.begin(), found.end(),
              [](const DriveFile* a, const DriveFile* b) { return a->sequence < b->sequence; });
    return found;
}

qint64 DriveStore::usage(const QString& account) const {
    const Drive* d = drive(account);
    return d ? d->used : 0;
}

QJsonObject DriveStore::fileResource(const QString& account, const DriveFile& file) const {
    QJsonArray permissionIds, permissions;
    for (const DrivePermission& p : file.permissions) {
        permissionIds.append(p.id);
        permissions.append(permissionResource(p));
    }
    QJsonObject o{{QStringLiteral("kind"), QStringLiteral("drive#file")},
                  {QStringLiteral("id"), file.id},
                  {QStringLiteral("name"), file.name},
                  {QStringLiteral("mimeType"), file.mimeType},
                  {QStringLiteral("trashed"), isTrashed(account, file)},
                  {QStringLiteral("explicitlyTrashed"), file.trashed},
                  {QStringLiteral("createdTime"), rfc3339(file.createdMs)},
                  {QStringLiteral("modifiedTime"), rfc3339(file.modifiedMs)},
                  {QStringLiteral("version"), QString::number(file.version)},
                  {QStringLiteral("ownedByMe"), true},
                  {QStringLiteral("shared"), !file.permissions.isEmpty()},
                  {QStringLiteral("permissionIds"), permissionIds},
                  {QStringLiteral("permissions"), permissions},
                  {QStringLiteral("spaces"), QJsonArray{QStringLiteral("drive")}},
                  {QStringLiteral("webViewLink"), file.isFolder() ? folderLink(file.id) : fileLink(file.id)}};
    if (!file.parents.isEmpty())
        o.insert(QStringLiteral("parents"), QJsonArray::fromStringList(file.parents));
    if (const DriveRevision* head = file.head(); head && file.hasContent()) {
        // The service sends int64 values as decimal text.
        o.insert(QStringLiteral("size"), QString::number(head->blob.size));
        o.insert(QStringLiteral("md5Checksum"), head->blob.md5);
        o.insert(QStringLiteral("headRevisionId"), head->id);
        o.insert(QStringLiteral("webContentLink"),
                 QStringLiteral("https://drive.google.com/uc?id=%1&export=download").arg(file.id));
        qint64 bytes = 0;
        for (const DriveRevision& r : file.revisions)
            bytes += r.blob.size;
        o.insert(QStringLiteral("quotaBytesUsed"), QString::number(bytes));
    }
    return o;
}

QJsonObject DriveStore::revisionResource(const DriveFile& file, const DriveRevision& revision) {
    return {{QStringLiteral("kind"), QStringLiteral("drive#revision")},
            {QStringLiteral("id"), revision.id},
            {QStringLiteral("mimeType"), file.mimeType},
            {QStringLiteral("modifiedTime"), rfc3339(revision.modifiedMs)},
            {QStringLiteral("keepForever"), false},
            {QStringLiteral("published"), false},
            {QStringLiteral("originalFilename"), file.name},
            {QStringLiteral("size"), QString::number(revision.blob.size)},
            {QStringLiteral("md5Checksum"), revision.blob.md5}};
}

QJsonObject DriveStore::permissionResource(const DrivePermission& p) {
    QJsonObject o{{QStringLiteral("kind"), QStringLiteral("drive#permission")},
                  {QStringLiteral("id"), p.id},
                  {QStringLiteral("type"), p.type},
                  {QStringLiteral("role"), p.role}};
    if (!p.emailAddress.isEmpty())
        o.insert(QStringLiteral("emailAddress"), p.emailAddress);
    if (!p.domain.isEmpty())
        o.insert(QStringLiteral("domain"), p.domain);
    if (p.type == QLatin1String("anyone") || p.type == QLatin1String("domain"))
        o.insert(QStringLiteral("allowFileDiscovery"), p.allowFileDiscovery);
    return o;
}

QJsonObject DriveStore::listingNode(const Drive& d, const DriveFile& item) const {
    QJsonObject node{{QStringLiteral("id"), item.id},
                     {QStringLiteral("name"), item.name},
                     {QStringLiteral("mimeType"), item.mimeType},
                     {QStringLiteral("trashed"), item.trashed}};
    if (item.isFolder()) {
        QList<const DriveFile*> children;
        for (const DriveFile& child : d.items)
            if (child.parents.contains(item.id))
                children.append(&child);
        std::sort(children.begin(), children.end(),
                  [](const DriveFile* a, const DriveFile* b) { return a->sequence < b->sequence; });
        QJsonArray list;
        for (const DriveFile* child : children)
            list.append(listingNode(d, *child));
        node.insert(QStringLiteral("children"), list);
        return node;
    }
    QJsonArray revisions;
    for (const DriveRevision& r : item.revisions)
        revisions.append(QJsonObject{{QStringLiteral("id"), r.id},
                                     {QStringLiteral("modifiedTime"), rfc3339(r.modifiedMs)},
                                     {QStringLiteral("size"), QString::number(r.blob.size)},
                                     {QStringLiteral("md5Checksum"), r.blob.md5}});
    if (const DriveRevision* head = item.head()) {
        node.insert(QStringLiteral("size"), QString::number(head->blob.size));
        node.insert(QStringLiteral("md5Checksum"), head->blob.md5);
    }
    node.insert(QStringLiteral("revisions"), revisions);
    node.insert(QStringLiteral("shared"), !item.permissions.isEmpty());
    return node;
}

QJsonObject DriveStore::listing(const QString& account) const {
    const Drive* d = drive(account);
    if (!d)
        return {{QStringLiteral("rootId"), QString()},
                {QStringLiteral("root"), QJsonObject{{QStringLiteral("name"), QStringLiteral("My Drive")},
                                                     {QStringLiteral("children"), QJsonArray()}}},
                {QStringLiteral("usage"), QStringLiteral("0")}};
    return {{QStringLiteral("rootId"), d->rootId},
            {QStringLiteral("root"), listingNode(*d, d->items.value(d->rootId))},
            {QStringLiteral("usage"), QString::number(usage(account))}};
}

void DriveStore::writeJson(JsonStream& json) const {
    json.beginObject();
    json.key(QStringLiteral("drives"));
    json.beginObject();
    for (auto it = m_drives.cbegin(); it != m_drives.cend(); ++it) {
        QList<const DriveFile*> items;
        for (const DriveFile& item : it->items)
            items.append(&item);
        std::sort(items.begin(), items.end(),
                  [](const DriveFile* a, const DriveFile* b) { return a->sequence < b->sequence; });
        json.key(it.key());
        json.beginObject();
        json.key(QStringLiteral("root"));
        json.value(it->rootId);
        json.key(QStringLiteral("items"));
        json.beginArray();
        for (const DriveFile* item : items)
            json.value(item->toJson());
        json.end();
        json.end();
    }
    json.end();
    json.key(QStringLiteral("nextSequence"));
    json.value(QString::number(m_nextSequence));
    json.end();
}

void DriveStore::fromJson(const QJsonObject& state) {
    clear();
    const QJsonObject drives = state.value(QStringLiteral("drives")).toObject();
    for (auto it = drives.begin(); it != drives.end(); ++it) {
        const QJsonObject o = it.value().toObject();
        Drive d;
        d.rootId = o.value(QStringLiteral("root")).toString();
        for (const QJsonValue& v : o.value(QStringLiteral("items")).toArray()) {
            DriveFile item = DriveFile::fromJson(v.toObject());
            m_nextSequence = std::max(m_nextSequence, item.sequence + 1);
            for (const DriveRevision& r : item.revisions)
                d.used += r.blob.size;
            d.items.insert(item.id, std::move(item));
        }
        if (!d.rootId.isEmpty() && d.items.contains(d.rootId))
            m_drives.insert(it.key(), std::move(d));
    }
    m_nextSequence =
        std::max(m_nextSequence, state.value(QStringLiteral("nextSequence")).toString().toLongLong());
}

void DriveStore::clear() {
    m_drives.clear();
    m_nextSequence = 1;
}

} // namespace cloudsim
