#pragma once

#include "CloudProvider.h"
#include "DriveFolderCache.h"
#include "MD5FileHasher.h"
#include "auth/GoogleAuthService.h"
#include "net/BandwidthLimiter.h"

namespace norvela {

// A Google Drive account: files live in a folder "Norvela" mirroring the local folder tree.
class GoogleDriveProvider : public CloudProvider {
    Q_OBJECT
public:
    GoogleDriveProvider(std::optional<TokenSlot> slot, GoogleEndpoints endpoints,
                        BandwidthLimiter& limiter = BandwidthLimiter::shared());

    QString id() const override { return QStringLiteral("gdrive"); }
    QString displayName() const override { return QStringLiteral("Google Drive"); }
    const FileHasher& hasher() const override { return m_hasher; }
    QString accountKey() const override;
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
    QCoro::Task<QByteArray> downloadCurrent(QString relativePath, std::optional<QString> ref) override;

    GoogleAuthService& auth() { return m_auth; }

private:
    // An authorised Drive request; any status outside 200-299 fails with "HTTP <status>: …".
    QCoro::Task<QByteArray> request(QByteArray method, QUrl url, std::optional<QByteArray> body = {},
                                    std::optional<QByteArray> contentType = {});
    QCoro::Task<QString> ensureFolder(QString path);
    QCoro::Task<QString> ensureChildFolder(QString name, QString parentID, QString cacheKey);
    QCoro::Task<QString> findOrCreateFolder(QString name, QString parentID);
    QCoro::Task<CloudUploadResult> simpleUpload(std::optional<QString> fileID, QString name,
                                                std::optional<QString> parentID, QByteArray content);
    QCoro::Task<CloudUploadResult> resumableUpload(std::optional<QString> fileID, QString name,
                                                   std::optional<QString> parentID,
                                                   std::shared_ptr<const LocalFile> file, Progress progress);

    // Endpoint URLs; `pathAndQuery` is already percent-encoded.
    QUrl driveUrl(const QByteArray& pathAndQuery) const;
    QUrl uploadUrl(const QByteArray& pathAndQuery) const;

    BandwidthLimiter& m_limiter;
    MD5FileHasher m_hasher;
    GoogleEndpoints m_endpoints;
    GoogleAuthService m_auth;
    DriveFolderCache m_folders;
};

} // namespace norvela
