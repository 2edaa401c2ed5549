#include "DropboxProvider.h"

#include "DropboxAccountClient.h"
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
        throw AuthError::badResponse(QStringLiteral("bad shared link URL"));
    return url;
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

QCoro::Task<QByteArray> DropboxProvider::rpc(QString endpoint, QJsonObject body) {
    const QPointer<DropboxProvider> self(this);
    const QString token = co_await m_auth.validAccessToken();
    if (!self)
        throw AuthError::notLinked();
    QNetworkRequest request(m_auth.endpoints().apiUrl(QStringLiteral("/2/") + endpoint));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setRawHeader("Content-Type", "application/json");
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const HttpResult reply = co_await Http::send(request, "POST", json, 20s);
    if (!self)
        throw AuthError::notLinked();
    m_auth.noteReply(reply.status);
    if (reply.status != 200)
        throw AuthError::badResponse(reply.utf8Body() ? reply.bodyText() : endpoint);
    co_return reply.body;
}

QCoro::Task<QUrl> DropboxProvider::createSharedLink(QString relativePath, std::optional<QString>) {
    const QPointer<DropboxProvider> self(this);
    const QString path = dropboxPath(relativePath);
    try {
        const QJsonObject args{{QStringLiteral("path"), path}};
        const QByteArray reply =
            co_await rpc(QStringLiteral("sharing/create_shared_link_with_settings"), args);
        co_return sharedLinkUrl(DecodeError::string(DecodeError::object(reply), QStringLiteral("url")));
    } catch (const AuthError& error) {
        // A file shares one link: when it has one already, that link is the answer.
        if (error.kind() != AuthError::Kind::badResponse ||
            !error.payload().contains(QLatin1String("shared_link_already_exists")))
            throw;
    }
    if (!self)
        throw AuthError::notLinked();
    const QJsonObject args{{QStringLiteral("path"), path}, {QStringLiteral("direct_only"), true}};
    const QByteArray reply = co_await rpc(QStringLiteral("sharing/list_shared_links"), args);
    const QJsonArray links = DecodeError::array(DecodeError::object(reply), QStringLiteral("links"));
    if (links.isEmpty())
        throw AuthError::badResponse(QStringLiteral("no existing shared link"));
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

QCoro::Task<QByteArray> DropboxProvider::downloadCurrent(QString relativePath, std::optional<QString>) {
    const QPointer<DropboxProvider> self(this);
    const QString token = co_await m_auth.validAccessToken();
    if (!self)
        throw AuthError::notLinked();
    QNetworkRequest request(m_auth.endpoints().contentUrl(QStringLiteral("/2/files/download")));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    const QJsonObject arg{{QStringLiteral("path"), dropboxPath(relativePath)}};
    request.setRawHeader("Dropbox-API-Arg", QJsonDocument(arg).toJson(QJsonDocument::Compact));
    const HttpResult reply = co_await Http::send(request, "POST", QByteArray(), 60s);
    if (!self)
        throw AuthError::notLinked();
    m_auth.noteReply(reply.status);
    if (reply.status != 200)
        throw AuthError::badResponse(QStringLiteral("download HTTP ") + QString::number(reply.status));
    co_return reply.body;
}

} // namespace norvela
