#pragma once

#include "cloud/CloudProvider.h"
#include "cloud/DropboxContentHash.h"
#include "cloud/FileHasher.h"
#include "common/NorvelaError.h"

#include <QHash>
#include <QStringList>

#include <atomic>

namespace norvela::test {

// A provider that keeps uploads in memory and can be told to fail or to hold an upload
// until released. Replies always arrive through the event loop, as real networking does.
class FakeProvider : public CloudProvider {
    Q_OBJECT
public:
    struct Upload {
        QString relativePath;
        qint64 size = 0;
        std::optional<QString> existingRef;
        QString contentHash; // of the bytes that went up
        bool mayExist = false;
    };

    explicit FakeProvider(QString accountKey = QStringLiteral("dropbox"));

    QString id() const override { return QStringLiteral("dropbox"); }
    QString displayName() const override { return QStringLiteral("Dropbox"); }
    const FileHasher& hasher() const override { return m_hasher; }
    // How many files were hashed through hasher(), from any thread.
    int hashes() const { return m_hasher.calls; }
    QString accountKey() const override { return m_accountKey; }
    std::optional<QString> accountUid() const override { return uid; }
    std::optional<QString> accountEmail() const override { return QStringLiteral("fake@example.com"); }

    AuthService& authService() override { throw NorvelaError(QStringLiteral("no authorisation here")); }
    QCoro::Task<> link(bool, bool) override { co_return; }
    QCoro::Task<> unlink() override { co_return; }
    QCoro::Task<AccountInfo> fetchAccountInfo() override;
    void adoptIdentity(const AccountInfo&) override {}
    QCoro::Task<CloudUploadResult> upload(std::shared_ptr<const LocalFile> file, QString relativePath,
                                          std::optional<QString> existingRef, bool mayExist,
                                          Progress progress) override;
    QCoro::Task<QUrl> createSharedLink(QString, std::optional<QString>) override;
    QCoro::Task<QList<FileRevision>> listRevisions(QString, std::optional<QString>) override;
    QCoro::Task<CloudUploadResult> restore(QString, std::optional<QString>, FileRevision) override;
    QCoro::Task<QByteArray> downloadCurrent(QString, std::optional<QString>, qint64) override;

    // Who the account is, as its credentials say.
    std::optional<QString> uid = QStringLiteral("fake-uid");
    // What was uploaded, in order.
    QList<Upload> uploads;
    // The next uploads of a path fail with these, in order.
    QHash<QString, QList<std::exception_ptr>> failWith;
    // Called as each upload attempt starts, with its path and the reference it updates.
    std::function<void(const QString&, const std::optional<QString>&)> onAttempt;
    // While set, uploads wait until release() is called.
    bool hold = false;
    void release();
    int inFlight() const { return m_inFlight; }
    int maxInFlight() const { return m_maxInFlight; }

Q_SIGNALS:
    void released();

private:
    struct CountingHasher : FileHasher {
        QString digest(BlockReader& reader) const override {
            ++calls;
            return DropboxContentHash::digest(reader);
        }
        mutable std::atomic<int> calls = 0;
    };
    CountingHasher m_hasher;
    QString m_accountKey;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
};

} // namespace norvela::test
