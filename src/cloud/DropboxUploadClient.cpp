#include "DropboxUploadClient.h"

#include "DropboxApiArg.h"
#include "DropboxReplyError.h"
#include "PieceReader.h"
#include "auth/AuthError.h"
#include "auth/DropboxAuthService.h"
#include "net/BandwidthLimiter.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "net/ServiceError.h"
#include "sync/LocalFile.h"

#include <QNetworkRequest>

#include <QCoro/QCoroTimer>

#include <algorithm>
#include <memory>

namespace norvela {

using namespace std::chrono_literals;

namespace {

// The provider went while a step was waiting; the client and the auth service went with it.
void ensureAlive(const QPointer<QObject>& owner) {
    if (!owner)
        throw AuthError::notLinked();
}

DropboxUploadClient::UploadedFile fileMetadata(const QByteArray& body) {
    const QJsonObject o = DecodeError::object(body);
    return {DecodeError::string(o, QStringLiteral("rev")),
            DecodeError::string(o, QStringLiteral("content_hash")),
            DecodeError::integer(o, QStringLiteral("size"))};
}

QJsonObject cursor(const QString& sessionId, qint64 offset) {
    return {{QStringLiteral("session_id"), sessionId}, {QStringLiteral("offset"), offset}};
}

QNetworkRequest contentRequest(const QUrl& url, const QJsonObject& arg) {
    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", "application/octet-stream");
    request.setRawHeader("Dropbox-API-Arg", DropboxApiArg::encode(arg));
    return request;
}

// The network stack resends a request after a dropped connection unless told not to. A body
// it may resend goes to the network thread whole; one it must not is handed over 16 KiB at a
// time, a round trip between the threads each, which caps large pieces well below the wire.
QCoro::Task<HttpResult> sendWithToken(QNetworkRequest request, QString token, QByteArray body,
                                      DropboxUploadClient::Resend resend) {
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (resend == DropboxUploadClient::Resend::allowed)
        co_return co_await Http::send(request, "POST", std::move(body), 60s);
    co_return co_await Http::sendOnce(request, "POST", std::move(body), 60s);
}

} // namespace

DropboxUploadClient::DropboxUploadClient(DropboxAuthService& auth, BandwidthLimiter& limiter, QObject* owner)
    : m_auth(auth), m_limiter(limiter), m_owner(owner) {}

QJsonObject DropboxUploadClient::commitArg(const QString& dropboxPath) {
    return {{QStringLiteral("path"), dropboxPath},
            {QStringLiteral("mode"), QStringLiteral("overwrite")},
            {QStringLiteral("autorename"), false},
            {QStringLiteral("mute"), false}};
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::singleShotUpload(std::shared_ptr<const LocalFile> localFile, QString dropboxPath,
                                      Progress progress) {
    const QPointer<QObject> owner = m_owner;
    const qint64 size = localFile->size();
    QJsonObject arg = commitArg(dropboxPath);
    arg.insert(QStringLiteral("strict_conflict"), false);
    const QNetworkRequest request =
        contentRequest(m_auth.endpoints().contentUrl(QStringLiteral("/2/files/upload")), arg);
    co_await m_limiter.take(size, owner);
    ensureAlive(owner);
    // Sent from memory (at most one piece's size): the network thread then takes the body
    // whole instead of fetching it from this thread piece by piece.
    PieceReader reader(localFile);
    const QByteArray content = co_await reader.read(0, size);
    ensureAlive(owner);
    // A whole file to a path: sent twice, it stores the same bytes again.
    AuthService::Send send = [request, content](QString token) {
        return sendWithToken(request, std::move(token), content, Resend::allowed);
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    ensureAlive(owner);
    if (reply.status != 200)
        throw DropboxReplyError::read(reply).classify();
    if (progress)
        progress(size);
    co_return fileMetadata(reply.body);
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::sessionUpload(std::shared_ptr<const LocalFile> localFile, QString dropboxPath,
                                   Progress progress) {
    const QPointer<QObject> owner = m_owner;
    const qint64 size = localFile->size();
    PieceReader reader(localFile);
    const qint64 pieceSize = m_limiter.pieceSize(chunkSize, pieceUnit);
    QByteArray first = co_await reader.read(0, std::clamp<qint64>(size, 0, pieceSize));
    qint64 offset = first.size();
    co_await m_limiter.take(offset, owner);
    ensureAlive(owner);
    // Pieces are handed on, not copied: the reader reuses a piece's memory for the piece after
    // next once its exchange has let go of it.
    const QString sessionId = co_await sessionStart(std::move(first));
    ensureAlive(owner);
    if (progress)
        progress(offset);

    int retriesLeft = appendRetries;
    while (offset < size) {
        QByteArray piece = co_await reader.read(offset, std::min(pieceSize, size - offset));
        const qint64 sent = piece.size();
        if (sent == 0)
            break; // the file shrank: commit what it still has
        co_await m_limiter.take(sent, owner);
        ensureAlive(owner);
        const Appended appended = co_await sessionAppend(sessionId, offset, std::move(piece));
        ensureAlive(owner);
        if (!appended.held) {
            // The same append once more. If it went through after all, the service answers
            // with where the session stands.
            if (retriesLeft-- == 0)
                throw ServiceError(ServiceError::Kind::transient, appended.interruption);
            co_await QCoro::sleepFor(250ms * (appendRetries - retriesLeft));
            ensureAlive(owner);
            continue;
        }
        // Only forward: a session that lost acknowledged bytes is not to be trusted further.
        if (*appended.held <= offset || *appended.held > size)
            throw ServiceError(
                ServiceError::Kind::transient,
                QStringLiteral("Dropbox reported the upload at byte %1 of %2 after %3 were sent")
                    .arg(*appended.held)
                    .arg(size)
                    .arg(offset + sent));
        offset = *appended.held;
        retriesLeft = appendRetries;
        if (progress)
            progress(offset);
    }
    co_return co_await sessionFinish(sessionId, offset, dropboxPath);
}

QCoro::Task<QString> DropboxUploadClient::sessionStart(QByteArray firstChunk) {
    const QJsonObject arg{{QStringLiteral("close"), false}};
    // Sent twice, it opens a second session, and the first is left to expire unused.
    const QByteArray reply =
        co_await content(QStringLiteral("upload_session/start"), arg, std::move(firstChunk), Resend::allowed);
    co_return DecodeError::string(DecodeError::object(reply), QStringLiteral("session_id"));
}

QCoro::Task<DropboxUploadClient::Appended>
DropboxUploadClient::sessionAppend(QString sessionId, qint64 offset, QByteArray chunk) {
    const qint64 end = offset + chunk.size();
    const QJsonObject arg{{QStringLiteral("cursor"), cursor(sessionId, offset)},
                          {QStringLiteral("close"), false}};
    HttpResult reply;
    QString lost;
    try {
        // Sent twice, the second copy is refused at its offset, with where the session stands.
        reply = co_await contentCall(QStringLiteral("upload_session/append_v2"), arg, std::move(chunk),
                                     Resend::allowed);
    } catch (const ServiceError& e) {
        if (e.kind() != ServiceError::Kind::transient) // no reply is the one failure thrown here
            throw;
        lost = e.description();
    }
    if (!lost.isEmpty())
        co_return Appended{std::nullopt, lost};
    if (reply.status == 200)
        co_return Appended{end, {}};
    const DropboxReplyError error = DropboxReplyError::read(reply);
    if (reply.status >= 500 && reply.status <= 599)
        co_return Appended{std::nullopt, error.classify().description()};
    if (reply.status == 409 && error.has(QStringLiteral("incorrect_offset")) && error.correctOffset())
        co_return Appended{*error.correctOffset(), {}};
    throw error.classify();
}

QCoro::Task<DropboxUploadClient::UploadedFile>
DropboxUploadClient::sessionFinish(QString sessionId, qint64 offset, QString dropboxPath) {
    // Unlike the one-request argument, the commit carries no "strict_conflict".
    const QJsonObject arg{{QStringLiteral("cursor"), cursor(sessionId, offset)},
                          {QStringLiteral("commit"), commitArg(dropboxPath)}};
    // Sent twice after it went through, it would fail and make the whole file go again.
    const QByteArray reply =
        co_await content(QStringLiteral("upload_session/finish"), arg, QByteArray(), Resend::never);
    co_return fileMetadata(reply);
}

QCoro::Task<HttpResult> DropboxUploadClient::contentCall(QString endpoint, QJsonObject arg, QByteArray body,
                                                         Resend resend) {
    const QPointer<QObject> owner = m_owner;
    const QNetworkRequest request =
        contentRequest(m_auth.endpoints().contentUrl(QStringLiteral("/2/files/") + endpoint), arg);
    AuthService::Send send = [request, body = std::move(body), resend](QString token) {
        return sendWithToken(request, std::move(token), body, resend);
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    ensureAlive(owner);
    co_return reply;
}

QCoro::Task<QByteArray> DropboxUploadClient::content(QString endpoint, QJsonObject arg, QByteArray body,
                                                     Resend resend) {
    const HttpResult reply =
        co_await contentCall(std::move(endpoint), std::move(arg), std::move(body), resend);
    if (reply.status != 200)
        throw DropboxReplyError::read(reply).classify();
    co_return reply.body;
}

} // namespace norvela
