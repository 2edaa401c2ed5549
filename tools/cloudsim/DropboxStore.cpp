#include "DropboxStore.h"

#include "OAuth.h"

#include <QDateTime>
#include <QRandomGenerator>

namespace cloudsim {

namespace {

QString isoTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

QJsonObject blobJson(const Blob& blob) {
    return {{QStringLiteral("blob"), blob.id},
            {QStringLiteral("size"), QString::number(blob.size)},
            {QStringLiteral("contentHash"), blob.contentHash},
            {QStringLiteral("md5"), blob.md5}};
}

Blob blobFromJson(const QJsonObject& o) {
    Blob blob;
    blob.id = o.value(QStringLiteral("blob")).toString();
    blob.size = o.value(QStringLiteral("size")).toString().toLongLong();
    blob.contentHash = o.value(QStringLiteral("contentHash")).toString();
    blob.md5 = o.value(QStringLiteral("md5")).toString();
    return blob;
}

} // namespace

const DropboxFile* DropboxStore::file(const QString& accountId, const QString& pathLower) const {
    const auto space = m_spaces.constFind(accountId);
    if (space == m_spaces.cend())
        return nullptr;
    const auto it = space->files.constFind(pathLower);
    return it == space->files.cend() ? nullptr : &*it;
}

const DropboxFile* DropboxStore::fileById(const QString& accountId, const QString& id) const {
    const auto space = m_spaces.constFind(accountId);
    if (space == m_spaces.cend())
        return nullptr;
    for (const DropboxFile& f : space->files)
        if (f.id == id)
            return &f;
    return nullptr;
}

DropboxConflict DropboxStore::conflictAt(const QString& accountId, const QString& pathLower) const {
    const auto space = m_spaces.constFind(accountId);
    if (space == m_spaces.cend())
        return DropboxConflict::none;
    for (qsizetype slash = pathLower.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = pathLower.indexOf(QLatin1Char('/'), slash + 1))
        if (space->files.contains(pathLower.left(slash)))
            return DropboxConflict::file;
    // Keys are sorted, so any file below the path as a folder comes right after "path/".
    const QString asFolder = pathLower + QLatin1Char('/');
    const auto below = space->files.lowerBound(asFolder);
    if (below != space->files.cend() && below.key().startsWith(asFolder))
        return DropboxConflict::folder;
    return DropboxConflict::none;
}

QString DropboxStore::newRev() {
    // A counter keeps revisions unique; the random tail keeps them from repeating after a reset.
    return QStringLiteral("%1%2")
        .arg(++m_revCounter, 9, 16, QLatin1Char('0'))
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

const DropboxFile& DropboxStore::commit(const QString& accountId, const QString& path, const Blob& blob,
                                        qint64 clientModifiedMs, qint64 nowMs) {
    Space& space = m_spaces[accountId];
    const QString lower = path.toLower();
    auto it = space.files.find(lower);
    if (it == space.files.end()) {
        DropboxFile created;
        created.id = QStringLiteral("id:") + randomToken(16);
        created.pathDisplay = path;
        it = space.files.insert(lower, created);
    } else {
        space.used -= it->current().blob.size;
    }
    it->revisions.append(DropboxRevision{newRev(), blob, clientModifiedMs, nowMs});
    space.used += blob.size;
    return *it;
}

qint64 DropboxStore::usedBytes(const QString& accountId) const {
    const auto space = m_spaces.constFind(accountId);
    return space == m_spaces.cend() ? 0 : space->used;
}

bool DropboxStore::remove(const QString& accountId, const QString& pathLower) {
    const auto space = m_spaces.find(accountId);
    if (space == m_spaces.end())
        return false;
    const auto file = space->files.find(pathLower);
    if (file == space->files.end())
        return false;
    space->used -= file->current().blob.size;
    space->files.erase(file);
    space->links.remove(pathLower);
    return true;
}

QString DropboxStore::linkToken(const QString& accountId, const QString& pathLower) const {
    return m_spaces.value(accountId).links.value(pathLower);
}

QString DropboxStore::createLink(const QString& accountId, const QString& pathLower) {
    QString& token = m_spaces[accountId].links[pathLower];
    if (token.isEmpty())
        token = randomToken(20);
    return token;
}

QStringList DropboxStore::linkedPaths(const QString& accountId) const {
    return m_spaces.value(accountId).links.keys();
}

const DropboxFile* DropboxStore::fileForLink(const QString& token) const {
    for (auto space = m_spaces.cbegin(); space != m_spaces.cend(); ++space)
        for (auto link = space->links.cbegin(); link != space->links.cend(); ++link)
            if (link.value() == token)
                return file(space.key(), link.key());
    return nullptr;
}

QJsonObject DropboxStore::listing(const QString& accountId) const {
    const Space space = m_spaces.value(accountId);
    QJsonArray files;
    for (auto it = space.files.cbegin(); it != space.files.cend(); ++it) {
        QJsonArray revisions;
        for (auto rev = it->revisions.crbegin(); rev != it->revisions.crend(); ++rev)
            revisions.append(QJsonObject{{QStringLiteral("rev"), rev->rev},
                                         {QStringLiteral("size"), rev->blob.size},
                                         {QStringLiteral("contentHash"), rev->blob.contentHash},
                                         {QStringLiteral("serverModified"), isoTime(rev->serverModifiedMs)}});
        const DropboxRevision& current = it->current();
        files.append(QJsonObject{{QStringLiteral("path"), it.key()},
                                 {QStringLiteral("pathDisplay"), it->pathDisplay},
                                 {QStringLiteral("id"), it->id},
                                 {QStringLiteral("size"), current.blob.size},
                                 {QStringLiteral("contentHash"), current.blob.contentHash},
                                 {QStringLiteral("rev"), current.rev},
                                 {QStringLiteral("revisions"), revisions},
                                 {QStringLiteral("sharedLink"), space.links.value(it.key())}});
    }
    return {{QStringLiteral("service"), QStringLiteral("dropbox")},
            {QStringLiteral("used"), usedBytes(accountId)},
            {QStringLiteral("files"), files}};
}

void DropboxStore::writeJson(JsonStream& json) const {
    json.beginObject();
    json.key(QStringLiteral("spaces"));
    json.beginObject();
    for (auto space = m_spaces.cbegin(); space != m_spaces.cend(); ++space) {
        json.key(space.key());
        json.beginObject();
        json.key(QStringLiteral("files"));
        json.beginObject();
        for (auto it = space->files.cbegin(); it != space->files.cend(); ++it) {
            QJsonArray revisions;
            for (const DropboxRevision& rev : it->revisions) {
                QJsonObject r = blobJson(rev.blob);
                r.insert(QStringLiteral("rev"), rev.rev);
                r.insert(QStringLiteral("clientModified"), QString::number(rev.clientModifiedMs));
                r.insert(QStringLiteral("serverModified"), QString::number(rev.serverModifiedMs));
                revisions.append(r);
            }
            json.key(it.key());
            json.value(QJsonObject{{QStringLiteral("id"), it->id},
                                   {QStringLiteral("pathDisplay"), it->pathDisplay},
                                   {QStringLiteral("revisions"), revisions}});
        }
        json.end();
        QJsonObject links;
        for (auto it = space->links.cbegin(); it != space->links.cend(); ++it)
            links.insert(it.key(), it.value());
        json.key(QStringLiteral("links"));
        json.value(links);
        json.end();
    }
    json.end();
    json.key(QStringLiteral("revCounter"));
    json.value(QString::number(m_revCounter));
    json.end();
}

void DropboxStore::fromJson(const QJsonObject& state) {
    reset();
    m_revCounter = state.value(QStringLiteral("revCounter")).toString().toULongLong();
    const QJsonObject spaces = state.value(QStringLiteral("spaces")).toObject();
    for (auto space = spaces.begin(); space != spaces.end(); ++space) {
        Space& into = m_spaces[space.key()];
        const QJsonObject files = space.value().toObject().value(QStringLiteral("files")).toObject();
        for (auto it = files.begin(); it != files.end(); ++it) {
            const QJsonObject f = it.value().toObject();
            DropboxFile file;
            file.id = f.value(QStringLiteral("id")).toString();
            file.pathDisplay = f.value(QStringLiteral("pathDisplay")).toString();
            for (const QJsonValue& v : f.value(QStringLiteral("revisions")).toArray()) {
                const QJsonObject r = v.toObject();
                file.revisions.append(
                    DropboxRevision{r.value(QStringLiteral("rev")).toString(), blobFromJson(r),
                                    r.value(QStringLiteral("clientModified")).toString().toLongLong(),
                                    r.value(QStringLiteral("serverModified")).toString().toLongLong()});
            }
            if (file.revisions.isEmpty()) // a file always has a current revision
                continue;
            into.used += file.current().blob.size;
            into.files.insert(it.key(), file);
        }
        const QJsonObject links = space.value().toObject().value(QStringLiteral("links")).toObject();
        for (auto it = links.begin(); it != links.end(); ++it)
            if (into.files.contains(it.key()))
                into.links.insert(it.key(), it.value().toString());
    }
}

void DropboxStore::reset() {
    m_spaces.clear();
    m_revCounter = 0;
}

} // namespace cloudsim
