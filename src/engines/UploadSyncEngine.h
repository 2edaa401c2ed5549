#pragma once

#include "UploadRetries.h"
#include "common/Clock.h"
#include "common/SyncStatus.h"
#include "models/AccountSyncEngine.h"
#include "sync/FileStamp.h"
#include "sync/FolderWatcher.h"
#include "sync/ScannedFile.h"
#include "sync/SyncIndex.h"
#include "sync/UnsendableName.h"

#include <QDateTime>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace norvela {

class AccountModel;
class Clock;
class ClockTimer;
class CloudProvider;
class FileHasher;
class LocalFile;

// The per-account engine: watches the account's folder, works out what changed and uploads
// it through the account's provider, one file at a time, reporting to the account model.
// All of its state lives on the main thread; scans and hashing run on the thread pool.
class UploadSyncEngine : public AccountSyncEngine {
    Q_OBJECT
public:
    static constexpr int largeFolderLimit = 25'000;
    // Every change the watcher misses (a full event queue, folders over the watch limit,
    // filesystems that send no events) is found by this full pass at the latest.
    static constexpr std::chrono::minutes fullReconcileInterval{10};
    // How often a folder that is gone is looked for again.
    static constexpr std::chrono::seconds missingFolderRecheck{5};

    // `watcherOptions` lets tests act out a low watch limit.
    UploadSyncEngine(AccountModel& account, Clock& clock, std::function<bool()> onACPower,
                     FolderWatcher::Options watcherOptions = {});
    ~UploadSyncEngine() override;

    void start() override;
    void pause() override;
    void resume() override;
    void noteRestored(const QString& relativePath, const CloudUploadResult& result,
                      const QString& filePath) override;
    const SyncIndex* loadedIndex() const override { return m_index ? &*m_index : nullptr; }

    // Why `root` must never be synced ("home directory", "ancestor of home", "filesystem
    // root", "contains Norvela's own data"), or none. `protectedFolders` are where Norvela keeps
    // its data and settings (ownFolders() unless a test says otherwise).
    static std::optional<QString> dangerousRootReason(const QString& root, const QString& home,
                                                      const QStringList& protectedFolders = ownFolders());
    static QStringList ownFolders();
    static std::optional<QDateTime> mignoreMtime(const QString& root);

    // What comparing a file with its index entry found.
    struct Comparison {
        bool unchanged = false;
        // With `unchanged`: the entry with the stamp this comparison proved, when that is news.
        std::optional<SyncIndexEntry> restamped;
    };
    // Whether `file` still holds what `entry` records: the same settled stamp, or else the
    // same content hash (read through the file's own descriptor). `openedAtNs` is the wall
    // clock just before the file was opened. Reads the file: off the main thread.
    static Comparison compare(const SyncIndexEntry& entry, const LocalFile& file, const FileHasher& hasher,
                              qint64 openedAtNs);
    struct Changes {
        QStringList changed; // in scan order
        // Entries found unchanged by hashing, with the stamp that proved it.
        SyncIndex::Entries restamped;
    };
    // The scanned files of `root` to upload: new ones, and those whose stamp differs from the
    // index (or cannot be trusted) and whose content hash does too. Every file is opened
    // below `root` without following links or waiting on FIFOs; one that cannot be opened
    // counts as changed, so that the upload says why. Runs off the main thread on copies.
    static Changes changedPaths(const QString& root, const QList<ScannedFile>& files,
                                const SyncIndex::Entries& entries, const FileHasher& hasher);

    // For tests and diagnostics.
    const std::deque<QString>& pending() const { return m_pending; }
    int batchTotal() const { return m_batchTotal; }
    int uploadedThisBatch() const { return m_uploadedThisBatch; }
    // A file failing for a passing reason this many times is parked instead (0: never), so
    // a single pass can end.
    void setGiveUpAfter(int attempts) { m_giveUpAfter = attempts; }
    bool isSuspended() const { return m_suspended; }
    bool isPaused() const { return m_paused; }
    bool isReconciling() const { return m_reconciling; }
    bool hasWatcher() const { return m_watcher != nullptr; }
    FolderWatcher* watcher() const { return m_watcher.get(); }
    // Set while the index had to start empty (missing, damaged, another account's), or the
    // last run ended without closing it, and the first full pass since has not ended: files
    // may already be in the cloud unrecorded.
    bool cloudMayHoldUnrecorded() const { return m_cloudMayHoldUnrecorded; }
    // Started, through at least one full pass, nothing queued, scanning or uploading.
    bool isSettled() const;
Q_SIGNALS:
    // isSettled() has just become true: a pass or a batch of uploads ended with nothing left.
    void settled();

public:
    // The index once loaded (loading runs on the pool when the engine starts).
    const SyncIndex& index() const { return *m_index; }
    // Runs a reconcile now; the returned task ends when it (and any it absorbed) is done.
    QCoro::Task<> reconcile();

private:
    void tearDown();
    QCoro::Task<> loadIndex();
    void watch(std::function<void()> onMainThread);
    void onWatcherAlert(quint64 watchId, FolderWatcher::Alert alert, const QString& message);
    // Nothing uploads from the folder until a pass finds it usable again; says why.
    void holdFolder(SyncStatus::Note note, const QString& problem);
    void releaseFolder();
    QCoro::Task<> reconcileOnce();
    QCoro::Task<> runWorker(QPointer<QObject> context);
    QCoro::Task<> uploadOne(QString path);
    void enqueue(const QString& path);
    // A queued file that cannot be opened as a plain file below the folder: said and dropped.
    void refuse(const QString& path, const QString& why);
    void noteUnsendable(const QList<UnsendableName>& names);
    // Records stamps a comparison proved, unless the entry changed meanwhile.
    void restamp(const SyncIndex::Entries& restamped);
    // Ends the batch, and writes the index whole again (see SyncIndex::fold).
    void finishBatch();
    QCoro::Task<> foldIndex();
    // Holds the account (and says why) while the schedule or the battery forbids uploads.
    bool scheduleHolds();
    // While the account waits for a relink, free space or the service's Retry-After.
    bool accountHeld();
    // The first queued path whose retry is due, taken off the queue.
    std::optional<QString> takeDuePath();
    struct Failure; // what a failed upload means, whatever raised it
    static Failure classify(const std::exception_ptr& error);
    void handleFailure(const QString& path, const LocalFile& file, const Failure& failure);
    void park(const QString& path, const FileStamp& stamp, const QString& reason);
    void unpark(const QString& path);
    void reportParked();
    // Hands the status to the account model, which notifies what really changed.
    void report();
    void updateRate(qint64 bytes, qint64 startMs);
    void recordRecent(const QString& path, const QString& filePath, const QString& ref);
    QCoro::Task<> refreshAccountUsage();
    void suspendAutoSync();
    void recheckIfMignoreChanged();
    void reportProgress();

    QPointer<AccountModel> m_account;
    SyncStatus m_status;
    std::shared_ptr<CloudProvider> m_provider;
    Clock& m_clock;
    std::function<bool()> m_onACPower;
    QString m_accountKey;
    std::optional<SyncIndex> m_index; // loaded by the first reconcile
    bool m_cloudMayHoldUnrecorded = false;
    // Beside the index while this engine runs; still there at the next start means the last
    // run was killed, maybe between an upload and its record.
    QString m_runMarker;
    // Names no service takes, as last scanned: each is logged once until it changes.
    QHash<QString, UnsendableName> m_unsendable;
    std::optional<QString> m_rootURL;
    FolderWatcher::Options m_watcherOptions;
    std::unique_ptr<FolderWatcher> m_watcher;
    quint64 m_watchId = 0; // of the current watcher, so a replaced one's alerts are ignored
    // The filesystem (st_dev) the folder was on when first found after start(): a folder
    // showing up on another one is an unmounted disk's mount point or the like, never used.
    std::optional<quint64> m_rootDevice;
    std::optional<SyncStatus::Note> m_folderHold;
    std::unique_ptr<ClockTimer> m_fullReconcileTimer;
    std::unique_ptr<ClockTimer> m_folderRecheck;
    // Owns the running worker loop: destroying it cancels the loop at its next wait.
    std::unique_ptr<QObject> m_worker;
    // Rung when files are queued, so a sleeping worker starts on them at once.
    Alarm m_workArrived;
    bool m_paused = false;
    std::deque<QString> m_pending;
    QSet<QString> m_pendingSet;
    int m_uploadedThisBatch = 0;
    int m_batchTotal = 0;
    bool m_scheduleHeld = false;
    bool m_suspended = false;
    std::optional<QDateTime> m_mignoreMtimeAtRefusal;
    // Watcher bursts arrive while a scan runs; they fold into one more pass, not parallel scans.
    bool m_reconciling = false;
    int m_passes = 0; // reconciles completed since start()
    bool m_reconcileAgain = false;
    // Bumped by every start(), so a scan begun before a restart is thrown away.
    quint64 m_generation = 0;
    UploadRetries m_retries;
    struct Parked {
        FileStamp stamp;
        QString reason;
    };
    QHash<QString, Parked> m_parked; // tried again only once the file changes
    QSet<QString> m_forgetReference; // the service no longer knows their stored reference
    bool m_relinkNeeded = false;
    std::optional<qint64> m_holdUntilMs; // quota re-check or the service's Retry-After
    int m_giveUpAfter = 0;
    // Start of the upload in flight: late progress reports of a finished upload are dropped.
    std::optional<qint64> m_uploadStartMs;
};

} // namespace norvela
