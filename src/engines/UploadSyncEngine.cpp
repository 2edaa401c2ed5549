#include "UploadSyncEngine.h"

#include "auth/AuthError.h"
#include "cloud/CloudProvider.h"
#include "common/AppSupport.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/NorvelaError.h"
#include "common/SettingsStore.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "models/Paths.h"
#include "net/ServiceError.h"
#include "platform/SystemLog.h"
#include "sync/FolderScanner.h"
#include "sync/FolderWatcher.h"
#include "sync/LocalFile.h"
#include "sync/MignoreRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace norvela {

using namespace std::chrono_literals;

namespace {

constexpr auto idlePoll = 400ms;
constexpr auto scheduleHoldWait = 20s;
constexpr auto quotaRecheck = 10min;

QString lastComponent(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

// The filesystem the folder at `root` (a link there followed) is on; none unless it is a folder.
std::optional<quint64> folderDevice(const QString& root) {
    struct stat info {};
    if (::stat(QFile::encodeName(root).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return quint64(info.st_dev);
}

QString deviceText(quint64 device) {
    return QStringLiteral("%1:%2").arg(major(dev_t(device))).arg(minor(dev_t(device)));
}

// What one pass read from the folder, on the pool.
struct FolderPass {
    std::optional<quint64> device; // none: no folder there
    std::optional<QString> mignoreProblem;
    QList<ScannedFile> files;
    QList<UnsendableName> unsendable;
};

// Nothing is scanned from a folder on the wrong filesystem, nor without its rules.
FolderPass readFolder(const QString& root, std::optional<quint64> expectedDevice, bool mayCreate) {
    FolderPass pass;
    pass.device = folderDevice(root);
    if (!pass.device && mayCreate && QDir().mkdir(root))
        pass.device = folderDevice(root);
    if (!pass.device || (expectedDevice && pass.device != expectedDevice))
        return pass;
    const auto rules = MignoreRules::fromRoot(root);
    if (const auto* problem = std::get_if<QString>(&rules)) {
        pass.mignoreProblem = *problem;
        return pass;
    }
    pass.files = FolderScanner::scan(root, &std::get<MignoreRules>(rules), &pass.unsendable);
    return pass;
}

} // namespace

UploadSyncEngine::UploadSyncEngine(AccountModel& account, Clock& clock, std::function<bool()> onACPower,
                                   FolderWatcher::Options watcherOptions)
    : m_account(&account), m_provider(account.provider()), m_clock(clock), m_onACPower(std::move(onACPower)),
      m_accountKey(account.provider()->accountKey()), m_watcherOptions(std::move(watcherOptions)) {}

UploadSyncEngine::~UploadSyncEngine() {
    // The watcher's thread may be posting to this object: stop it while this is still whole.
    tearDown();
}

void UploadSyncEngine::tearDown() {
    if (!m_runMarker.isEmpty())
        QFile::remove(std::exchange(m_runMarker, QString()));
    m_watcher.reset();
    m_worker.reset();
    m_fullReconcileTimer.reset();
    m_folderRecheck.reset();
}

struct UploadSyncEngine::Failure {
    ServiceError::Kind kind = ServiceError::Kind::transient;
    QString text;
    std::optional<std::chrono::seconds> retryAfter;
};

UploadSyncEngine::Failure UploadSyncEngine::classify(const std::exception_ptr& error) {
    Failure failure{ServiceError::Kind::transient, describe(error), std::nullopt};
    try {
        std::rethrow_exception(error);
    } catch (const ServiceError& e) {
        failure.kind = e.kind();
        failure.retryAfter = e.retryAfter();
    } catch (const AuthError& e) {
        // No grant at all: a refresh was refused, or the credential is gone.
        if (e.kind() == AuthError::Kind::notLinked)
            failure.kind = ServiceError::Kind::authorization;
    } catch (...) {
        // No reply, an unreadable reply, a read error: worth another try later.
    }
    return failure;
}

// --- lifecycle ---

void UploadSyncEngine::start() {
    if (!m_account)
        return;
    tearDown();
    m_suspended = false;
    ++m_generation;
    m_passes = 0;
    m_rootDevice.reset();
    m_folderHold.reset();
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

    // The folder is not made here: a pass makes it, and only for an account that never synced.
    watch([this] { reconcile(); });
    m_worker = std::make_unique<QObject>();
    runWorker(m_worker.get());
    m_fullReconcileTimer = m_clock.schedule(fullReconcileInterval, true, [this] { reconcile(); });
    QTimer::singleShot(0, this, [this] { reconcile(); });
}

void UploadSyncEngine::watch(std::function<void()> onMainThread) {
    // The watcher calls back on its own thread; hop here. Events posted to this object are
    // dropped if it is gone, and the watcher is always stopped before this object dies.
    const quint64 id = ++m_watchId;
    FolderWatcher::Options options = m_watcherOptions;
    options.onAlert = [this, id](FolderWatcher::Alert alert, const QString& message) {
        QMetaObject::invokeMethod(
            this, [this, id, alert, message] { onWatcherAlert(id, alert, message); }, Qt::QueuedConnection);
    };
    m_watcher = std::make_unique<FolderWatcher>(
        *m_rootURL,
        [this, onMainThread](const QStringList&) {
            // Every report, an overflow's root included, is answered with a full pass.
            QMetaObject::invokeMethod(this, onMainThread, Qt::QueuedConnection);
        },
        std::move(options));
    m_watcher->start();
}

void UploadSyncEngine::onWatcherAlert(quint64 watchId, FolderWatcher::Alert alert, const QString& message) {
    if (watchId != m_watchId || m_suspended)
        return;
    switch (alert) {
    case FolderWatcher::Alert::stopped:
        // Deaf from now on: the next pass arms a new one if the folder is (back) in place.
        m_watcher.reset();
        reconcile();
        break;
    case FolderWatcher::Alert::watchLimit:
        // Stays as the account's last error: uploads still work, but only on the full passes.
        m_status.lastError = message;
        report();
        break;
    }
}

void UploadSyncEngine::holdFolder(SyncStatus::Note note, const QString& problem) {
    if (m_folderHold != note || m_status.lastError != problem)
        systemLog(problem);
    m_folderHold = note;
    // What was queued was chosen under rules or from a folder that no longer hold.
    m_pending.clear();
    m_pendingSet.clear();
    m_batchTotal = m_uploadedThisBatch = 0;
    m_status.state = SyncState::paused;
    m_status.note = note;
    m_status.lastError = problem;
    m_status.filesDone = m_status.filesTotal = 0;
    m_status.currentFile.clear();
    m_status.bytesPerSecond.reset();
    report();
    if (note != SyncStatus::Note::folderMissing) {
        m_folderRecheck.reset(); // the watcher sees the fix
        return;
    }
    // Whatever the watcher followed is not the folder (any more); look for it on a timer.
    m_watcher.reset();
    if (!m_folderRecheck)
        m_folderRecheck = m_clock.schedule(missingFolderRecheck, true, [this] { reconcile(); });
}

void UploadSyncEngine::releaseFolder() {
    m_folderHold.reset();
    m_folderRecheck.reset();
    m_status.state = m_paused ? SyncState::paused : SyncState::idle;
    m_status.note = m_pending.empty() ? SyncStatus::Note::upToDate : SyncStatus::Note::connected;
    report();
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
    // The user asks for another try now: a relink may have happened, space may be free.
    m_relinkNeeded = false;
    m_holdUntilMs.reset();
    m_retries.clear();
    if (m_status.note == SyncStatus::Note::relink || m_status.note == SyncStatus::Note::quotaFull)
        m_status.note = SyncStatus::Note::connected;
    if (m_suspended) {
        start(); // scans again: proceeds, or refuses again
        return;
    }
    m_status.state = m_folderHold        ? SyncState::paused
                     : m_pending.empty() ? SyncState::idle
                                         : SyncState::syncing;
    report();
    QTimer::singleShot(0, this, [this] { reconcile(); });
}

bool UploadSyncEngine::isSettled() const {
    return m_worker && !m_suspended && m_passes > 0 && !m_reconciling && m_pending.empty() &&
           !m_uploadStartMs;
}

std::optional<QString> UploadSyncEngine::dangerousRootReason(const QString& root, const QString& home,
                                                             const QStringList& protectedFolders) {
    auto reasonFor = [](const QString& r, const QString& h,
                        const QStringList& own) -> std::optional<QString> {
        if (r == h)
            return QStringLiteral("home directory");
        if (h.startsWith(r + QLatin1Char('/')))
            return QStringLiteral("ancestor of home");
        if (r == QLatin1String("/"))
            return QStringLiteral("filesystem root");
        // Credentials, indexes and settings would go up with the rest.
        for (const QString& folder : own)
            if (folder == r || folder.startsWith(r + QLatin1Char('/')))
                return QStringLiteral("contains Norvela's own data");
        return std::nullopt;
    };
    const QString standardRoot = Paths::standardized(root);
    const QString standardHome = Paths::standardized(home);
    QStringList standardOwn, realOwn;
    for (const QString& folder : protectedFolders) {
        standardOwn << Paths::standardized(folder);
        const QString real = QFileInfo(standardOwn.last()).canonicalFilePath();
        realOwn << (real.isEmpty() ? standardOwn.last() : real);
    }
    if (auto reason = reasonFor(standardRoot, standardHome, standardOwn))
        return reason;
    // A symbolic link to home (or above) is just as dangerous as home itself.
    const QString realRoot = QFileInfo(standardRoot).canonicalFilePath();
    const QString realHome = QFileInfo(standardHome).canonicalFilePath();
    if (realRoot.isEmpty())
        return std::nullopt;
    return reasonFor(realRoot, realHome.isEmpty() ? standardHome : realHome, realOwn);
}

QStringList UploadSyncEngine::ownFolders() {
    return {AppSupport::dataDirectory(), AppSupport::devHookDirectory(),
            QFileInfo(SettingsStore::defaultFilePath()).absolutePath()};
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
                                    const QString&) {
    if (!m_index)
        m_index.emplace(m_accountKey); // rare: a restore before the first load finished
    // The restored file was written a moment ago, so no stamp of it can be trusted yet: the
    // next pass hashes it, finds the restored content and records its stamp then.
    m_index->set(relativePath, {result.size, std::nullopt, result.contentHash, result.ref, m_clock.now()});
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
    if (isSettled())
        Q_EMIT settled();
}

QCoro::Task<> UploadSyncEngine::loadIndex() {
    // A 25,000-entry index takes tens of milliseconds to parse: too long for the main thread.
    QPointer<UploadSyncEngine> self(this);
    const QString key = m_accountKey;
    // The credentials' uid is the service's own, stable id; the address is what is left for
    // credentials stored before ids were, and what tells Google accounts apart anyway.
    const AccountIdentity account{m_provider->accountUid().value_or(QString()),
                                  m_provider->accountEmail().value_or(QString())};
    QFuture<std::pair<SyncIndex, bool>> loading = QtConcurrent::run([key, account] {
        SyncIndex index(key);
        bool lost = index.origin() != SyncIndex::Origin::loaded;
        if (index.origin() == SyncIndex::Origin::damaged)
            systemLog(QStringLiteral("Sync index of %1 is damaged; it is kept aside and rebuilt").arg(key));
        if (index.owner().contradicts(account)) {
            // Another account used this key before (unlinked, then a different one linked):
            // nothing it records was uploaded to this one.
            systemLog(
                QStringLiteral("Sync index of %1 belongs to another account; it is kept aside").arg(key));
            index.setAside(QStringLiteral("other-account"));
            lost = true;
        }
        index.setOwner(index.owner().mergedWith(account));
        index.fold(); // what the last run journaled, into the file, while nothing else runs
        const QString marker = index.fileURL() + QStringLiteral(".running");
        if (QFileInfo::exists(marker)) {
            systemLog(
                QStringLiteral("The last run for %1 ended abruptly; new names are looked up first").arg(key));
            lost = true;
        }
        AtomicFile::write(marker, {}, 0600, AtomicFile::Durability::Unsynced);
        return std::pair<SyncIndex, bool>(std::move(index), lost);
    });
    std::pair<SyncIndex, bool> loaded = co_await loading;
    if (self && !m_index) {
        m_runMarker = loaded.first.fileURL() + QStringLiteral(".running");
        m_index.emplace(std::move(loaded.first));
        m_cloudMayHoldUnrecorded = loaded.second;
    }
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
    // A missing folder is created only for an account that has never synced, and only once
    // its parent exists (that folder is made, not the path to it). An account with uploads
    // whose folder is gone has lost a disk or a mount more likely than its files: making an
    // empty folder there would hide that, and fill the wrong filesystem once the disk is back.
    const bool mayCreate = !m_rootDevice && m_index->entries().isEmpty();
    QFuture<FolderPass> reading = QtConcurrent::run(readFolder, root, m_rootDevice, mayCreate);
    const FolderPass pass = co_await reading;
    if (!self || generation != m_generation || m_suspended)
        co_return;
    if (!pass.device) {
        holdFolder(SyncStatus::Note::folderMissing, QStringLiteral("sync folder not found: ") + root);
        co_return;
    }
    if (m_rootDevice && pass.device != m_rootDevice) {
        holdFolder(SyncStatus::Note::folderMissing,
                   QStringLiteral("sync folder %1 is on another filesystem (device %2) than when syncing "
                                  "started (device %3)")
                       .arg(root, deviceText(*pass.device), deviceText(*m_rootDevice)));
        co_return;
    }
    m_rootDevice = pass.device;
    if (!m_watcher || !m_watcher->isRunning()) {
        // Armed after this pass began reading: one more pass covers what changed meanwhile.
        watch([this] { reconcile(); });
        m_reconcileAgain = m_reconcileAgain || m_watcher->isRunning();
    }
    if (pass.mignoreProblem) {
        holdFolder(SyncStatus::Note::mignoreUnreadable,
                   QStringLiteral("can't read %1/.mignore: %2").arg(root, *pass.mignoreProblem));
        co_return;
    }
    const QList<ScannedFile>& files = pass.files;
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

    noteUnsendable(pass.unsendable);

    const SyncIndex::Entries entries = m_index->entries(); // a copy the pool may read
    const std::shared_ptr<CloudProvider> provider = m_provider;
    QFuture<Changes> comparing = QtConcurrent::run(
        [root, files, entries, provider] { return changedPaths(root, files, entries, provider->hasher()); });
    const Changes changes = co_await comparing;
    if (!self || generation != m_generation || m_suspended)
        co_return;
    restamp(changes.restamped);
    const QStringList& changed = changes.changed;

    AppSupport::breadcrumb(QStringLiteral("reconcile: enqueue %1 \u2014 %2")
                               .arg(changed.size())
                               .arg(changed.mid(0, 5).join(QLatin1Char(','))));
    for (const QString& path : changed)
        enqueue(path);
    if (m_folderHold)
        releaseFolder();
}

// Exact stamps, where a one-second tolerance used to be: an edit that keeps the size within
// the same second as the last upload must not go unseen. Only a settled stamp is trusted,
// since a file system stamps from a coarse clock; anything else is decided by hashing.
UploadSyncEngine::Comparison UploadSyncEngine::compare(const SyncIndexEntry& entry, const LocalFile& file,
                                                       const FileHasher& hasher, qint64 openedAtNs) {
    if (entry.stamp == file.stamp() && entry.stampSettled)
        return {true, std::nullopt};
    if (hasher.hash(file) != entry.contentHash)
        return {false, std::nullopt};
    // Moved while it was read: the hash may mix two versions, and what it holds now is unknown.
    if (file.changedSinceOpen())
        return {false, std::nullopt};
    // Same content under a new stamp (touched, copied over, or an entry without a stamp):
    // recording the stamp spares hashing it again on every pass. Safe because it was taken
    // before the bytes were read and had not moved after the last one.
    SyncIndexEntry restamped = entry;
    restamped.stamp = file.stamp();
    restamped.stampSettled = file.stamp().isSettledAt(openedAtNs);
    if (restamped == entry)
        return {true, std::nullopt};
    return {true, restamped};
}

UploadSyncEngine::Changes UploadSyncEngine::changedPaths(const QString& root, const QList<ScannedFile>& files,
                                                         const SyncIndex::Entries& entries,
                                                         const FileHasher& hasher) {
    Changes changes;
    for (const ScannedFile& scanned : files) {
        const auto it = entries.constFind(scanned.relativePath);
        if (it == entries.cend()) {
            changes.changed.append(scanned.relativePath);
            continue;
        }
        if (it->stamp == scanned.stamp && it->stampSettled)
            continue;
        const qint64 openedAtNs = FileStamp::wallClockNs();
        const auto opened = LocalFile::open(root, scanned.relativePath);
        const auto* file = std::get_if<std::shared_ptr<const LocalFile>>(&opened);
        const Comparison comparison = file ? compare(*it, **file, hasher, openedAtNs) : Comparison{};
        if (!comparison.unchanged)
            changes.changed.append(scanned.relativePath);
        else if (comparison.restamped)
            changes.restamped.insert(scanned.relativePath, *comparison.restamped);
    }
    return changes;
}

void UploadSyncEngine::restamp(const SyncIndex::Entries& restamped) {
    SyncIndex::Entries fresh;
    for (auto it = restamped.constBegin(); it != restamped.constEnd(); ++it) {
        // Compared on the pool against a copy: an upload or restore may have replaced it since.
        std::optional<SyncIndexEntry> current = m_index->entry(it.key());
        if (!current)
            continue;
        current->stamp = it->stamp;
        current->stampSettled = it->stampSettled;
        if (*current == *it)
            fresh.insert(it.key(), *it);
    }
    m_index->set(fresh); // one write for them all
}

void UploadSyncEngine::noteUnsendable(const QList<UnsendableName>& names) {
    QHash<QString, UnsendableName> current;
    for (const UnsendableName& name : names) {
        const auto before = m_unsendable.constFind(name.relativePath);
        if (before == m_unsendable.cend() || before->stamp != name.stamp)
            systemLog(QStringLiteral("Not uploading %1: %2 (it will be once renamed)")
                          .arg(name.relativePath, name.reason));
        current.insert(name.relativePath, name);
    }
    m_unsendable = std::move(current);
    reportParked();
}

void UploadSyncEngine::reportParked() {
    QList<SyncStatus::ParkedFile> all;
    for (auto it = m_parked.cbegin(); it != m_parked.cend(); ++it)
        all.append({it.key(), it->reason});
    for (const UnsendableName& name : std::as_const(m_unsendable))
        all.append({name.relativePath, name.reason});
    std::sort(all.begin(), all.end(),
              [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    m_status.parkedCount = int(all.size());
    m_status.parked = all.mid(0, SyncStatus::parkedListLimit);
    report();
}

void UploadSyncEngine::enqueue(const QString& path) {
    if (m_pendingSet.contains(path))
        return;
    m_pendingSet.insert(path);
    m_pending.push_back(path);
    ++m_batchTotal;
    // The idle poll bounds how late work is noticed; work handed over starts now.
    m_workArrived.ring();
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
        if (!m_paused && m_account && !m_folderHold) {
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
            if (accountHeld()) {
                co_await m_clock.sleep(idlePoll, context);
                continue;
            }
            if (const auto path = takeDuePath()) {
                co_await uploadOne(*path);
                continue;
            }
            if (m_pending.empty() && m_status.state == SyncState::syncing) {
                finishBatch();
                if (isSettled())
                    Q_EMIT settled();
            }
            if (m_cloudMayHoldUnrecorded && isSettled())
                m_cloudMayHoldUnrecorded = false; // a full pass since: everything is recorded again
        }
        // Files waiting out a failure are due at their own times; nothing else is pending.
        const auto due = m_retries.nextDueMs();
        const qint64 untilDue = due ? std::max<qint64>(*due - m_clock.monotonicMs(), 1) : idlePoll.count();
        co_await m_clock.sleep(std::min(idlePoll, std::chrono::milliseconds(untilDue)), context,
                               &m_workArrived);
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
    const qint64 openedAtNs = FileStamp::wallClockNs();
    const auto opened = LocalFile::open(*m_rootURL, path);
    if (const QString* why = std::get_if<QString>(&opened)) {
        refuse(path, *why);
        co_return;
    }
    const std::shared_ptr<const LocalFile> file = std::get<std::shared_ptr<const LocalFile>>(opened);
    if (const auto parked = m_parked.constFind(path); parked != m_parked.cend()) {
        if (parked->stamp == file->stamp())
            co_return; // refused as it is; tried again once it changes
        unpark(path);
    }
    const qint64 size = file->size();
    const auto existing = m_index->entry(path);
    const std::shared_ptr<CloudProvider> provider = m_provider;
    if (existing && existing->stamp == file->stamp()) {
        // Queued again while its previous upload was in flight, and that upload already
        // carried this content (certainly when the stamp is settled, else if the hash says so):
        // sending it twice would only waste the user's bandwidth.
        const SyncIndexEntry entry = *existing;
        QFuture<Comparison> comparing = QtConcurrent::run([entry, file, provider, openedAtNs] {
            return compare(entry, *file, provider->hasher(), openedAtNs);
        });
        const Comparison comparison = co_await comparing;
        if (!self)
            co_return;
        if (comparison.unchanged) {
            if (comparison.restamped)
                restamp({{path, *comparison.restamped}});
            ++m_uploadedThisBatch;
            reportProgress();
            co_return;
        }
    }

    m_status.state = SyncState::syncing;
    m_status.currentFile = lastComponent(path);
    m_status.bytesPerSecond.reset();
    reportProgress();
    AppSupport::breadcrumb(
        QStringLiteral("upload start: %1 (%2 bytes) \u2192 %3").arg(path).arg(size).arg(m_provider->id()));

    const qint64 startMs = m_clock.monotonicMs();
    m_uploadStartMs = startMs;
    const bool refForgotten = m_forgetReference.remove(path);
    const std::optional<QString> existingRef = existing && !refForgotten ? existing->rev : std::nullopt;
    // A name the index does not vouch for may be in the cloud already: an earlier attempt
    // failed without knowing whether it landed, or the index has been lost since.
    const bool mayExist =
        !existingRef && (refForgotten || m_retries.attempts(path) > 0 || m_cloudMayHoldUnrecorded);
    // Providers report on this thread, so at once; one reporting from another would be queued.
    auto progress = [self, startMs](qint64 bytes) {
        if (self)
            QMetaObject::invokeMethod(
                self.data(), [self, bytes, startMs] { self->updateRate(bytes, startMs); },
                Qt::AutoConnection);
    };

    std::optional<CloudUploadResult> result;
    std::exception_ptr error;
    try {
        result = co_await provider->upload(file, path, existingRef, mayExist, progress);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    m_uploadStartMs.reset();

    if (result) {
        m_retries.forget(path);
        // Written to while it went up: the cloud may hold a mix of old and new bytes. The
        // reference is kept (a Drive file id must be reused, not duplicated) but no stamp
        // vouches for the content, and the file goes again.
        const bool moved = file->changedSinceOpen();
        SyncIndexEntry entry{result->size, std::nullopt, result->contentHash, result->ref, m_clock.now()};
        if (!moved) {
            entry.stamp = file->stamp();
            entry.stampSettled = file->stamp().isSettledAt(openedAtNs);
        }
        m_index->set(path, entry);
        recordRecent(path, filePath, result->ref);
        ++m_uploadedThisBatch;
        reportProgress();
        if (moved) {
            systemLog(QStringLiteral("%1 changed while it was uploaded; uploading it again").arg(path));
            enqueue(path);
        }
        co_return;
    }

    handleFailure(path, *file, classify(error));
    ++m_uploadedThisBatch;
    reportProgress();
}

void UploadSyncEngine::handleFailure(const QString& path, const LocalFile& file, const Failure& failure) {
    m_status.lastError = QStringLiteral("upload ") + path + QStringLiteral(": ") + failure.text;
    systemLog(QStringLiteral("Upload failed for ") + path + QStringLiteral(": ") + failure.text);
    const qint64 nowMs = m_clock.monotonicMs();
    switch (failure.kind) {
    case ServiceError::Kind::transient: {
        const int attempts = m_retries.failed(path, nowMs, failure.retryAfter);
        if (failure.retryAfter) // the service asked the whole account to slow down
            m_holdUntilMs = nowMs + std::chrono::milliseconds(*failure.retryAfter).count();
        if (m_giveUpAfter > 0 && attempts >= m_giveUpAfter) {
            park(path, file.stamp(), QStringLiteral("still failing: ") + failure.text);
            break;
        }
        m_status.note = SyncStatus::Note::unreachable;
        enqueue(path);
        break;
    }
    case ServiceError::Kind::authorization:
        m_relinkNeeded = true;
        m_status.state = SyncState::paused;
        m_status.note = SyncStatus::Note::relink;
        enqueue(path);
        break;
    case ServiceError::Kind::quota:
        m_holdUntilMs = nowMs + std::chrono::milliseconds(quotaRecheck).count();
        m_status.state = SyncState::paused;
        m_status.note = SyncStatus::Note::quotaFull;
        m_status.serviceMessage = failure.text;
        enqueue(path);
        break;
    case ServiceError::Kind::refused:
        park(path, file.stamp(), failure.text);
        break;
    case ServiceError::Kind::staleReference:
        // The service forgot the object: the next try creates it afresh.
        m_forgetReference.insert(path);
        enqueue(path);
        break;
    }
    report();
}

void UploadSyncEngine::park(const QString& path, const FileStamp& stamp, const QString& reason) {
    m_retries.forget(path);
    m_parked.insert(path, {stamp, reason});
    reportParked();
}

void UploadSyncEngine::unpark(const QString& path) {
    if (m_parked.remove(path))
        reportParked();
}

bool UploadSyncEngine::accountHeld() {
    if (m_relinkNeeded)
        return true;
    if (!m_holdUntilMs)
        return false;
    if (m_clock.monotonicMs() < *m_holdUntilMs)
        return true;
    // The hold is over: the next upload finds out whether its cause is too.
    m_holdUntilMs.reset();
    if (m_status.state == SyncState::paused && !m_paused) {
        m_status.state = m_pending.empty() ? SyncState::idle : SyncState::syncing;
        report();
    }
    return false;
}

std::optional<QString> UploadSyncEngine::takeDuePath() {
    const qint64 nowMs = m_clock.monotonicMs();
    const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                 [&](const QString& path) { return m_retries.isDue(path, nowMs); });
    if (it == m_pending.end())
        return std::nullopt;
    const QString path = *it;
    m_pending.erase(it);
    m_pendingSet.remove(path);
    return path;
}

void UploadSyncEngine::refuse(const QString& path, const QString& why) {
    // Gone since the scan: nothing to say. Anything else there (a link, a FIFO, a folder)
    // is not uploaded, and the user learns why.
    struct stat st {};
    if (::lstat(QFile::encodeName(*m_rootURL + QLatin1Char('/') + path).constData(), &st) != 0 &&
        errno == ENOENT)
        return;
    m_status.lastError = QStringLiteral("upload ") + path + QStringLiteral(" refused: ") + why;
    report();
    systemLog(QStringLiteral("Not uploading ") + path + QStringLiteral(": ") + why);
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
    foldIndex();
}

QCoro::Task<> UploadSyncEngine::foldIndex() {
    // Writing a 25,000-entry index whole takes milliseconds: on the pool, while uploads that
    // start meanwhile go to a new journal.
    std::optional<SyncIndex::Fold> fold = m_index ? m_index->beginFold() : std::nullopt;
    if (!fold)
        co_return;
    QPointer<UploadSyncEngine> self(this);
    QFuture<bool> writing = QtConcurrent::run([fold = std::move(*fold)]() mutable { return fold.run(); });
    const bool written = co_await writing;
    if (self && m_index)
        m_index->endFold(written);
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
