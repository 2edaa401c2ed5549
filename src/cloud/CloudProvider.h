#pragma once

#include "CloudUploadResult.h"
#include "FileHasher.h"
#include "FileRevision.h"
#include "common/AccountInfo.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace norvela {

class AuthService;
class LocalFile;

// The one object through which the rest of the system talks to one linked cloud account.
// Shared by the account model and its engine. Operations run on the main thread. A service's
// failure is thrown as a ServiceError whose kind says what to do about it (a lost connection as
// a transient one); a local file that can't be read, or a provider that went, as other
// NorvelaErrors. Providers only finish what they started (a piece of an upload sent again, a
// renewed token, a lost create looked up): whether to try a whole operation again is the
// caller's decision.
class CloudProvider : public QObject {
    Q_OBJECT
public:
    using Progress = std::function<void(qint64 bytesSent)>;

    virtual QString id() const = 0;          // "dropbox" or "gdrive"
    virtual QString displayName() const = 0; // "Dropbox" or "Google Drive"
    virtual const FileHasher& hasher() const = 0;
    virtual QString accountKey() const = 0;
    // The service's own id for the account, which stays when the e-mail address changes;
    // none until the credentials know it.
    virtual std::optional<QString> accountUid() const = 0;
    virtual std::optional<QString> accountEmail() const = 0;

    // The account's authorisation service (linking, tokens).
    virtual AuthService& authService() = 0;
    virtual QCoro::Task<> link(bool openBrowser, bool forceAccountSelection) = 0;
    virtual QCoro::Task<> unlink() = 0;
    virtual QCoro::Task<AccountInfo> fetchAccountInfo() = 0;
    virtual void adoptIdentity(const AccountInfo& info) = 0;
    // Sends the opened file's content as it was measured when opened (what it gains later
    // waits for the next upload). `mayExist`: an earlier attempt at this path may have left
    // the file in the cloud without the caller learning its reference, so a service that
    // addresses files by id looks for it before making another.
    virtual QCoro::Task<CloudUploadResult> upload(std::shared_ptr<const LocalFile> file, QString relativePath,
                                                  std::optional<QString> existingRef, bool mayExist,
                                                  Progress progress) = 0;
    virtual QCoro::Task<QUrl> createSharedLink(QString relativePath, std::optional<QString> ref) = 0;
    virtual QCoro::Task<QList<FileRevision>> listRevisions(QString relativePath,
                                                           std::optional<QString> ref) = 0;
    virtual QCoro::Task<CloudUploadResult> restore(QString relativePath, std::optional<QString> ref,
                                                   FileRevision to) = 0;
    // `size` is what the service reported for the current version; a reply much larger is refused.
    virtual QCoro::Task<QByteArray> downloadCurrent(QString relativePath, std::optional<QString> ref,
                                                    qint64 size) = 0;
};

} // namespace norvela
