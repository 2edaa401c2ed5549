#pragma once

#include "CloudProvider.h"
#include "DropboxFileHasher.h"
#include "auth/DropboxAuthService.h"
#include "net/BandwidthLimiter.h"
#include "net/Http.h"

#include <QJsonObject>

#include <memory>

namespace norvela {

class DropboxAccountClient;
class DropboxUploadClient;

// A Dropbox account: files live at "/" + their relative path.
class DropboxProvider : public CloudProvider {
    Q_OBJECT
public:
    DropboxProvider(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                    BandwidthLimiter& limiter = BandwidthLimiter::shared());
    ~DropboxProvider() override;

    QString id() const override { return QStringLiteral("dropbox"); }
    QString displayName() const override { return QStringLiteral("Dropbox"); }
    const FileHasher& hasher() const override { return m_hasher; }
    QString accountKey() const override;
    std::optional<QString> accountUid() const override;
    std::optional<QString> accountEmail() const override;

    AuthService& authService() override { return m_auth; }
    QCoro::Task<> link(bool openBrowser, bool forceAccountSelection) override;
    QCoro::Task<> unlink() override;
    QCoro::Task<AccountInfo> fetchAccountInfo() override;
    void adoptIdentity(const AccountInfo& info) override;
    QCoro::Task<CloudUploadResult> upload(std::shared_ptr<const LocalFile> file, QString relativePath,
                                          std::optional<QString> existingRef, bool mayExist,
                                          Progress progress) override;
    QCoro::Task<QUrl> createSharedLink(QString relativePath, std::optional<QString> ref) override;
    QCoro::Task<QList<FileRevision>> listRevisions(QString relativePath, std::optional<QString> ref) override;
    QCoro::Task<CloudUploadResult> restore(QString relativePath, std::optional<QString> ref,
                                           FileRevision to) override;
    QCoro::Task<QByteArray> downloadCurrent(QString relativePath, std::optional<QString> ref,
                                            qint64 size) override;

    DropboxAuthService& auth() { return m_auth; }

    // Uploads above this many bytes go in a session: 8 MiB, or 256 KiB while a rate limit is in
    // force so that the limiter paces a large file chunk by chunk.
    static constexpr qint64 sessionThreshold = 8 * 1024 * 1024;
    static constexpr qint64 limitedSessionThreshold = 256 * 1024;

private:
    // One call of a JSON endpoint on the API host: its reply, whatever the status.
    QCoro::Task<HttpResult> rpcReply(QString endpoint, QJsonObject body);
    // The reply body, or the failure as a ServiceError unless 200.
    QCoro::Task<QByteArray> rpc(QString endpoint, QJsonObject body);
    DropboxUploadClient& uploader();
    DropboxAccountClient& accountClient();

    BandwidthLimiter& m_limiter;
    DropboxFileHasher m_hasher;
    DropboxAuthService m_auth;
    // Made on first use and kept; declared after m_auth, which they refer to.
    std::unique_ptr<DropboxUploadClient> m_uploader;
    std::unique_ptr<DropboxAccountClient> m_accountClient;
};

} // namespace norvela
