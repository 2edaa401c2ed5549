#include "DropboxUploadClient.h"

#include "FileChunk.h"
#include "auth/AuthError.h"
#include "auth/DropboxAuthService.h"
#include "net/BandwidthLimiter.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "sync/LocalFile.h"

#include <QFile>

#include <cstring>

#include <QNetworkRequest>
#include <memory>

#include <algorithm>

namespace norvela {

using namespace std::chrono_literals;

namespace {

// The provider went while a step was waiting; the client and the auth service went with it.
struct FileDeleter {
    void operator()(QFile* file) const { file->deleteLater(); }
};

void ensureAlive(const QPointer<QObject>& owner) {
    if (!owner)
        throw AuthError::notLinked();
}

NorvelaError fileError(const LocalFile& file) {
    return NorvelaError(file.path() + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
}

DropboxUploadClient::UploadedFile fileMetadata(const QByteArray& body) {
    const QJsonObject o = DecodeError::object(body);
    return {DecodeError::string(o, QStringLiteral("rev")),
            DecodeError::string(o, QStringLiteral("content_hash")),
            DecodeError::integer(o, QStringLiteral("size"))};
}

QByteArray cursor(const QString& sessionId, qint64 offset) {
    return "{\"session_id\":\"" + sessionId.toUtf8() + "\",\"offset\":" + QByteArray::number(offset) + "}";
}

} // namespace

DropboxUploadClient::DropboxUploadClient(DropboxAuthService& auth, BandwidthLimiter& limiter, QObject* owner)
    : m_auth(auth), m_limiter(limiter), m_owner(owner) {}

QByteArray DropboxUploadClient::escapePath(const QString& dropboxPath) {
    QString escaped = dropboxPath;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return escaped.toUtf8();
}

void DropboxUploadClient::check(const HttpResult& reply) {
    if (reply.status <= 0) // a result that never carried a status line
        throw AuthError::badResponse(QStringLiteral("no HTTP response"));
    if (reply.status != 200)
        throw AuthError::badResponse(QStringLiteral("HTTP ") + QString::number(reply.status) +
                                     QStringLiteral(": ") + reply.bodyText());
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::singleShotUpload(std::shared_ptr<const LocalFile> localFile, QString dropboxPath,
                                      Progress progress) {
    const QPointer<QObject> owner = m_owner;
    const qint64 size = localFile->size();
    const QString token = co_await m_auth.validAccessToken();
    ensureAlive(owner);
    QNetworkRequest request(m_auth.endpoints().contentUrl(QStringLiteral("/2/files/upload")));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("Content-Type", "application/octet-stream");
    request.setRawHeader("Dropbox-API-Arg", "{\"path\":\"" + escapePath(dropboxPath) +
                                                "\",\"mode\":\"overwrite\",\"autorename\":false,"
                                                "\"mute\":false,\"strict_conflict\":false}");
    co_await m_limiter.take(size, owner);
    ensureAlive(owner);

    // The network manager reads the body from the file as it sends; it is never loaded whole.
    // The network stack may still touch the body device while the finished reply waits for
    // its deferred deletion; deleting the file later too keeps it alive until after that.
    const std::unique_ptr<QFile, FileDeleter> file(localFile->device().release());
    if (!file)
        throw fileError(*localFile);
    const HttpResult reply = co_await Http::send(request, "POST", file.get(), 60s);
    ensureAlive(owner);
    m_auth.noteReply(reply.status);
    check(reply);
    if (progress)
        progress(size);
    co_return fileMetadata(reply.body);
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::sessionUpload(std::shared_ptr<const LocalFile> localFile, QString dropboxPath,
                                   Progress progress) {
    const QPointer<QObject> owner = m_owner;
    const qint64 size = localFile->size();
    const std::unique_ptr<QFile> device = localFile->device();
    if (!device)
        throw fileError(*localFile);
    QFile& file = *device;

    QByteArray chunk = co_await FileChunk::read(file, std::clamp<qint64>(size, 0, chunkSize));
    co_await m_limiter.take(chunk.size(), owner);
    ensureAlive(owner);
    const QString sessionId = co_await sessionStart(chunk);
    ensureAlive(owner);
    qint64 offset = chunk.size();
    if (progress)
        progress(offset);

    while (offset < size) {
        chunk.clear(); // let go of the sent chunk first: one chunk in memory at a time
        chunk = co_await FileChunk::read(file, std::min(chunkSize, size - offset));
        if (chunk.isEmpty())
            break; // the file shrank: commit what it still has
        co_await m_limiter.take(chunk.size(), owner);
        ensureAlive(owner);
        co_await sessionAppend(sessionId, offset, chunk);
        ensureAlive(owner);
        offset += chunk.size();
        if (progress)
            progress(offset);
    }
    chunk.clear();
    co_return co_await sessionFinish(sessionId, offset, dropboxPath);
}

QCoro::Task<QString> DropboxUploadClient::sessionStart(QByteArray firstChunk) {
    const QUrl url = m_auth.endpoints().contentUrl(QStringLiteral("/2/files/upload_session/start"));
    const QByteArray body = co_await contentPost(url, "{\"close\": false}", firstChunk);
    co_return DecodeError::string(DecodeError::object(body), QStringLiteral("session_id"));
}

QCoro::Task<> DropboxUploadClient::sessionAppend(QString sessionId, qint64 offset, QByteArray chunk) {
    const QUrl url = m_auth.endpoints().contentUrl(QStringLiteral("/2/files/upload_session/append_v2"));
    const QByteArray arg = "{\"cursor\":" + cursor(sessionId, offset) + ",\"close\":false}";
    co_await contentPost(url, arg, chunk);
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::sessionFinish(QString sessionId, qint64 offset, QString dropboxPath) {
    const QUrl url = m_auth.endpoints().contentUrl(QStringLiteral("/2/files/upload_session/finish"));
    // Unlike the one-request argument, the commit carries no "strict_conflict".
    const QByteArray commit = "{\"path\":\"" + escapePath(dropboxPath) +
                              "\",\"mode\":\"overwrite\",\"autorename\":false,\"mute\":false}";
    const QByteArray arg = "{\"cursor\":" + cursor(sessionId, offset) + ",\"commit\":" + commit + "}";
    const QByteArray body = co_await contentPost(url, arg, QByteArray());
    co_return fileMetadata(body);
}

QCoro::Task<QByteArray> DropboxUploadClient::contentPost(QUrl url, QByteArray arg, QByteArray body) {
    const QPointer<QObject> owner = m_owner;
    const QString token = co_await m_auth.validAccessToken();
    ensureAlive(owner);
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("Content-Type", "application/octet-stream");
    request.setRawHeader("Dropbox-API-Arg", arg);
    const HttpResult reply = co_await Http::send(request, "POST", body, 60s);
    ensureAlive(owner);
    m_auth.noteReply(reply.status);
    check(reply);
    co_return reply.body;
}

} // namespace norvela
