#include "FakeProvider.h"

#include "cloud/BlockReader.h"
#include "sync/LocalFile.h"

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>

namespace norvela::test {

using namespace std::chrono_literals;

FakeProvider::FakeProvider(QString accountKey) : m_accountKey(std::move(accountKey)) {}

void FakeProvider::release() {
    Q_EMIT released();
}

QCoro::Task<AccountInfo> FakeProvider::fetchAccountInfo() {
    co_await QCoro::sleepFor(0ms);
    co_return AccountInfo{
        QStringLiteral("Fake"),    QStringLiteral("fake@example.com"), QStringLiteral("Plus"), 1000, 2000,
        QStringLiteral("fake-uid")};
}

QCoro::Task<CloudUploadResult> FakeProvider::upload(std::shared_ptr<const LocalFile> file,
                                                    QString relativePath, std::optional<QString> existingRef,
                                                    bool mayExist, Progress progress) {
    const qint64 size = file->size();
    ++m_inFlight;
    m_maxInFlight = std::max(m_maxInFlight, m_inFlight);
    struct Leave {
        int& count;
        ~Leave() { --count; }
    } leave{m_inFlight};
    // The bytes go first, from the opened file itself whatever its path leads to by now; a
    // held upload then waits for its reply.
    BlockReader reader(*file, DropboxContentHash::blockSize);
    const QString hash = DropboxContentHash::digest(reader);
    if (hold)
        co_await qCoro(this, &FakeProvider::released);
    else
        co_await QCoro::sleepFor(0ms);
    if (onAttempt)
        onAttempt(relativePath, existingRef);
    if (auto it = failWith.find(relativePath); it != failWith.end() && !it->isEmpty())
        std::rethrow_exception(it->takeFirst());
    if (progress)
        progress(size);
    co_await QCoro::sleepFor(0ms); // like a real reply, which arrives after the last bytes went out
    uploads.append({relativePath, size, existingRef, hash, mayExist});
    co_return CloudUploadResult{QStringLiteral("rev-%1").arg(uploads.size()), hash, size};
}

QCoro::Task<QUrl> FakeProvider::createSharedLink(QString relativePath, std::optional<QString>) {
    co_await QCoro::sleepFor(0ms);
    co_return QUrl(QStringLiteral("https://share.example/") + relativePath);
}

QCoro::Task<QList<FileRevision>> FakeProvider::listRevisions(QString, std::optional<QString>) {
    co_await QCoro::sleepFor(0ms);
    co_return QList<FileRevision>{};
}

QCoro::Task<CloudUploadResult> FakeProvider::restore(QString, std::optional<QString>, FileRevision to) {
    co_await QCoro::sleepFor(0ms);
    co_return CloudUploadResult{to.id, QString(), to.size};
}

QCoro::Task<QByteArray> FakeProvider::downloadCurrent(QString, std::optional<QString>, qint64) {
    co_await QCoro::sleepFor(0ms);
    co_return QByteArray();
}

} // namespace norvela::test
