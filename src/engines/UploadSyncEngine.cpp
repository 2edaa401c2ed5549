#include "UploadSyncEngine.h"

#include "cloud/CloudProvider.h"
#include "common/AppSupport.h"
#include "common/Clock.h"
#include "common/NorvelaError.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "models/Paths.h"
#include "platform/SystemLog.h"
#include "sync/FolderScanner.h"
#include "sync/FolderWatcher.h"
#include "sync/LocalFile.h"
#include "sync/MignoreRules.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <cmath>

namespace norvela {

using namespace std::chrono_literals;

namespace {

constexpr auto idlePoll = 400ms;
constexpr auto scheduleHoldWait = 20s;
constexpr auto failureWait = 3s;

QString lastComponent(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

} // namespace

UploadSyncEngine::UploadSyncEngine(AccountModel& account, Clock& clock, std::function<bool()> onACPower)
    : m_account(&account), m_provider(account.provider()), m_clock(clock), m_onACPower(std::move(onACPower)),
      m_accountKey(account.provider()->accountKey()) {}

UploadSyncEngine::~UploadSyncEngine() {
    // The watcher's thread may be posting to this object: stop it while this is still whole.
    tearDown();
}

void UploadSyncEngine::tearDown() {
    m_watcher.reset();
    m_worker.reset();
}

// --- lifecycle ---

void UploadSyncEngine::start() {
    if (!m_account)
        return;
    tearDown();
    m_suspended = false;
    ++m_generation;
    m_passes = 0;
    const QString root = QDir::cleanPath(Paths::expandTilde(m_account->folderPath()));
    m_rootURL = root;

    m_status.state = SyncState::idle;
    m_status.note = SyncStatus::Note::connected;
    m_status.filesDone = m_status.filesTotal = 0;
    report();

    if (const auto reason = dangerousRootReason(root, QDir::homePath())) {
        m_status.state = SyncState::paused;
        m_status.note = SyncStatus::Note::unsafeFolder;
        m_status.lastError = QStringLiteral("unsafe sync root (") + *reason + QStringLiteral("): ") + root;
        report();
        systemLog(QStringLiteral("Refusing to sync unsafe root: ") + root + QString::fromUtf8(" \u2014 ") +
                  *reason);
        return;
    }

    QDir().mkpath(root);
    watch([this] { reconcile(); });
    m_worker = std::make_unique<QObject>();
    runWorker(m_worker.get());
    QTimer::singleShot(0, this, [this] { reconcile(); });
}

void UploadSyncEngine::watch(std::function<void()> onMainThread) {
    // The watcher calls back on its own thread; hop here. Events posted to this object are
    // dropped if it is gone, and the watcher is always stopped before this object dies.
    m_watcher = std::make_unique<FolderWatcher>(*m_rootURL, [this, onMainThread](const QStringList&) {
        QMetaObject::invokeMethod(this, onMainThread, Qt::QueuedConnection);
    });
    m_watcher->start();
}

void UploadSyncEngine::report() {
    if (m_account)
        m_account->setStatus(m_status);
}

void UploadSyncEngine::pause() {
    m_paused = true;
    m_status.userPaused = true;
    m_status.state = SyncState::paused;
    report();
}

void UploadSyncEngine::resume() {
    m_paused = false;
    m_status.userPaused = false;
    if (m_suspended) {
        start(); // scans again: proceeds, or refuses again
        return;
    }
    m_status.state = m_pending.empty() ? SyncState::idle : SyncState::syncing;
    report();
    QTimer::singleShot(0, this, [this] { reconcile(); });
}

bool UploadSyncEngine::isSettled() const {
    return m_worker && !m_suspended && m_passes > 0 && !m_reconciling && m_pending.empty() &&
           !m_uploadStartMs;
}

std::optional<QString> UploadSyncEngine::dangerousRootReason(const QString& root, const QString& home) {
    auto reasonFor = [](const QString& r, const QString& h) -> std::optional<QString> {
        if (r == h)
            return QStringLiteral("home directory");
        if (h.startsWith(r + QLatin1Char('/')))
            return QStringLiteral("ancestor of home");
        if (r == QLatin1String("/"))
            return QStringLiteral("filesystem root");
        return std::nullopt;
    };
    const QString standardRoot = Paths::standardized(root);
    const QString standardHome = Paths::standardized(home);
    if (auto reason = reasonFor(standardRoot, standardHome))
        return reason;
    // A symbolic link to home (or above) is just as dangerous as home itself.
    const QString realRoot = QFileInfo(standardRoot).canonicalFilePath();
    const QString realHome = QFileInfo(standardHome).canonicalFilePath();
    if (realRoot.isEmpty())
        return std::nullopt;
    return reasonFor(realRoot, realHome.isEmpty() ? standardHome : realHome);
}

std::optional<QDateTime> UploadSyncEngine::mignoreMtime(const QString& root) {
    const QFileInfo info(root + QStringLiteral("/.mignore"));
    if (!info.exists())
        return std::nullopt;
    return info.lastModified().toUTC();
}

void UploadSyncEngine::suspendAutoSync() {
    tearDown();
    m_suspended = true;
    m_mignoreMtimeAtRefusal = mignoreMtime(*m_rootURL);
    watch([this] { recheckIfMignoreChanged(); });
}

void UploadSyncEngine::recheckIfMignoreChanged() {
    if (!m_suspended || !m_rootURL)
        return;
    const auto now = mignoreMtime(*m_rootURL);
    if (now == m_mignoreMtimeAtRefusal)
        return;
    m_mignoreMtimeAtRefusal = now;
    start();
}

void UploadSyncEngine::noteRestored(const QString& relativePath, const CloudUploadResult& result,
                                    const QString& filePath) {
    if (!m_index)
        m_index.emplace(m_accountKey); // rare: a restore before the first load finished
    const QFileInfo info(filePath);
    const QDateTime mtime = info.exists() ? info.lastModified().toUTC() : m_clock.now();
    m_index->set(relativePath, {result.size, mtime, result.contentHash, result.ref, m_clock.now()});
}

// --- reconcile ---

QCoro::Task<> UploadSyncEngine::reconcile() {
    if (m_reconciling) {
        m_reconcileAgain = true;
        co_return;
    }
    QPointer<UploadSyncEngine> self(this);
    m_reconciling = true;
    do {
        m_reconcileAgain = false;
        co_await reconcileOnce();
        if (!self)
            co_return;
    } while (m_reconcileAgain);
    m_reconciling = false;
    ++m_passes;
}

QCoro::Task<> UploadSyncEngine::loadIndex() {
    // A 25,000-entry index takes tens of milliseconds to parse: too long for the main thread.
    QPointer<UploadSyncEngine> self(this);
    const QString key = m_accountKey;
    QFuture<SyncIndex> loading = QtConcurrent::run([key] { return SyncIndex(key); });
    SyncIndex loaded = co_await loading;
    if (self && !m_index)
        m_index.emplace(std::move(loaded));
}

QCoro::Task<> UploadSyncEngine::reconcileOnce() {
    if (!m_rootURL) {
        AppSupport::breadcrumb(QStringLiteral("reconcile: no rootURL"));
        co_return;
    }
    QPointer<UploadSyncEngine> self(this);
    if (!m_index) {
        co_await loadIndex();
        if (!self)
            co_return;
    }
    const quint64 generation = m_generation;
    const QString root = *m_rootURL;
    AppSupport::breadcrumb(QStringLiteral("reconcile: scanning ") + root);

    // Rules are read afresh every pass, so an edited .mignore applies at once.
    // The futures are named before awaiting: g++ 12 destroys temporaries of a co_await
    // expression twice.
    QFuture<QList<ScannedFile>> scanning = QtConcurrent::run([root] {
        const MignoreRules rules = MignoreRules::fromRoot(root);
        return FolderScanner::scan(root, &rules);
    });
    const QList<ScannedFile> files = co_await scanning;
    if (!self || generation != m_generation || m_suspended)
        co_return;
    AppSupport::breadcrumb(QStringLiteral("reconcile: scan found %1 files").arg(files.size()));

    if (files.size() > largeFolderLimit && !(m_account && m_account->isLargeFolderApproved())) {
        m_status.state = SyncState::paused;
        m_status.note = SyncStatus::Note::largeFolder;
        m_status.largeFolderFiles = int(files.size());
        m_status.lastError = QStringLiteral("sync root has %1 files (> %2); refusing to auto-upload")
                                 .arg(files.size())
                                 .arg(largeFolderLimit);
        report();
        systemLog(QStringLiteral("Refusing to auto-sync %1 files from %2").arg(files.size()).arg(root));
        suspendAutoSync();
        co_return;
    }

    const SyncIndex::Entries entries = m_index->entries(); // a copy the pool may read
    const std::shared_ptr<CloudProvider> provider = m_provider;
    QFuture<QStringList> comparing = QtConcurrent::run(
        [files, entries, provider] { return changedPaths(files, entries, provider->hasher()); });
    const QStringList changed = co_await comparing;
    if (!self || generation != m_generation || m_suspended)
        co_return;

    AppSupport::breadcrumb(QStringLiteral("reconcile: enqueue %1 \u2014 %2")
                               .arg(changed.size())
                               .arg(changed.mid(0, 5).join(QLatin1Char(','))));
    for (const QString& path : changed)
        enqueue(path);
}

QStringList UploadSyncEngine::changedPaths(const QList<ScannedFile>& files, const SyncIndex::Entries& entries,
                                           const FileHasher& hasher) {
    QStringList changed;
    for (const ScannedFile& file : files) {
        const auto it = entries.constFind(file.relativePath);
        if (it != entries.cend() && it->size == file.size && std::llabs(it->mtime.msecsTo(file.mtime)) < 1000)
            continue;
        if (it != entries.cend()) {
            const auto hash = hasher.hash(file.path);
            if (hash && *hash == it->contentHash)
                continue; // touched, not changed; hashed again next time (the entry is left as is)
        }
        changed.append(file.relativePath);
    }
    return changed;
}

void UploadSyncEngine::enqueue(const QString& path) {
    if (m_pendingSet.contains(path))
        return;
    m_pendingSet.insert(path);
    m_pending.push_back(path);
    ++m_batchTotal;
}

// --- worker ---

bool UploadSyncEngine::scheduleHolds() {
    if (!m_account || !m_account->app())
        return false;
    const SyncSchedule& schedule = m_account->app()->schedule();
    if (!schedule.enabled)
        return false;
    const auto hold = schedule.hold(m_clock.now(), m_onACPower ? m_onACPower() : true);
    if (!hold)
        return false;
    m_status.state = SyncState::paused;
    m_status.note = *hold;
    m_status.holdStartHour = schedule.startHour;
    m_status.holdEndHour = schedule.endHour;
    report();
    return true;
}

QCoro::Task<> UploadSyncEngine::runWorker(QPointer<QObject> context) {
    QPointer<UploadSyncEngine> self(this);
    while (self && context) {
        if (!m_paused && m_account) {
            if (scheduleHolds()) {
                m_scheduleHeld = true;
                co_await m_clock.sleep(scheduleHoldWait, context);
                continue;
            }
            if (m_scheduleHeld) {
                m_scheduleHeld = false;
                m_status.state = m_pending.empty() ? SyncState::idle : SyncState::syncing;
                if (m_pending.empty())
                    m_status.note = SyncStatus::Note::upToDate;
                report();
            }
            if (!m_pending.empty()) {
                const QString path = m_pending.front();
                m_pending.pop_front();
                m_pendingSet.remove(path);
                co_await uploadOne(path);
                continue;
            }
            if (m_status.state == SyncState::syncing)
                finishBatch();
        }
        co_await m_clock.sleep(idlePoll, context);
    }
}

void UploadSyncEngine::reportProgress() {
    m_status.filesDone = m_uploadedThisBatch;
    m_status.filesTotal = m_batchTotal;
    report();
}

QCoro::Task<> UploadSyncEngine::uploadOne(QString path) {
    if (!m_account || !m_rootURL || !m_index)
        co_return;
    QPointer<UploadSyncEngine> self(this);
    const QString filePath = *m_rootURL + QLatin1Char('/') + path;
    // What goes up is read from this descriptor: the file as checked, never what a link
    // swapped in since would lead to.
    const auto opened = LocalFile::open(*m_rootURL, path);
    if (!std::holds_alternative<std::shared_ptr<const LocalFile>>(opened))
        co_return; // gone since the scan, or no longer a plain file: dropped, not counted
    const std::shared_ptr<const LocalFile> file = std::get<std::shared_ptr<const LocalFile>>(opened);
    const qint64 size = file->size();
    const QDateTime mtime = QDateTime::fromMSecsSinceEpoch(file->stamp().mtimeNs / 1'000'000, Qt::UTC);
    const auto existing = m_index->entry(path);
    if (existing && existing->size == size && std::llabs(existing->mtime.msecsTo(mtime)) < 1000) {
        // Queued again while its previous upload was in flight, and that upload already
        // carried this content: sending it twice would only waste the user's bandwidth.
        ++m_uploadedThisBatch;
        reportProgress();
        co_return;
    }

    m_status.state = SyncState::syncing;
    m_status.currentFile = lastComponent(path);
    m_status.bytesPerSecond.reset();
    reportProgress();
    AppSupport::breadcrumb(
        QStringLiteral("upload start: %1 (%2 bytes) \u2192 %3").arg(path).arg(size).arg(m_provider->id()));

    const qint64 startMs = m_clock.monotonicMs();
    m_uploadStartMs = startMs;
    const std::optional<QString> existingRef = existing ? existing->rev : std::nullopt;
    const std::shared_ptr<CloudProvider> provider = m_provider;
    auto progress = [self, startMs](qint64 bytes) {
        if (self)
            QMetaObject::invokeMethod(
                self.data(), [self, bytes, startMs] { self->updateRate(bytes, startMs); },
                Qt::QueuedConnection);
    };

    std::optional<CloudUploadResult> result;
    QString failure;
    try {
        result = co_await provider->upload(file, path, existingRef, false, progress);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self)
        co_return;
    m_uploadStartMs.reset();

    if (result) {
        m_index->set(path, {result->size, mtime, result->contentHash, result->ref, m_clock.now()});
        recordRecent(path, filePath, result->ref);
        ++m_uploadedThisBatch;
        reportProgress();
        co_return;
    }

    m_status.lastError = QStringLiteral("upload ") + path + QStringLiteral(": ") + failure;
    m_status.note = SyncStatus::Note::unreachable;
    report();
    systemLog(QStringLiteral("Upload failed for ") + path + QStringLiteral(": ") + failure);
    enqueue(path);
    co_await m_clock.sleep(failureWait, this);
    if (!self)
        co_return;
    ++m_uploadedThisBatch;
    reportProgress();
}

void UploadSyncEngine::updateRate(qint64 bytes, qint64 startMs) {
    if (m_uploadStartMs != startMs)
        return;
    const double elapsed = double(m_clock.monotonicMs() - startMs) / 1000.0;
    if (elapsed > 0.2) {
        m_status.bytesPerSecond = double(bytes) / elapsed;
        report();
    }
}

void UploadSyncEngine::finishBatch() {
    m_uploadedThisBatch = 0;
    m_batchTotal = 0;
    m_status.state = SyncState::idle;
    m_status.note = SyncStatus::Note::upToDate;
    m_status.currentFile.clear();
    m_status.bytesPerSecond.reset();
    report();
    refreshAccountUsage();
}

void UploadSyncEngine::recordRecent(const QString& path, const QString& filePath, const QString& ref) {
    if (!m_account)
        return;
    RecentFile file;
    file.name = lastComponent(path);
    file.syncedAt = m_clock.now();
    file.url = QUrl::fromLocalFile(filePath);
    file.providerID = m_provider->accountKey();
    file.relativePath = path;
    file.ref = ref;
    QList<RecentFile> recent = m_account->recentFiles();
    recent.prepend(file);
    m_account->setRecentFiles(recent.mid(0, 3));
}

QCoro::Task<> UploadSyncEngine::refreshAccountUsage() {
    if (!m_account)
        co_return;
    QPointer<AccountModel> account = m_account;
    const std::shared_ptr<CloudProvider> provider = m_provider;
    std::optional<AccountInfo> info;
    try {
        info = co_await provider->fetchAccountInfo();
    } catch (...) {
    }
    if (account)
        account->setAccount(info);
}

} // namespace norvela
