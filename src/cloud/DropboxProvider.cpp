#include "DropboxProvider.h"

#include "DropboxAccountClient.h"
#include "DropboxApiArg.h"
#include "DropboxReplyError.h"
#include "DropboxUploadClient.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "sync/LocalFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPointer>

namespace norvela {

using namespace std::chrono_literals;

namespace {

// The account's folder mirrors the root of the space the token grants.
QString dropboxPath(const QString& relativePath) {
    return QLatin1Char('/') + relativePath;
}

QUrl sharedLinkUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        throw ServiceError(ServiceError::Kind::transient,
                           QStringLiteral("Dropbox sent a bad shared link URL"));
    return url;
}

QCoro::Task<HttpResult> sendWithToken(QNetworkRequest request, QString token, QByteArray body,
                                      std::chrono::milliseconds timeout, Http::Limits limits = {}) {
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    co_return co_await Http::send(request, "POST", std::move(body), timeout, limits);
}

QDateTime isoDate(const QJsonObject& o, const QString& key) {
    const QDateTime at = QDateTime::fromString(DecodeError::string(o, key), Qt::ISODate);
    if (!at.isValid())
        throw DecodeError(
            QStringLiteral("The data couldn't be read because \"%1\" is missing or not a date.").arg(key));
    return at;
}

} // namespace

DropboxProvider::DropboxProvider(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                                 BandwidthLimiter& limiter)
    : m_limiter(limiter), m_auth(std::move(slot), std::move(endpoints)) {}

DropboxProvider::~DropboxProvider() = default;

QString DropboxProvider::accountKey() const {
    return m_auth.slot() ? m_auth.slot()->storageKey : id();
}

std::optional<QString> DropboxProvider::accountUid() const {
    if (m_auth.slot() && !m_auth.slot()->uid.isEmpty())
        return m_auth.slot()->uid;
    return std::nullopt;
}

std::optional<QString> DropboxProvider::accountEmail() const {
    if (m_auth.slot() && !m_auth.slot()->email.isEmpty())
        return m_auth.slot()->email;
    return std::nullopt;
}

DropboxUploadClient& DropboxProvider::uploader() {
    if (!m_uploader)
        m_uploader = std::make_unique<DropboxUploadClient>(m_auth, m_limiter, this);
    return *m_uploader;
}

DropboxAccountClient& DropboxProvider::accountClient() {
    if (!m_accountClient)
        m_accountClient = std::make_unique<DropboxAccountClient>(m_auth, this);
    return *m_accountClient;
}

QCoro::Task<> DropboxProvider::link(bool openBrowser, bool forceAccountSelection) {
    co_await m_auth.link(openBrowser, forceAccountSelection);
}

QCoro::Task<> DropboxProvider::unlink() {
    co_await m_auth.unlink();
}

QCoro::Task<AccountInfo> DropboxProvider::fetchAccountInfo() {
    co_return co_await accountClient().fetchAccountInfo();
}

void DropboxProvider::adoptIdentity(const AccountInfo& info) {
    m_auth.backfillIdentity(info.uid, info.email);
}

QCoro::Task<CloudUploadResult> DropboxProvider::upload(std::shared_ptr<const LocalFile> file,
                                                       QString relativePath, std::optional<QString>,
                                                       bool /*mayExist: a path upload overwrites anyway*/,
                                                       Progress progress) {
    const QString path = dropboxPath(relativePath);
    const qint64 threshold =
        m_limiter.activeBytesPerSecond() > 0 ? limitedSessionThreshold : sessionThreshold;
    DropboxUploadClient& client = uploader();
    DropboxUploadClient::UploadedFile uploaded;
    if (file->size() > threshold)
        uploaded = co_await client.sessionUpload(file, path, progress);
    else
        uploaded = co_await client.singleShotUpload(file, path, progress);
    co_return CloudUploadResult{uploaded.rev, uploaded.contentHash, uploaded.size};
}

QCoro::Task<HttpResult> DropboxProvider::rpcReply(QString endpoint, QJsonObject body) {
    const QPointer<DropboxProvider> self(this);
    QNetworkRequest request(m_auth.endpoints().apiUrl(QStringLiteral("/2/") + endpoint));
    request.setRawHeader("Content-Type", "application/json");
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    AuthService::Send send = [request, json](QString token) {
        return sendWithToken(request, std::move(token), json, 20s);
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    if (!self)
        throw AuthError::notLinked();
    co_return reply;
}

QCoro::Task<QByteArray> DropboxProvider::rpc(QString endpoint, QJsonObject body) {
    const HttpResult reply = co_await rpcReply(std::move(endpoint), std::move(body));
    if (reply.status != 200)
        throw DropboxReplyError::read(reply).classify();
    co_return reply.body;
}

QCoro::Task<QUrl> DropboxProvider::createSharedLink(QString relativePath, std::optional<QString>) {
    const QPointer<DropboxProvider> self(this);
    const QString path = dropboxPath(relativePath);
    const QJsonObject create{{QStringLiteral("path"), path}};
    const HttpResult created =
        co_await rpcReply(QStringLiteral("sharing/create_shared_link_with_settings"), create);
    if (created.status == 200)
        co_return sharedLinkUrl(
            DecodeError::string(DecodeError::object(created.body), QStringLiteral("url")));
    // A file shares one link: when it has one already, that link is the answer.
    const DropboxReplyError error = DropboxReplyError::read(created);
    if (!error.has(QStringLiteral("shared_link_already_exists")))
        throw error.classify();
    if (!self)
        throw AuthError::notLinked();
    const QJsonObject args{{QStringLiteral("path"), path}, {QStringLiteral("direct_only"), true}};
    const QByteArray reply = co_await rpc(QStringLiteral("sharing/list_shared_links"), args);
    const QJsonArray links = DecodeError::array(DecodeError::object(reply), QStringLiteral("links"));
    if (links.isEmpty())
        throw ServiceError(ServiceError::Kind::transient,
                           QStringLiteral("Dropbox listed no existing shared link"));
    co_return sharedLinkUrl(DecodeError::string(links.first().toObject(), QStringLiteral("url")));
}

QCoro::Task<QList<FileRevision>> DropboxProvider::listRevisions(QString relativePath,
                                                                std::optional<QString>) {
    const QJsonObject args{{QStringLiteral("path"), dropboxPath(relativePath)},
                           {QStringLiteral("mode"), QStringLiteral("path")},
                           {QStringLiteral("limit"), 30}};
    const QByteArray reply = co_await rpc(QStringLiteral("files/list_revisions"), args);
    QList<FileRevision> revisions;
    for (const QJsonValue& value :
         DecodeError::array(DecodeError::object(reply), QStringLiteral("entries"))) {
        const QJsonObject entry = value.toObject();
        revisions.append({DecodeError::string(entry, QStringLiteral("rev")),
                          isoDate(entry, QStringLiteral("server_modified")),
                          DecodeError::integer(entry, QStringLiteral("size"))});
    }
    co_return revisions;
}

QCoro::Task<CloudUploadResult> DropboxProvider::restore(QString relativePath, std::optional<QString>,
                                                        FileRevision to) {
    const QJsonObject args{{QStringLiteral("path"), dropboxPath(relativePath)},
                           {QStringLiteral("rev"), to.id}};
    const QByteArray reply = co_await rpc(QStringLiteral("files/restore"), args);
    const QJsonObject meta = DecodeError::object(reply);
    co_return CloudUploadResult{DecodeError::string(meta, QStringLiteral("rev")),
                                DecodeError::string(meta, QStringLiteral("content_hash")),
                                DecodeError::integer(meta, QStringLiteral("size"))};
}

QCoro::Task<QByteArray> DropboxProvider::downloadCurrent(QString relativePath, std::optional<QString>,
                                                         qint64 size) {
    const QPointer<DropboxProvider> self(this);
    QNetworkRequest request(m_auth.endpoints().contentUrl(QStringLiteral("/2/files/download")));
    request.setRawHeader("Dropbox-API-Arg",
                         DropboxApiArg::encode({{QStringLiteral("path"), dropboxPath(relativePath)}}));
    AuthService::Send send = [request, size](QString token) {
        return sendWithToken(request, std::move(token), QByteArray(), 60s,
                             {.maxReplyBytes = Http::downloadLimit(size)});
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    if (!self)
        throw AuthError::notLinked();
    if (reply.status != 200)
        throw DropboxReplyError::read(reply).classify();
    co_return reply.body;
}

} // namespace norvela
