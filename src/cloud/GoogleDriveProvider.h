#pragma once

#include "CloudProvider.h"
#include "DriveFolderCache.h"
#include "MD5FileHasher.h"
#include "auth/GoogleAuthService.h"
#include "net/BandwidthLimiter.h"
#include "net/Http.h"
#include "net/ServiceError.h"

#include <QDeadlineTimer>
#include <QHash>

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

    GoogleAuthService& auth() { return m_auth; }

    // Exchanges on a resumable upload in a row that may take it no further before it fails.
    static constexpr int interruptionRetries = 3;
    // How long a folder's listing stands in for a search. Files only this client adds go in
    // as they are made; one another client adds meanwhile may be missed, as by a search made
    // just before it.
    static constexpr std::chrono::seconds listingLifetime{120};

private:
    // An authorised Drive request, whatever its status; one that got no reply at all comes back
    // with status 0. Requests that change something are never sent twice.
    QCoro::Task<HttpResult> exchange(QByteArray method, QUrl url, QByteArray body = {},
                                     QByteArray contentType = {},
                                     qint64 maxReplyBytes = Http::defaultMaxReplyBytes);
    // The body of a 2xx reply, else the failure as a ServiceError. `byReference`: the URL names a
    // stored file id, so a 404 means that id is stale.
    QCoro::Task<QByteArray> request(QByteArray method, QUrl url, bool byReference, QByteArray body = {},
                                    QByteArray contentType = {},
                                    qint64 maxReplyBytes = Http::defaultMaxReplyBytes);
    QCoro::Task<QString> ensureFolder(QString path);
    QCoro::Task<QString> ensureChildFolder(QString name, QString parentID, QString cacheKey);
    QCoro::Task<QString> findOrCreateFolder(QString name, QString parentID);
    // A file (not a folder) of this name in the folder, the first one found.
    QCoro::Task<std::optional<QString>> findFile(QString name, QString parentID);
    // The same, from a listing of the whole folder made at most listingLifetime ago: on a first
    // sync every name is looked up before it is created, and one listing a folder costs far
    // less than a search a file.
    QCoro::Task<std::optional<QString>> findListedFile(QString name, QString parentID);
    // The content sent as the new content of `fileID`, or as a new file `name` in `parentID`.
    // Nothing when a create went out and no answer came back: the file may exist now.
    QCoro::Task<std::optional<CloudUploadResult>> transfer(std::shared_ptr<const LocalFile> file,
                                                           std::optional<QString> fileID, QString name,
                                                           QString parentID, Progress progress);
    QCoro::Task<std::optional<CloudUploadResult>> simpleUpload(std::optional<QString> fileID, QString name,
                                                               QString parentID, QByteArray content);
    // Resumes from where the service says it stands after a chunk goes unanswered or a 5xx,
    // up to interruptionRetries times in a row.
    QCoro::Task<std::optional<CloudUploadResult>> resumableUpload(std::optional<QString> fileID, QString name,
                                                                  QString parentID,
                                                                  std::shared_ptr<const LocalFile> file,
                                                                  Progress progress);
    ServiceError createFailure(const HttpResult& reply);

    // Endpoint URLs; `pathAndQuery` is already percent-encoded.
    QUrl driveUrl(const QByteArray& pathAndQuery) const;
    QUrl uploadUrl(const QByteArray& pathAndQuery) const;

    BandwidthLimiter& m_limiter;
    MD5FileHasher m_hasher;
    GoogleEndpoints m_endpoints;
    GoogleAuthService m_auth;
    DriveFolderCache m_folders;
    struct Listing {
        QHash<QString, QString> fileIds; // by name, the first of each name listed
        QDeadlineTimer fresh;
    };
    QHash<QString, Listing> m_listings; // by folder id
};

} // namespace norvela
