#include "GoogleDriveProvider.h"

#include "DriveReplyError.h"
#include "PieceReader.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "net/NetworkError.h"
#include "sync/LocalFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QUuid>

#include <QCoro/QCoroTimer>

#include <algorithm>
#include <limits>

namespace norvela {

using namespace std::chrono_literals;

namespace {

constexpr qint64 chunkSize = 8 * 1024 * 1024;

// With a rate limit in force, anything above this goes in chunks so the limiter can pace it.
constexpr qint64 limitedOneRequestMax = 256 * 1024;
const QByteArray folderType = "application/vnd.google-apps.folder";
const QByteArray jsonType = "application/json; charset=UTF-8";
const QByteArray octetStream = "application/octet-stream";
const QByteArray resultFields = "fields=id,md5Checksum,size";

AuthError bad(const QString& text) {
    return AuthError::badResponse(text, AuthError::Service::google);
}

// Member coroutines stop when the provider went away while they were suspended.
void ensureAlive(const QPointer<GoogleDriveProvider>& self) {
    if (!self)
        throw AuthError::notLinked(AuthError::Service::google);
}

QByteArray compactJson(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Drive sends 64-bit numbers as decimal text: an optional sign, then digits only.
std::optional<qint64> decimal(const QString& text) {
    qsizetype at = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+')))
        at = 1;
    if (at == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; at < text.size(); ++at) {
        const int digit = text.at(at).unicode() - '0';
        if (digit < 0 || digit > 9)
            return std::nullopt;
        // Accumulate towards the sign so that the most negative value still fits.
        if (negative ? value < (std::numeric_limits<qint64>::min() + digit) / 10
                     : value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + (negative ? -digit : digit);
    }
    return value;
}

// An optional text key: absent or null gives nothing, any other non-text is a decoding error.
std::optional<QString> optionalString(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    return DecodeError::string(o, key);
}

qint64 numberOr(const std::optional<QString>& text, qint64 fallback) {
    if (!text)
        return fallback;
    return decimal(*text).value_or(fallback);
}

QJsonObject element(const QJsonValue& v, const QString& list) {
    if (!v.isObject())
        throw DecodeError(
            QStringLiteral("The data couldn't be read because \"%1\" holds an entry that is not an object.")
                .arg(list));
    return v.toObject();
}

QDateTime isoDate(const QJsonObject& o, const QString& key) {
    const QString text = DecodeError::string(o, key);
    const QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        throw DecodeError(
            QStringLiteral("The data couldn't be read because \"%1\" is not an ISO 8601 date.").arg(key));
    return date;
}

// What an upload or a media PATCH left in Drive.
CloudUploadResult result(const QByteArray& data, qint64 fallbackSize) {
    const QJsonObject o = DecodeError::object(data);
    CloudUploadResult r;
    r.ref = DecodeError::string(o, QStringLiteral("id"));
    r.contentHash = optionalString(o, QStringLiteral("md5Checksum")).value_or(QString());
    r.size = numberOr(optionalString(o, QStringLiteral("size")), fallbackSize);
    return r;
}

// A search for `name` among the live items of a folder, in Drive's query language. Inside the
// quoted name a backslash and an apostrophe are escaped with a backslash, the only escapes it has.
QString childQuery(const QString& name, const QString& parentID) {
    QString escaped = name;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QStringLiteral("name = '") + escaped + QStringLiteral("' and '") + parentID +
           QStringLiteral("' in parents and trashed = false");
}

// Every byte of the expression except the unreserved URL characters is percent-encoded, so
// "+" (a space once form-decoded), "&", "=", "#" and "%" in a name stay part of the name.
QByteArray listQuery(const QString& query, const QByteArray& fields) {
    return "/files?q=" + query.toUtf8().toPercentEncoding() + "&fields=" + fields;
}

// The status of an exchange that got no reply at all; the body then holds the network's words.
constexpr int noReply = 0;

HttpResult unansweredResult(const NetworkError& e) {
    return HttpResult{noReply, e.description().toUtf8(), {}};
}

ServiceError unanswered(const HttpResult& reply) {
    return ServiceError(ServiceError::Kind::transient,
                        QStringLiteral("Google Drive didn't answer: ") + QString::fromUtf8(reply.body));
}

// Requests that change something go out once: one the service acted on before its reply was
// lost must be found out about, not repeated behind our back by the network stack.
QCoro::Task<HttpResult> sendWithToken(QNetworkRequest request, QByteArray method, QByteArray body,
                                      QString token, qint64 maxReplyBytes) {
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    const Http::Limits limits{.maxReplyBytes = maxReplyBytes};
    if (method == "GET")
        co_return co_await Http::send(request, method, std::move(body), 30s, limits);
    try {
        co_return co_await Http::sendOnce(request, method, std::move(body), 60s, limits);
    } catch (const NetworkError& e) {
        co_return unansweredResult(e);
    }
}

// A chunk, or with an empty body and "bytes */<total>" a question for how much arrived. The
// session URI alone identifies the upload: these carry no token.
QCoro::Task<HttpResult> putToSession(QUrl session, QByteArray range, QByteArray chunk) {
    QNetworkRequest put(session);
    put.setRawHeader("Content-Range", range);
    put.setHeader(QNetworkRequest::ContentTypeHeader, octetStream);
    try {
        co_return co_await Http::sendOnce(put, "PUT", std::move(chunk), 120s);
    } catch (const NetworkError& e) {
        co_return unansweredResult(e);
    }
}

// How many bytes a 308 says the session holds: its "Range: bytes=0-<last>", none without one.
qint64 heldBytes(const HttpResult& reply, qint64 size) {
    const QByteArray range = reply.header("Range").trimmed();
    if (range.isEmpty())
        return 0;
    const std::optional<qint64> last =
        range.startsWith("bytes=0-") ? decimal(QString::fromLatin1(range.mid(8))) : std::nullopt;
    if (!last || *last < 0 || *last >= size)
        throw ServiceError(ServiceError::Kind::transient,
                           QStringLiteral("Google Drive reported an upload range of \"%1\" for %2 bytes")
                               .arg(QString::fromLatin1(range))
                               .arg(size));
    return *last + 1;
}

QByteArray fileSegment(const QString& id) {
    // Drive ids are URL-safe by construction and go into paths as they are.
    return "/files/" + id.toUtf8();
}

} // namespace

GoogleDriveProvider::GoogleDriveProvider(std::optional<TokenSlot> slot, GoogleEndpoints endpoints,
                                         BandwidthLimiter& limiter)
    : m_limiter(limiter), m_endpoints(endpoints), m_auth(std::move(slot), std::move(endpoints)) {}

QString GoogleDriveProvider::accountKey() const {
    return m_auth.slot() ? m_auth.slot()->storageKey : id();
}

std::optional<QString> GoogleDriveProvider::accountUid() const {
    if (m_auth.slot() && !m_auth.slot()->uid.isEmpty())
        return m_auth.slot()->uid;
    return std::nullopt;
}

std::optional<QString> GoogleDriveProvider::accountEmail() const {
    if (m_auth.slot() && !m_auth.slot()->email.isEmpty())
        return m_auth.slot()->email;
    return std::nullopt;
}

QCoro::Task<> GoogleDriveProvider::link(bool openBrowser, bool forceAccountSelection) {
    co_await m_auth.link(openBrowser, forceAccountSelection);
}

QCoro::Task<> GoogleDriveProvider::unlink() {
    const QPointer<GoogleDriveProvider> self(this);
    co_await m_auth.unlink();
    if (self)
        m_folders.clear();
}

void GoogleDriveProvider::adoptIdentity(const AccountInfo& info) {
    m_auth.backfillIdentity(info.uid, info.email);
}

QUrl GoogleDriveProvider::driveUrl(const QByteArray& pathAndQuery) const {
    return QUrl::fromEncoded(m_endpoints.drive.toEncoded() + pathAndQuery);
}

QUrl GoogleDriveProvider::uploadUrl(const QByteArray& pathAndQuery) const {
    return QUrl::fromEncoded(m_endpoints.upload.toEncoded() + pathAndQuery);
}

QCoro::Task<HttpResult> GoogleDriveProvider::exchange(QByteArray method, QUrl url, QByteArray body,
                                                      QByteArray contentType, qint64 maxReplyBytes) {
    const QPointer<GoogleDriveProvider> self(this);
    QNetworkRequest request(url);
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    AuthService::Send send = [request, method, body, maxReplyBytes](QString token) {
        return sendWithToken(request, method, body, std::move(token), maxReplyBytes);
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    ensureAlive(self);
    co_return reply;
}

QCoro::Task<QByteArray> GoogleDriveProvider::request(QByteArray method, QUrl url, bool byReference,
                                                     QByteArray body, QByteArray contentType,
                                                     qint64 maxReplyBytes) {
    const HttpResult reply = co_await exchange(std::move(method), std::move(url), std::move(body),
                                               std::move(contentType), maxReplyBytes);
    if (reply.status == noReply)
        throw unanswered(reply);
    if (reply.status < 200 || reply.status > 299)
        throw DriveReplyError::read(reply).classify(byReference);
    co_return reply.body;
}

// --- folders ---

QCoro::Task<QString> GoogleDriveProvider::ensureFolder(QString path) {
    const QPointer<GoogleDriveProvider> self(this);
    QString parent = co_await ensureChildFolder(QStringLiteral("Norvela"), QStringLiteral("root"), QString());
    QString key;
    for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        ensureAlive(self);
        key = key.isEmpty() ? component : key + QLatin1Char('/') + component;
        parent = co_await ensureChildFolder(component, parent, key);
    }
    co_return parent;
}

QCoro::Task<QString> GoogleDriveProvider::ensureChildFolder(QString name, QString parentID,
                                                            QString cacheKey) {
    // Called at once by resolve(), while this provider is certainly alive.
    DriveFolderCache::Lookup lookup = [this, name, parentID] { return findOrCreateFolder(name, parentID); };
    QCoro::Task<QString> resolved = m_folders.resolve(cacheKey, std::move(lookup));
    const QString id = co_await std::move(resolved);
    co_return id;
}

QCoro::Task<QString> GoogleDriveProvider::findOrCreateFolder(QString name, QString parentID) {
    const QPointer<GoogleDriveProvider> self(this);
    const QString query = childQuery(name, parentID) + QStringLiteral(" and mimeType = '") +
                          QString::fromLatin1(folderType) + QLatin1Char('\'');
    const QByteArray found = co_await request("GET", driveUrl(listQuery(query, "files(id)")), false);
    const QJsonArray files = DecodeError::array(DecodeError::object(found), QStringLiteral("files"));
    if (!files.isEmpty()) // of several folders with this name, the first one found
        co_return DecodeError::string(element(files.first(), QStringLiteral("files")), QStringLiteral("id"));

    ensureAlive(self);
    const QJsonObject folder{{QStringLiteral("name"), name},
                             {QStringLiteral("mimeType"), QString::fromLatin1(folderType)},
                             {QStringLiteral("parents"), QJsonArray{parentID}}};
    const QByteArray created =
        co_await request("POST", driveUrl("/files?fields=id"), false, compactJson(folder), jsonType);
    co_return DecodeError::string(DecodeError::object(created), QStringLiteral("id"));
}

QCoro::Task<std::optional<QString>> GoogleDriveProvider::findFile(QString name, QString parentID) {
    const QByteArray found =
        co_await request("GET", driveUrl(listQuery(childQuery(name, parentID), "files(id,mimeType)")), false);
    for (const QJsonValue& v : DecodeError::array(DecodeError::object(found), QStringLiteral("files"))) {
        const QJsonObject file = element(v, QStringLiteral("files"));
        if (DecodeError::string(file, QStringLiteral("mimeType")) != QLatin1String(folderType))
            co_return DecodeError::string(file, QStringLiteral("id"));
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> GoogleDriveProvider::findListedFile(QString name, QString parentID) {
    const QPointer<GoogleDriveProvider> self(this);
    if (const auto kept = m_listings.constFind(parentID);
        kept != m_listings.cend() && !kept->fresh.hasExpired())
        co_return kept->fileIds.contains(name) ? std::optional<QString>(kept->fileIds.value(name))
                                               : std::nullopt;
    Listing listing{{}, QDeadlineTimer(listingLifetime)};
    const QString query = QStringLiteral("'") + parentID + QStringLiteral("' in parents and trashed = false");
    QByteArray pageToken;
    do {
        QByteArray path = listQuery(query, "nextPageToken,files(id,name,mimeType)") + "&pageSize=1000";
        if (!pageToken.isEmpty())
            path += "&pageToken=" + pageToken.toPercentEncoding();
        const QByteArray page = co_await request("GET", driveUrl(path), false);
        ensureAlive(self);
        const QJsonObject list = DecodeError::object(page);
        for (const QJsonValue& v : DecodeError::array(list, QStringLiteral("files"))) {
            const QJsonObject file = element(v, QStringLiteral("files"));
            if (DecodeError::string(file, QStringLiteral("mimeType")) != QLatin1String(folderType))
                listing.fileIds.insert(DecodeError::string(file, QStringLiteral("name")),
                                       DecodeError::string(file, QStringLiteral("id")));
        }
        pageToken = list.contains(QStringLiteral("nextPageToken"))
                        ? DecodeError::string(list, QStringLiteral("nextPageToken")).toUtf8()
                        : QByteArray();
    } while (!pageToken.isEmpty());
    const std::optional<QString> found =
        listing.fileIds.contains(name) ? std::optional<QString>(listing.fileIds.value(name)) : std::nullopt;
    m_listings.removeIf([](const auto& kept) { return kept.value().fresh.hasExpired(); });
    m_listings.insert(parentID, std::move(listing));
    co_return found;
}

// --- uploads ---

QCoro::Task<CloudUploadResult> GoogleDriveProvider::upload(std::shared_ptr<const LocalFile> file,
                                                           QString relativePath,
                                                           std::optional<QString> existingRef, bool mayExist,
                                                           Progress progress) {
    const QPointer<GoogleDriveProvider> self(this);
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    const QString name = relativePath.mid(slash + 1);
    const QString folderPath = slash < 0 ? QString() : relativePath.left(slash);

    // Drive addresses files by id: a known id is updated in place; an update always has an
    // outcome, as sending it twice does no harm.
    if (existingRef) {
        const std::optional<CloudUploadResult> updated =
            co_await transfer(file, existingRef, name, QString(), progress);
        co_return *updated;
    }
    const QString parentID = co_await ensureFolder(folderPath);
    ensureAlive(self);
    // Drive takes any number of files of one name in a folder, so a create whose answer was
    // lost is looked for before another is made; found, it is updated instead.
    bool lookFirst = mayExist;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lookFirst) {
            // After a create went unanswered only a search made now will do.
            std::optional<QString> found;
            if (attempt == 0)
                found = co_await findListedFile(name, parentID);
            else
                found = co_await findFile(name, parentID);
            ensureAlive(self);
            if (found) {
                const std::optional<CloudUploadResult> updated =
                    co_await transfer(file, found, name, parentID, progress);
                co_return *updated;
            }
        }
        const std::optional<CloudUploadResult> made =
            co_await transfer(file, std::nullopt, name, parentID, progress);
        ensureAlive(self);
        if (made) {
            if (const auto listed = m_listings.find(parentID); listed != m_listings.end())
                listed->fileIds.insert(name, made->ref);
            co_return *made;
        }
        lookFirst = true;
    }
    throw ServiceError(ServiceError::Kind::transient,
                       QStringLiteral("Google Drive didn't answer the upload of %1").arg(relativePath));
}

QCoro::Task<std::optional<CloudUploadResult>>
GoogleDriveProvider::transfer(std::shared_ptr<const LocalFile> file, std::optional<QString> fileID,
                              QString name, QString parentID, Progress progress) {
    const QPointer<GoogleDriveProvider> self(this);
    const qint64 size = file->size();
    const bool limited = m_limiter.activeBytesPerSecond() > 0;
    if (size > (limited ? limitedOneRequestMax : chunkSize)) {
        const std::optional<CloudUploadResult> sent =
            co_await resumableUpload(fileID, name, parentID, file, std::move(progress));
        co_return sent;
    }
    PieceReader reader(file);
    const QByteArray content = co_await reader.read(0, std::max<qint64>(size, 0));
    ensureAlive(self);
    const std::optional<CloudUploadResult> sent = co_await simpleUpload(fileID, name, parentID, content);
    if (sent && progress)
        progress(size);
    co_return sent;
}

QCoro::Task<std::optional<CloudUploadResult>> GoogleDriveProvider::simpleUpload(std::optional<QString> fileID,
                                                                                QString name,
                                                                                QString parentID,
                                                                                QByteArray content) {
    if (fileID) { // only the content changes; the file keeps its name in Drive
        const QByteArray reply =
            co_await request("PATCH", uploadUrl(fileSegment(*fileID) + "?uploadType=media&" + resultFields),
                             true, content, octetStream);
        co_return result(reply, content.size());
    }

    const QByteArray boundary =
        "norvela-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QJsonObject metadata{{QStringLiteral("name"), name},
                               {QStringLiteral("parents"), QJsonArray{parentID}}};
    QByteArray body;
    body.reserve(content.size() + 512);
    body += "--" + boundary + "\r\nContent-Type: " + jsonType + "\r\n\r\n";
    body += compactJson(metadata);
    body += "\r\n--" + boundary + "\r\nContent-Type: " + octetStream + "\r\n\r\n";
    body += content;
    body += "\r\n--" + boundary + "--";
    const HttpResult reply =
        co_await exchange("POST", uploadUrl("/files?uploadType=multipart&" + resultFields), body,
                          "multipart/related; boundary=" + boundary);
    if (reply.status == noReply)
        co_return std::nullopt;
    if (reply.status != 200)
        throw createFailure(reply);
    co_return result(reply.body, content.size());
}

ServiceError GoogleDriveProvider::createFailure(const HttpResult& reply) {
    // The folder went since it was looked up: look again next time.
    if (reply.status == 404)
        m_folders.clear();
    return DriveReplyError::read(reply).classify(false);
}

QCoro::Task<std::optional<CloudUploadResult>>
GoogleDriveProvider::resumableUpload(std::optional<QString> fileID, QString name, QString parentID,
                                     std::shared_ptr<const LocalFile> localFile, Progress progress) {
    const QPointer<GoogleDriveProvider> self(this);
    const qint64 size = localFile->size();
    QJsonObject metadata{{QStringLiteral("name"), name}};
    if (!fileID)
        metadata.insert(QStringLiteral("parents"), QJsonArray{parentID});

    // Worked out before the co_await: GCC 12 evaluates both arms of a conditional in its operand.
    QByteArray method = "POST";
    QUrl start = uploadUrl("/files?uploadType=resumable&" + resultFields);
    if (fileID) {
        method = "PATCH";
        start = uploadUrl(fileSegment(*fileID) + "?uploadType=resumable&" + resultFields);
    }
    const HttpResult started = co_await exchange(method, start, compactJson(metadata), jsonType);
    if (started.status == noReply) // only a session can have come of it, never a file
        throw unanswered(started);
    if (started.status != 200)
        throw fileID ? DriveReplyError::read(started).classify(true) : createFailure(started);
    const QByteArray location = started.header("Location");
    if (location.isEmpty())
        throw ServiceError(ServiceError::Kind::transient,
                           QStringLiteral("Google Drive opened no upload session"));
    const QUrl session = QUrl::fromEncoded(location);

    PieceReader reader(localFile);
    qint64 offset = 0;   // where the service says the upload stands
    qint64 furthest = 0; // the most it has confirmed
    int setbacks = 0;    // exchanges in a row that took the upload no further
    bool ask = false;    // the last chunk went unanswered: ask how much of it arrived
    bool sentToEnd = false;
    for (;;) {
        QByteArray range;
        QByteArray chunk;
        if (ask) {
            co_await QCoro::sleepFor(250ms * setbacks);
            ensureAlive(self);
            range = "bytes */" + QByteArray::number(size);
        } else {
            // Drive takes pieces in whole multiples of 256 KiB.
            const qint64 want = std::min(m_limiter.pieceSize(chunkSize, 256 * 1024), size - offset);
            chunk = co_await reader.read(offset, want);
            ensureAlive(self);
            if (chunk.size() < want)
                throw NorvelaError(
                    QStringLiteral("%1 got shorter while it was uploaded").arg(localFile->path()));
            co_await m_limiter.take(chunk.size(), this);
            ensureAlive(self);
            range = "bytes " + QByteArray::number(offset) + '-' + QByteArray::number(offset + want - 1) +
                    '/' + QByteArray::number(size);
            sentToEnd = sentToEnd || offset + want == size;
        }
        const HttpResult reply = co_await putToSession(session, range, std::move(chunk));
        ensureAlive(self);

        if (reply.status == 200 || reply.status == 201) {
            if (progress)
                progress(size);
            co_return result(reply.body, size);
        }
        if (reply.status == 308) {
            // Resumed from what the service holds, which may be less than was sent.
            offset = heldBytes(reply, size);
            if (offset > furthest) {
                furthest = offset;
                setbacks = 0;
                if (progress)
                    progress(offset);
            } else if (!ask) {
                ++setbacks;
            }
            ask = false;
        } else if (reply.status == 404) {
            throw ServiceError(ServiceError::Kind::transient,
                               QStringLiteral("Google Drive ended the upload session of %1").arg(name));
        } else if (reply.status != noReply && reply.status < 500) {
            throw DriveReplyError::read(reply).classify(fileID.has_value());
        } else {
            ++setbacks;
            ask = true;
        }
        if (setbacks > interruptionRetries) {
            // The last byte went out and its outcome never came: the file may exist now.
            if (!fileID && sentToEnd)
                co_return std::nullopt;
            if (reply.status == noReply)
                throw unanswered(reply);
            if (reply.status == 308)
                throw ServiceError(
                    ServiceError::Kind::transient,
                    QStringLiteral("Google Drive took no more of %1 after byte %2").arg(name).arg(offset));
            throw DriveReplyError::read(reply).classify(fileID.has_value());
        }
    }
}

// --- operations on an uploaded file ---

QCoro::Task<QList<FileRevision>> GoogleDriveProvider::listRevisions(QString, std::optional<QString> ref) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for revisions"));
    const QByteArray reply = co_await request(
        "GET", driveUrl(fileSegment(*ref) + "/revisions?fields=revisions(id,modifiedTime,size)"), true);
    const QJsonObject o = DecodeError::object(reply);
    QList<FileRevision> revisions;
    if (o.contains(QStringLiteral("revisions"))) {
        for (const QJsonValue& v : DecodeError::array(o, QStringLiteral("revisions"))) {
            const QJsonObject rev = element(v, QStringLiteral("revisions"));
            revisions.append({DecodeError::string(rev, QStringLiteral("id")),
                              isoDate(rev, QStringLiteral("modifiedTime")),
                              numberOr(optionalString(rev, QStringLiteral("size")), 0)});
        }
    }
    std::stable_sort(revisions.begin(), revisions.end(),
                     [](const FileRevision& a, const FileRevision& b) { return a.modified > b.modified; });
    co_return revisions;
}

QCoro::Task<CloudUploadResult> GoogleDriveProvider::restore(QString, std::optional<QString> ref,
                                                            FileRevision to) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for restore"));
    const QPointer<GoogleDriveProvider> self(this);
    const QByteArray old = co_await request(
        "GET", driveUrl(fileSegment(*ref) + "/revisions/" + QUrl::toPercentEncoding(to.id) + "?alt=media"),
        true, {}, {}, Http::downloadLimit(to.size));
    ensureAlive(self);
    // Drive keeps the old content as a new current version; the replaced one stays listed.
    const QByteArray reply = co_await request(
        "PATCH", uploadUrl(fileSegment(*ref) + "?uploadType=media&" + resultFields), true, old, octetStream);
    co_return result(reply, old.size());
}

QCoro::Task<QByteArray> GoogleDriveProvider::downloadCurrent(QString, std::optional<QString> ref,
                                                             qint64 size) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for download"));
    const QByteArray content = co_await request("GET", driveUrl(fileSegment(*ref) + "?alt=media"), true, {},
                                                {}, Http::downloadLimit(size));
    co_return content;
}

QCoro::Task<QUrl> GoogleDriveProvider::createSharedLink(QString, std::optional<QString> ref) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for shared link"));
    const QPointer<GoogleDriveProvider> self(this);
    // Granted again on every call: Drive keeps one such permission per file.
    const QJsonObject anyone{{QStringLiteral("role"), QStringLiteral("reader")},
                             {QStringLiteral("type"), QStringLiteral("anyone")}};
    co_await request("POST", driveUrl(fileSegment(*ref) + "/permissions"), true, compactJson(anyone),
                     QByteArray("application/json"));
    ensureAlive(self);
    const QByteArray reply =
        co_await request("GET", driveUrl(fileSegment(*ref) + "?fields=webViewLink"), true);
    const QUrl link(DecodeError::string(DecodeError::object(reply), QStringLiteral("webViewLink")),
                    QUrl::StrictMode);
    if (!link.isValid() || link.isRelative())
        throw ServiceError(ServiceError::Kind::transient, QStringLiteral("Google Drive sent a bad link"));
    co_return link;
}

QCoro::Task<AccountInfo> GoogleDriveProvider::fetchAccountInfo() {
    const QByteArray reply = co_await request(
        "GET", driveUrl("/about?fields=user(displayName,emailAddress),storageQuota(limit,usage)"), false);
    const QJsonObject about = DecodeError::object(reply);
    const QJsonObject user = DecodeError::object(about, QStringLiteral("user"));
    const QJsonObject quota = DecodeError::object(about, QStringLiteral("storageQuota"));
    AccountInfo info;
    info.displayName = DecodeError::string(user, QStringLiteral("displayName"));
    info.email = DecodeError::string(user, QStringLiteral("emailAddress"));
    info.planName = QStringLiteral("Google Drive");
    info.usedBytes = numberOr(optionalString(quota, QStringLiteral("usage")), 0);
    info.quotaBytes = numberOr(optionalString(quota, QStringLiteral("limit")), 0);
    info.uid = info.email; // Google accounts are known by their e-mail address
    co_return info;
}

} // namespace norvela
