#pragma once

#include "CloudProvider.h"
#include "sync/BandwidthLimiter.h"
#include "DropboxFileHasher.h"
#include "auth/DropboxAuthService.h"

namespace norvela {

// A Dropbox account: files live at "/" + their relative path.
class DropboxProvider : public CloudProvider {
    Q_OBJECT
public:
    DropboxProvider(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                    BandwidthLimiter& limiter = BandwidthLimiter::shared());

    QString id() const override { return QStringLiteral("dropbox"); }
    QString displayName() const override { return QStringLiteral("Dropbox"); }
    const FileHasher& hasher() const override { return m_hasher; }
    QString accountKey() const override;
    std::optional<QString> accountEmail() const override;

    AuthService& authService() override { return m_auth; }
    QCoro::Task<> link(bool openBrowser, bool forceAccountSelection) override;
    QCoro::Task<> unlink() override;
    QCoro::Task<AccountInfo> fetchAccountInfo() override;
    void adoptIdentity(const AccountInfo& info) override;
    QCoro::Task<CloudUploadResult> upload(QString filePath, QString relativePath, qint64 size,
                                          std::optional<QString> existingRef, Progress progress) override;
    QCoro::Task<QUrl> createSharedLink(QString relativePath, std::optional<QString> ref) override;
    QCoro::Task<QList<FileRevision>> listRevisions(QString relativePath, std::optional<QString> ref) override;
    QCoro::Task<CloudUploadResult> restore(QString relativePath, std::optional<QString> ref,
                                           FileRevision to) override;
    QCoro::Task<QByteArray> downloadCurrent(QString relativePath, std::optional<QString> ref) override;

    DropboxAuthService& auth() { return m_auth; }

private:
    BandwidthLimiter& m_limiter;
    DropboxFileHasher m_hasher;
    DropboxAuthService m_auth;
};

} // namespace norvela
