#include "GoogleDriveProvider.h"

#include "FileChunk.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "net/NetworkError.h"
#include "sync/LocalFile.h"

#include <QFile>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QUuid>
#include <cstring>

#include <algorithm>
#include <limits>

namespace norvela {

using namespace std::chrono_literals;

namespace {

constexpr qint64 chunkSize = 8 * 1024 * 1024;

std::unique_ptr<QFile> openDevice(const LocalFile& file) {
    std::unique_ptr<QFile> device = file.device();
    if (!device)
        throw NorvelaError(QStringLiteral("Couldn't read %1: %2")
                               .arg(file.path(), QString::fromLocal8Bit(std::strerror(errno))));
    return device;
}
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

// The folder search of Drive's query language. Inside the quoted name a backslash and an
// apostrophe are escaped with a backslash, the only escapes the language has.
QString folderQuery(const QString& name, const QString& parentID) {
    QString escaped = name;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QStringLiteral("name = '") + escaped + QStringLiteral("' and '") + parentID +
           QStringLiteral("' in parents and mimeType = '") + QString::fromLatin1(folderType) +
           QStringLiteral("' and trashed = false");
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

QCoro::Task<QByteArray> GoogleDriveProvider::request(QByteArray method, QUrl url,
                                                     std::optional<QByteArray> body,
                                                     std::optional<QByteArray> contentType) {
    const QPointer<GoogleDriveProvider> self(this);
    const QString token = co_await m_auth.validAccessToken();
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (contentType)
        request.setHeader(QNetworkRequest::ContentTypeHeader, *contentType);
    const HttpResult reply = co_await Http::send(request, method, body.value_or(QByteArray()), 30s);
    if (self)
        m_auth.noteReply(reply.status);
    if (reply.status < 200 || reply.status > 299)
        throw bad(QStringLiteral("HTTP %1: %2")
                      .arg(reply.status)
                      .arg(reply.utf8Body() ? reply.bodyText() : QString::fromUtf8(url.toEncoded())));
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
    // Every byte of the expression except the unreserved URL characters is percent-encoded, so
    // "+" (a space once form-decoded), "&", "=", "#" and "%" in a name stay part of the name.
    const QByteArray query = folderQuery(name, parentID).toUtf8().toPercentEncoding();
    const QByteArray found = co_await request("GET", driveUrl("/files?q=" + query + "&fields=files(id)"));
    const QJsonArray files = DecodeError::array(DecodeError::object(found), QStringLiteral("files"));
    if (!files.isEmpty()) // of several folders with this name, the first one found
        co_return DecodeError::string(element(files.first(), QStringLiteral("files")), QStringLiteral("id"));

    ensureAlive(self);
    const QJsonObject folder{{QStringLiteral("name"), name},
                             {QStringLiteral("mimeType"), QString::fromLatin1(folderType)},
                             {QStringLiteral("parents"), QJsonArray{parentID}}};
    const QByteArray created =
        co_await request("POST", driveUrl("/files?fields=id"), compactJson(folder), jsonType);
    co_return DecodeError::string(DecodeError::object(created), QStringLiteral("id"));
}

// --- uploads ---

QCoro::Task<CloudUploadResult> GoogleDriveProvider::upload(std::shared_ptr<const LocalFile> file,
                                                           QString relativePath,
                                                           std::optional<QString> existingRef,
                                                           bool /*mayExist*/, Progress progress) {
    const QPointer<GoogleDriveProvider> self(this);
    const qint64 size = file->size();
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    const QString name = relativePath.mid(slash + 1);
    const QString folderPath = slash < 0 ? QString() : relativePath.left(slash);

    // Drive addresses files by id: a known id is updated in place, anything else is a new file.
    std::optional<QString> parentID;
    if (!existingRef) {
        parentID = co_await ensureFolder(folderPath);
        ensureAlive(self);
    }

    const bool limited = m_limiter.activeBytesPerSecond() > 0;
    if (size > (limited ? limitedOneRequestMax : chunkSize)) {
        const CloudUploadResult sent =
            co_await resumableUpload(existingRef, name, parentID, file, std::move(progress));
        co_return sent;
    }
    // Bytes the file gained after `size` was measured wait for the next upload.
    const std::unique_ptr<QFile> device = openDevice(*file);
    const QByteArray content = co_await FileChunk::read(*device, std::max<qint64>(size, 0));
    ensureAlive(self);
    const CloudUploadResult sent = co_await simpleUpload(existingRef, name, parentID, content);
    if (progress)
        progress(size);
    co_return sent;
}

QCoro::Task<CloudUploadResult> GoogleDriveProvider::simpleUpload(std::optional<QString> fileID, QString name,
                                                                 std::optional<QString> parentID,
                                                                 QByteArray content) {
    if (fileID) { // only the content changes; the file keeps its name in Drive
        const QByteArray reply =
            co_await request("PATCH", uploadUrl(fileSegment(*fileID) + "?uploadType=media&" + resultFields),
                             content, octetStream);
        co_return result(reply, content.size());
    }

    const QByteArray boundary =
        "norvela-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    QJsonObject metadata{{QStringLiteral("name"), name}};
    if (parentID)
        metadata.insert(QStringLiteral("parents"), QJsonArray{*parentID});
    QByteArray body;
    body.reserve(content.size() + 512);
    body += "--" + boundary + "\r\nContent-Type: " + jsonType + "\r\n\r\n";
    body += compactJson(metadata);
    body += "\r\n--" + boundary + "\r\nContent-Type: " + octetStream + "\r\n\r\n";
    body += content;
    body += "\r\n--" + boundary + "--";
    const QByteArray reply =
        co_await request("POST", uploadUrl("/files?uploadType=multipart&" + resultFields), body,
                         "multipart/related; boundary=" + boundary);
    co_return result(reply, content.size());
}

QCoro::Task<CloudUploadResult>
GoogleDriveProvider::resumableUpload(std::optional<QString> fileID, QString name,
                                     std::optional<QString> parentID,
                                     std::shared_ptr<const LocalFile> localFile, Progress progress) {
    const QPointer<GoogleDriveProvider> self(this);
    const qint64 size = localFile->size();
    QJsonObject metadata{{QStringLiteral("name"), name}};
    if (!fileID && parentID)
        metadata.insert(QStringLiteral("parents"), QJsonArray{*parentID});

    const QString token = co_await m_auth.validAccessToken();
    ensureAlive(self);
    QNetworkRequest start(fileID ? uploadUrl(fileSegment(*fileID) + "?uploadType=resumable&" + resultFields)
                                 : uploadUrl("/files?uploadType=resumable&" + resultFields));
    start.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    start.setHeader(QNetworkRequest::ContentTypeHeader, jsonType);
    const HttpResult started =
        co_await Http::send(start, fileID ? "PATCH" : "POST", compactJson(metadata), 30s);
    ensureAlive(self);
    m_auth.noteReply(started.status);
    const QByteArray location = started.header("Location");
    if (started.status != 200 || location.isEmpty())
        throw bad(QStringLiteral("no resumable session URI"));
    const QUrl session = QUrl::fromEncoded(location);

    const std::unique_ptr<QFile> device = openDevice(*localFile);
    QFile& file = *device;
    qint64 offset = 0;
    std::optional<QByteArray> final;
    while (offset < size) {
        // One chunk in memory at a time.
        const QByteArray chunk = co_await FileChunk::read(file, std::min(chunkSize, size - offset));
        ensureAlive(self);
        if (chunk.isEmpty())
            break;
        co_await m_limiter.take(chunk.size(), this);
        ensureAlive(self);

        // The session URI alone identifies the upload: chunks carry no token.
        QNetworkRequest put(session);
        put.setRawHeader("Content-Range", "bytes " + QByteArray::number(offset) + '-' +
                                              QByteArray::number(offset + chunk.size() - 1) + '/' +
                                              QByteArray::number(size));
        put.setHeader(QNetworkRequest::ContentTypeHeader, octetStream);
        HttpResult reply;
        try {
            reply = co_await Http::send(put, "PUT", chunk, 120s);
        } catch (const NetworkError&) {
            throw bad(QStringLiteral("no HTTP response mid-upload"));
        }
        if (reply.status == 200 || reply.status == 201)
            final = reply.body;
        else if (reply.status != 308) // 308: taken whole; the reported range is not checked
            throw bad(QStringLiteral("resumable chunk HTTP %1: %2").arg(reply.status).arg(reply.bodyText()));
        offset += chunk.size();
        if (progress)
            progress(offset);
    }
    if (!final)
        throw bad(QStringLiteral("resumable upload never completed"));
    co_return result(*final, size);
}

// --- operations on an uploaded file ---

QCoro::Task<QList<FileRevision>> GoogleDriveProvider::listRevisions(QString, std::optional<QString> ref) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for revisions"));
    const QByteArray reply = co_await request(
        "GET", driveUrl(fileSegment(*ref) + "/revisions?fields=revisions(id,modifiedTime,size)"));
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
    const QString token = co_await m_auth.validAccessToken();
    ensureAlive(self);
    QNetworkRequest fetch(driveUrl(fileSegment(*ref) + "/revisions/" + to.id.toUtf8() + "?alt=media"));
    fetch.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    HttpResult old;
    try {
        old = co_await Http::send(fetch, "GET", QByteArray(), 60s);
    } catch (const NetworkError&) {
        throw bad(QStringLiteral("couldn't download revision"));
    }
    ensureAlive(self);
    m_auth.noteReply(old.status);
    if (old.status != 200)
        throw bad(QStringLiteral("couldn't download revision"));

    // Drive keeps the old content as a new current version; the replaced one stays listed.
    const QByteArray reply = co_await request(
        "PATCH", uploadUrl(fileSegment(*ref) + "?uploadType=media&" + resultFields), old.body, octetStream);
    co_return result(reply, old.body.size());
}

QCoro::Task<QByteArray> GoogleDriveProvider::downloadCurrent(QString, std::optional<QString> ref) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for download"));
    const QByteArray content = co_await request("GET", driveUrl(fileSegment(*ref) + "?alt=media"));
    co_return content;
}

QCoro::Task<QUrl> GoogleDriveProvider::createSharedLink(QString, std::optional<QString> ref) {
    if (!ref)
        throw bad(QStringLiteral("no Drive file id for shared link"));
    const QPointer<GoogleDriveProvider> self(this);
    // Granted again on every call: Drive keeps one such permission per file.
    const QJsonObject anyone{{QStringLiteral("role"), QStringLiteral("reader")},
                             {QStringLiteral("type"), QStringLiteral("anyone")}};
    co_await request("POST", driveUrl(fileSegment(*ref) + "/permissions"), compactJson(anyone),
                     QByteArray("application/json"));
    ensureAlive(self);
    const QByteArray reply = co_await request("GET", driveUrl(fileSegment(*ref) + "?fields=webViewLink"));
    const QUrl link(DecodeError::string(DecodeError::object(reply), QStringLiteral("webViewLink")),
                    QUrl::StrictMode);
    if (!link.isValid() || link.isRelative())
        throw bad(QStringLiteral("bad Drive link"));
    co_return link;
}

QCoro::Task<AccountInfo> GoogleDriveProvider::fetchAccountInfo() {
    const QByteArray reply = co_await request(
        "GET", driveUrl("/about?fields=user(displayName,emailAddress),storageQuota(limit,usage)"));
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
