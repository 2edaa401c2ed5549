#include "FakeProvider.h"
#include "LogCapture.h"
#include "ModelFixture.h"

#include "cloud/DropboxContentHash.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppControl.h"
#include "net/ServiceError.h"
#include "sync/FolderScanner.h"
#include "sync/LocalFile.h"
#include "sync/SyncIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

FileStamp stampOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return FileStamp::of(st);
}

// Same inode, same size: only the bytes (and the times) change.
void rewriteInPlace(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.size(), data.size());
    file.write(data);
}

QString hashOf(const QString& path) {
    return DropboxContentHash::hash(path).value_or(QStringLiteral("?"));
}

std::exception_ptr serviceError(ServiceError::Kind kind, const char* text,
                                std::optional<std::chrono::seconds> retryAfter = {}) {
    return std::make_exception_ptr(ServiceError(kind, QString::fromUtf8(text), retryAfter));
}

} // namespace

class UploadSyncEngineTest : public ModelFixture {
protected:
    void SetUp() override {
        ModelFixture::SetUp();
        engines.makeAccountEngine = [this](AccountModel& owner,
                                           Clock& c) -> std::unique_ptr<AccountSyncEngine> {
            return std::make_unique<UploadSyncEngine>(
                owner, c, [this] { return onACPower; }, watcherOptions);
        };
        makeModel();
        root = m_dir.path() + QStringLiteral("/Sync");
    }
    void TearDown() override {
        account.reset();
        ModelFixture::TearDown();
    }

    // An account on `root` whose engine is running.
    AccountModel& startAccount() {
        account = std::make_unique<AccountModel>(provider, model.get(), root, *settings);
        account->start();
        return *account;
    }
    UploadSyncEngine& engine() { return *static_cast<UploadSyncEngine*>(account->engine()); }

    void write(const QString& relative, const QByteArray& data) { writeFile(root + '/' + relative, data); }

    // Lets scans finish and the worker take turns until `condition` holds, `step` of the
    // clock at a time.
    bool drive(const std::function<bool()>& condition, int steps = 100,
               std::chrono::milliseconds step = 400ms) {
        for (int i = 0; i < steps; ++i) {
            if (waitFor(condition, 30ms))
                return true;
            clock.advance(step);
        }
        return condition();
    }
    bool settled() {
        return !engine().isReconciling() && engine().pending().empty() &&
               account->syncState() == SyncState::idle && provider->inFlight() == 0;
    }
    bool uploadedAndSettled(int n, int steps = 100, std::chrono::milliseconds step = 400ms) {
        return drive([&] { return provider->uploads.size() == n && settled(); }, steps, step);
    }
    void reconcileNow() { await(engine().reconcile()); }
    void releaseHeld() {
        provider->hold = false;
        provider->release();
    }

    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    QStringList uploadedPaths() const {
        QStringList paths;
        for (const auto& upload : provider->uploads)
            paths << upload.relativePath;
        return paths;
    }
    bool heldFor(SyncStatus::Note note) {
        return account->status().note == note && !engine().isReconciling();
    }

    std::unique_ptr<AccountModel> account;
    bool onACPower = true;
    FolderWatcher::Options watcherOptions;
    QString root;

protected:
    QTemporaryDir m_dir;
};

TEST_F(UploadSyncEngineTest, NewFilesUploadOnceAndAreRecorded) {
    write(QStringLiteral("a.txt"), "alpha");
    write(QStringLiteral("docs/b.txt"), "beta");
    write(QStringLiteral(".hidden"), "never");
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(2));
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");
    EXPECT_EQ(account->progress(), 0);

    const auto entry = engine().index().entry(QStringLiteral("docs/b.txt"));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->contentHash, DropboxContentHash::hash(root + "/docs/b.txt"));
    EXPECT_EQ(entry->size, 4);
    EXPECT_EQ(account->recentFiles().size(), 2);
    EXPECT_EQ(account->recentFiles().first().relativePath, provider->uploads.last().relativePath);
    EXPECT_EQ(account->account()->email, "fake@example.com"); // refreshed after the batch
    EXPECT_EQ(account->syncedFiles().size(), 2);

    // A second pass over an unchanged folder uploads nothing; a same-size rewrite milliseconds
    // after the upload goes up and passes the old ref back, dropped if the service forgot it.
    reconcileNow();
    EXPECT_TRUE(engine().pending().empty());
    const auto before = engine().index().entry(QStringLiteral("a.txt"));
    write(QStringLiteral("a.txt"), "ALPHA");
    provider->failWith["a.txt"] = {serviceError(ServiceError::Kind::staleReference, "File not found: rev-1")};
    QList<std::optional<QString>> refs;
    provider->onAttempt = [&](const QString&, const std::optional<QString>& ref) { refs.append(ref); };
    reconcileNow();
    ASSERT_TRUE(uploadedAndSettled(3));
    EXPECT_EQ(refs, (QList<std::optional<QString>>{before->rev, std::nullopt}));
    EXPECT_EQ(provider->uploads.last().contentHash, hashOf(root + "/a.txt"));
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->contentHash, hashOf(root + "/a.txt"));
}

TEST_F(UploadSyncEngineTest, ComparisonTrustsOnlyASettledEqualStampAndHashesTheRest) {
    for (const QString name : {"same.txt", "unsettled.txt", "touched.txt", "edited.txt", "timesPutBack.txt",
                               "legacy.txt", "new.txt"})
        write(name, "content");
    const QString hash = hashOf(root + "/same.txt");
    // Rewritten with the same size and its modification time put back: a one-second
    // tolerance (or a modification time alone) would never see it.
    const FileStamp beforeRewrite = stampOf(root + "/timesPutBack.txt");
    rewriteInPlace(root + "/timesPutBack.txt", "CONTENT");
    const timespec times[2] = {
        {0, UTIME_OMIT}, {beforeRewrite.mtimeNs / 1'000'000'000, beforeRewrite.mtimeNs % 1'000'000'000}};
    ::utimensat(AT_FDCWD, QFile::encodeName(root + "/timesPutBack.txt").constData(), times, 0);

    const MignoreRules none;
    const QList<ScannedFile> scanned = FolderScanner::scan(root, &none);
    auto scannedStamp = [&](const QString& name) {
        return std::find_if(scanned.cbegin(), scanned.cend(), [&](auto& f) { return f.relativePath == name; })
            ->stamp;
    };
    auto entry = [&](std::optional<FileStamp> stamp, const QString& contentHash = QString()) {
        return SyncIndexEntry{7, stamp, contentHash.isEmpty() ? hash : contentHash, QStringLiteral("r"),
                              clock.now()};
    };
    FileStamp oneNanosecondOff = scannedStamp("touched.txt");
    oneNanosecondOff.mtimeNs -= 1;
    SyncIndex::Entries entries{{"same.txt", entry(scannedStamp("same.txt"))},
                               {"unsettled.txt", entry(scannedStamp("unsettled.txt"))},
                               {"touched.txt", entry(oneNanosecondOff)},
                               {"edited.txt", entry(scannedStamp("edited.txt"), QStringLiteral("other"))},
                               {"timesPutBack.txt", entry(beforeRewrite)},
                               {"legacy.txt", entry(std::nullopt)}};
    entries["unsettled.txt"].stampSettled = false;
    entries["edited.txt"].stamp->ctimeNs -= 1;

    const UploadSyncEngine::Changes changes =
        UploadSyncEngine::changedPaths(root, scanned, entries, provider->hasher());
    EXPECT_EQ(QSet<QString>(changes.changed.begin(), changes.changed.end()),
              (QSet<QString>{"edited.txt", "timesPutBack.txt", "new.txt"}));
    EXPECT_EQ(provider->hashes(), 5); // never the settled equal stamp, never the new file
    // Unchanged content under another stamp (or none) is recorded, so it is not hashed again.
    for (const QString name : {"touched.txt", "legacy.txt"}) {
        ASSERT_TRUE(changes.restamped.contains(name)) << name.toStdString();
        EXPECT_EQ(changes.restamped[name].stamp, scannedStamp(name));
        EXPECT_EQ(changes.restamped[name].contentHash, hash);
    }
    for (const QString name : {"same.txt", "edited.txt", "timesPutBack.txt", "new.txt"})
        EXPECT_FALSE(changes.restamped.contains(name)) << name.toStdString();
}

// A file swapped after the scan for a link or a FIFO: comparing it must neither read what
// the link leads to (here content the index knows, which would pass it as unchanged) nor
// wait for a FIFO's writer.
TEST_F(UploadSyncEngineTest, ComparisonNeverFollowsALinkNorWaitsOnAFifo) {
    QTemporaryDir outside;
    writeFile(outside.filePath("secret.txt"), "secret!");
    QDir().mkpath(root);
    ASSERT_EQ(::symlink(qPrintable(outside.filePath("secret.txt")), qPrintable(root + "/link.txt")), 0);
    ASSERT_EQ(::mkfifo(qPrintable(root + "/pipe"), 0600), 0);
    const FileStamp scannedAs{7, 2, 2};
    const QList<ScannedFile> scanned{{"link.txt", root + "/link.txt", scannedAs},
                                     {"pipe", root + "/pipe", scannedAs}};
    const SyncIndexEntry known{7, FileStamp{7, 1, 1}, hashOf(outside.filePath("secret.txt")),
                               QStringLiteral("r"), clock.now()};
    const SyncIndex::Entries entries{{"link.txt", known}, {"pipe", known}};

    auto comparing = std::async(std::launch::async, [&] {
        return UploadSyncEngine::changedPaths(root, scanned, entries, provider->hasher());
    });
    if (comparing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ::close(::open(qPrintable(root + "/pipe"), O_WRONLY)); // release the stuck reader first
        FAIL() << "the comparison waited on a FIFO";
    }
    EXPECT_EQ(comparing.get().changed, (QStringList{"link.txt", "pipe"})); // the upload says why
    EXPECT_EQ(provider->hashes(), 0);
}

TEST_F(UploadSyncEngineTest, AFileRewrittenWhileItUploadsEndsUpInTheCloudAsItIsNow) {
    write(QStringLiteral("a.txt"), "first draft");
    provider->hold = true;
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    // Its bytes went up; the reply has not come yet when the file changes in place.
    rewriteInPlace(root + "/a.txt", "FIRST DRAFT");
    releaseHeld();
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_EQ(provider->uploads.size(), 2);
    EXPECT_EQ(provider->uploads.last().contentHash, hashOf(root + "/a.txt"));
    EXPECT_EQ(provider->uploads.last().existingRef, "rev-1"); // the same cloud file, a new version
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->contentHash, hashOf(root + "/a.txt"));

    // Replaced by a rename instead: the upload in flight still reads the file it opened, and
    // the next pass finds the new one.
    provider->hold = true;
    write(QStringLiteral("a.txt"), "second draft");
    reconcileNow();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    write(QStringLiteral("a.txt.new"), "SECOND DRAFT");
    ASSERT_EQ(::rename(qPrintable(root + "/a.txt.new"), qPrintable(root + "/a.txt")), 0);
    releaseHeld();
    reconcileNow();
    ASSERT_TRUE(
        drive([&] { return settled() && provider->uploads.last().contentHash == hashOf(root + "/a.txt"); }));
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->contentHash, hashOf(root + "/a.txt"));
    EXPECT_FALSE(account->lastDebugError().has_value());
}

TEST_F(UploadSyncEngineTest, AQueuedFileSwappedForALinkIsNotUploadedAndTheUserLearnsWhy) {
    QTemporaryDir outside;
    writeFile(outside.filePath("secret.txt"), "secret");
    write(QStringLiteral("a.txt"), "a");
    write(QStringLiteral("b.txt"), "b");
    provider->hold = true;
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1 && engine().pending().size() == 1; }));
    const QString swapped = engine().pending().front();
    QFile::remove(root + "/" + swapped);
    ASSERT_EQ(::symlink(qPrintable(outside.filePath("secret.txt")), qPrintable(root + "/" + swapped)), 0);
    releaseHeld();
    ASSERT_TRUE(drive([&] { return engine().pending().empty() && provider->inFlight() == 0; }));
    ASSERT_EQ(provider->uploads.size(), 1);
    EXPECT_NE(provider->uploads.first().relativePath, swapped);
    EXPECT_EQ(account->lastDebugError(),
              "upload " + swapped + " refused: is a symbolic link, or lies behind one");
}

TEST_F(UploadSyncEngineTest, UnsafeRootsAreRefused) {
    // Norvela's own credentials, indexes and settings never go up with a folder either.
    const QString home = QStringLiteral("/Users/x");
    const QStringList own{"/Users/x/.local/share/Norvela", "/Users/x/.config/Norvela"};
    const std::pair<const char*, std::optional<QString>> roots[] = {
        {"/Users/x", "home directory"},
        {"/Users/x/../x/", "home directory"},
        {"/Users", "ancestor of home"},
        {"/", "filesystem root"},
        {"/Users/x/Documents", {}},
        {"/Volumes/Data/Sync", {}},
        {"/Users/xy", {}},
        {"/Users/x/.local", "contains Norvela's own data"},
        {"/Users/x/.config/", "contains Norvela's own data"},
        {"/Users/x/.local/share/Norvela", "contains Norvela's own data"},
        {"/Users/x/.local/share/Norvela-2", {}}};
    for (const auto& [root, reason] : roots)
        EXPECT_EQ(UploadSyncEngine::dangerousRootReason(root, home, own), reason) << root;

    // A link to home is home; a tilde path is expanded before the check.
    const QString link = QDir::homePath() + "/../home-link";
    QFile::link(QDir::homePath(), link);
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason(link, QDir::homePath()), "home directory");
    QFile::remove(link);

    root = QStringLiteral("~");
    startAccount();
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->lastSyncedDescription(), QString::fromUtf8("Sync paused \u2014 unsafe folder"));
    EXPECT_EQ(account->lastDebugError(), "unsafe sync root (home directory): " + QDir::homePath());
    EXPECT_FALSE(engine().hasWatcher());

    // Here the data folder (credentials, indexes) is the support folder; a link to it too.
    const QString dataLink = supportPath() + "-link";
    ASSERT_TRUE(QFile::link(supportPath(), dataLink));
    for (const QString& unsafe : {supportPath(), dataLink}) {
        root = unsafe;
        startAccount();
        EXPECT_EQ(account->status().reasonKey(), "unsafe-folder");
        EXPECT_EQ(account->lastDebugError(), "unsafe sync root (contains Norvela's own data): " + unsafe);
    }
    QFile::remove(dataLink);
}

TEST_F(UploadSyncEngineTest, LargeFolderIsHeldUntilTheIgnoreFileChanges) {
    QDir().mkpath(root + "/bulk");
    for (int i = 0; i <= UploadSyncEngine::largeFolderLimit; ++i)
        QFile(root + QStringLiteral("/bulk/%1.dat").arg(i)).open(QIODevice::WriteOnly);
    startAccount();
    ASSERT_TRUE(drive([&] { return engine().isSuspended(); }));
    EXPECT_TRUE(account->pausedForLargeFolder());
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->lastSyncedDescription(),
              QString::fromUtf8("Sync paused \u2014 folder has 25,001 files"));
    EXPECT_EQ(account->lastDebugError(), "sync root has 25001 files (> 25000); refusing to auto-upload");
    EXPECT_TRUE(engine().pending().empty());

    // Other edits change nothing; resume scans again and refuses again.
    write(QStringLiteral("note.txt"), "x");
    clock.advance(2s);
    EXPECT_TRUE(engine().isSuspended());
    engine().resume();
    ASSERT_TRUE(drive([&] { return engine().isSuspended() && !engine().isReconciling(); }));
    EXPECT_TRUE(provider->uploads.isEmpty());

    // Ignoring the bulk folder lifts the hold through the watcher.
    write(QStringLiteral(".mignore"), "bulk/\n");
    ASSERT_TRUE(uploadedAndSettled(1, 300));
    EXPECT_FALSE(account->pausedForLargeFolder());
    EXPECT_EQ(provider->uploads.first().relativePath, "note.txt");
}

TEST_F(UploadSyncEngineTest, QueueHoldsEachPathOnceAndOneUploadAtATime) {
    write(QStringLiteral("a.txt"), "a");
    write(QStringLiteral("b.txt"), "b");
    write(QStringLiteral("c.txt"), "c");
    provider->hold = true;
    startAccount();
    engine().start(); // starting twice keeps one watcher and one worker
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1 && !engine().isReconciling(); }));
    reconcileNow();
    reconcileNow();
    // The file in flight left the queue, so the next pass queues it once more; the rest once.
    EXPECT_EQ(engine().pending().size(), 3u);
    EXPECT_EQ(engine().batchTotal(), 4);

    // A file vanishing from the queue is dropped; the one queued twice goes up once.
    const QString inFlight = engine().pending().back();
    const QString doomed = engine().pending().front();
    QFile::remove(root + "/" + doomed);
    releaseHeld();
    ASSERT_TRUE(drive([&] { return settled(); }));
    const QStringList uploaded = uploadedPaths();
    EXPECT_EQ(uploaded.size(), 2);
    EXPECT_EQ(uploaded.count(inFlight), 1);
    EXPECT_FALSE(uploaded.contains(doomed));
    EXPECT_EQ(provider->maxInFlight(), 1);
}

TEST_F(UploadSyncEngineTest, ScheduleAndBatteryHoldUploads) {
    write(QStringLiteral("a.txt"), "a");
    const int hour = clock.now().toLocalTime().time().hour();
    model->setSchedule(SyncSchedule{true, (hour + 2) % 24, (hour + 4) % 24, false});
    startAccount();
    ASSERT_TRUE(drive([&] { return engine().pending().size() == 1; }));
    clock.advance(1s);
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_TRUE(
        account->lastSyncedDescription().startsWith(QString::fromUtf8("Sync paused \u2014 outside ")));

    // Inside the hours but on battery: the battery reason; mains power again: it uploads.
    model->setSchedule(SyncSchedule{true, hour, (hour + 1) % 24, true});
    onACPower = false;
    clock.advance(20s);
    EXPECT_EQ(account->lastSyncedDescription(), QString::fromUtf8("Sync paused \u2014 on battery"));
    EXPECT_TRUE(provider->uploads.isEmpty());
    onACPower = true;
    clock.advance(20s);
    ASSERT_TRUE(uploadedAndSettled(1));
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");
}

TEST_F(UploadSyncEngineTest, TheRateShownIsTheCurrentFilesOnlyAndOnlyDuringAnUpload) {
    write(QStringLiteral("a-big.bin"), QByteArray(5'000'000, 'x'));
    write(QStringLiteral("b-small.bin"), QByteArray(1'000'000, 'x'));
    provider->hold = true;
    startAccount();
    QStringList rates;
    QObject::connect(account.get(), &AccountModel::transferRateChanged,
                     [&] { rates << account->transferRate(); });
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    clock.advance(2s);
    provider->release(); // the first goes up; the second is held in turn
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && provider->inFlight() == 1; }));
    clock.advance(4s);
    releaseHeld();
    ASSERT_TRUE(drive([&] { return settled(); }));
    // The first file's rate goes as the second starts, never shown for it; cleared with the
    // batch. The scan decides which goes first: 5 MB or 1 MB in 2 s, then the other in 4 s.
    const bool bigFirst = provider->uploads.first().relativePath == QLatin1String("a-big.bin");
    const QStringList expected =
        bigFirst ? QStringList{"2.5 MB/s", "", "250 KB/s", ""} : QStringList{"0.5 MB/s", "", "1.3 MB/s", ""};
    EXPECT_EQ(rates, expected);
}

TEST_F(UploadSyncEngineTest, PassingFailuresBackOffPerFileWhileOthersGoOn) {
    write(QStringLiteral("a.txt"), "a");
    write(QStringLiteral("b.txt"), "b");
    QList<qint64> attemptsOfA;
    provider->onAttempt = [&](const QString& path, const auto&) {
        if (path == QLatin1String("a.txt"))
            attemptsOfA.append(clock.monotonicMs());
    };
    // An error of no known kind counts as a passing one.
    provider->failWith["a.txt"] = {
        std::make_exception_ptr(NorvelaError(QStringLiteral("HTTP 503: unavailable"))),
        serviceError(ServiceError::Kind::transient, "HTTP 503: busy")};
    startAccount();
    ASSERT_TRUE(drive([&] { return account->lastDebugError().has_value(); }));
    EXPECT_EQ(account->lastDebugError(), "upload a.txt: HTTP 503: unavailable");
    EXPECT_EQ(account->syncState(), SyncState::syncing);
    EXPECT_EQ(account->lastSyncedDescription(), "Can't reach Dropbox");
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 2; }, 300));
    EXPECT_EQ(account->filesTotal(), 4); // two files, two retries: each attempt counts
    EXPECT_EQ(account->filesDone(), 4);
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_EQ(engine().batchTotal(), 0);
    // b went up while a waited; a's waits grew from about 3 s to about 6 s.
    EXPECT_EQ(provider->uploads.first().relativePath, "b.txt");
    ASSERT_EQ(attemptsOfA.size(), 3);
    EXPECT_GE(attemptsOfA[1] - attemptsOfA[0], 2250);
    EXPECT_GE(attemptsOfA[2] - attemptsOfA[1], 4500);
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");

    // A Retry-After holds every file of the account for that long.
    write(QStringLiteral("c.txt"), "c");
    write(QStringLiteral("d.txt"), "d");
    provider->failWith["c.txt"] = {serviceError(ServiceError::Kind::transient, "HTTP 429: slow down", 60s)};
    provider->failWith["d.txt"] = {serviceError(ServiceError::Kind::transient, "HTTP 429: slow down", 60s)};
    QList<qint64> attempts;
    provider->onAttempt = [&](const QString&, const auto&) { attempts.append(clock.monotonicMs()); };
    reconcileNow();
    ASSERT_TRUE(uploadedAndSettled(4, 100, 2s));
    // The first refusal holds everything: the other file is not tried within the minute.
    ASSERT_GE(attempts.size(), 3);
    EXPECT_GE(attempts[1] - attempts[0], 60'000);
    // A failed try may have landed unseen: the one that ends it says so, so that no second
    // copy is made. A file that never failed, after a full pass, needs no such care.
    EXPECT_TRUE(provider->uploads[2].mayExist && provider->uploads[3].mayExist);
    write(QStringLiteral("e.txt"), "e");
    reconcileNow();
    ASSERT_TRUE(uploadedAndSettled(5));
    EXPECT_FALSE(provider->uploads.last().mayExist);
}

TEST_F(UploadSyncEngineTest, AGrantOrSpaceGoneHoldsTheAccountWithItsReason) {
    write(QStringLiteral("a.txt"), "a");
    provider->failWith["a.txt"] = {serviceError(ServiceError::Kind::authorization, "token revoked")};
    int attempts = 0;
    provider->onAttempt = [&](const QString&, const auto&) { ++attempts; };
    startAccount();
    ASSERT_TRUE(drive([&] { return account->status().note == SyncStatus::Note::relink; }));
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->lastSyncedDescription(), "Relink Dropbox in Preferences");
    EXPECT_EQ(account->status().reasonKey(), "authorization");
    clock.advance(30min);
    EXPECT_EQ(attempts, 1); // nothing a retry could mend
    engine().resume();      // after a relink, or when the user insists
    ASSERT_TRUE(uploadedAndSettled(1));

    write(QStringLiteral("b.txt"), "b");
    provider->failWith["b.txt"] = {serviceError(ServiceError::Kind::quota, "Your Dropbox is full")};
    reconcileNow();
    ASSERT_TRUE(drive([&] { return account->status().note == SyncStatus::Note::quotaFull; }));
    EXPECT_EQ(account->lastSyncedDescription(), QString::fromUtf8("Sync paused \u2014 Your Dropbox is full"));
    EXPECT_EQ(account->status().reasonKey(), "quota");
    clock.advance(9min);
    EXPECT_EQ(attempts, 3);
    // Ten minutes on it looks again, and there is room now.
    ASSERT_TRUE(uploadedAndSettled(2, 100, 5s));
}

TEST_F(UploadSyncEngineTest, RefusedFilesWaitForAChangeAndAreListed) {
    write(QStringLiteral("bad.txt"), "x");
    write(QStringLiteral("flaky.txt"), "y");
    provider->failWith["bad.txt"] = {serviceError(ServiceError::Kind::refused, "name not allowed")};
    QStringList attempted;
    provider->onAttempt = [&](const QString& path, const auto&) { attempted.append(path); };
    startAccount();
    engine().setGiveUpAfter(2); // as a single pass does
    ASSERT_TRUE(drive([&] { return attempted.size() >= 2 && settled(); }, 300));
    const QList<SyncStatus::ParkedFile> refused{
        {QStringLiteral("bad.txt"), QStringLiteral("name not allowed")}};
    EXPECT_EQ(account->status().parked, refused);

    // Unchanged, it is not tried again; changed, it is.
    const int before = attempted.size();
    reconcileNow();
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_EQ(attempted.size(), before);
    write(QStringLiteral("bad.txt"), "renamed content");
    reconcileNow();
    ASSERT_TRUE(uploadedAndSettled(2));
    EXPECT_TRUE(account->status().parked.isEmpty());

    // A file that keeps failing for a passing reason is given up on after the set attempts.
    write(QStringLiteral("flaky.txt"), "longer");
    provider->failWith["flaky.txt"] =
        QList<std::exception_ptr>(5, serviceError(ServiceError::Kind::transient, "HTTP 503: unavailable"));
    reconcileNow();
    ASSERT_TRUE(drive([&] { return !account->status().parked.isEmpty() && settled(); }, 300));
    EXPECT_EQ(account->status().parked.first().reason, "still failing: HTTP 503: unavailable");
}

TEST_F(UploadSyncEngineTest, AnUnreadableIgnoreFileHoldsTheAccountUntilItIsFixed) {
    write(QStringLiteral("private/secret.txt"), "secret");
    write(QStringLiteral("open.txt"), "open");
    const QString mignore = root + QStringLiteral("/.mignore");
    ASSERT_EQ(::mkfifo(QFile::encodeName(mignore).constData(), 0644), 0);
    startAccount();
    ASSERT_TRUE(drive([&] { return heldFor(SyncStatus::Note::mignoreUnreadable); }));
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->lastSyncedDescription(), QString::fromUtf8("Sync paused \u2014 can't read .mignore"));
    EXPECT_EQ(account->status().reasonKey(), "mignore");
    EXPECT_EQ(account->lastDebugError(), "can't read " + mignore + ": is not a regular file");
    clock.advance(5s);
    EXPECT_TRUE(provider->uploads.isEmpty());
    EXPECT_TRUE(engine().pending().empty());

    // Rules kept elsewhere behind a link are no fix.
    QTemporaryDir outside;
    writeFile(outside.filePath("rules"), "private/\n");
    QFile::remove(mignore);
    ASSERT_TRUE(QFile::link(outside.filePath("rules"), mignore));
    ASSERT_TRUE(
        drive([&] { return account->lastDebugError() == "can't read " + mignore + ": is a symbolic link"; }));
    EXPECT_TRUE(provider->uploads.isEmpty());

    // The file itself, even with a byte that is not UTF-8, lifts the hold and keeps private/ out.
    QFile::remove(mignore);
    write(QStringLiteral(".mignore"), "private/\n\xff\n");
    ASSERT_TRUE(uploadedAndSettled(1));
    EXPECT_EQ(uploadedPaths(), QStringList{"open.txt"});
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");

    // Broken again mid-batch: the upload in flight ends, what was queued under the old rules is dropped.
    provider->hold = true;
    write(QStringLiteral("later.txt"), "later");
    write(QStringLiteral("later2.txt"), "later");
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1 && engine().pending().size() == 1; }));
    QFile::remove(mignore);
    ASSERT_TRUE(QDir(root).mkdir(QStringLiteral(".mignore")));
    ASSERT_TRUE(drive([&] { return heldFor(SyncStatus::Note::mignoreUnreadable); }));
    EXPECT_TRUE(engine().pending().empty());
    releaseHeld();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 0; }));
    clock.advance(5s);
    processEvents();
    EXPECT_EQ(provider->uploads.size(), 2);
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->status().note, SyncStatus::Note::mignoreUnreadable);
}

TEST_F(UploadSyncEngineTest, AMissingFolderIsMadeOnlyBeforeTheFirstUploadAndPickedUpWhenItReturns) {
    const QString parent = m_dir.path() + QStringLiteral("/parent");
    root = parent + QStringLiteral("/Sync");
    startAccount();
    ASSERT_TRUE(drive([&] { return heldFor(SyncStatus::Note::folderMissing); }));
    EXPECT_FALSE(QFileInfo::exists(parent)); // only the folder itself is ever made
    ASSERT_TRUE(QDir().mkdir(parent));
    ASSERT_TRUE(drive([&] { return QFileInfo(root).isDir() && !engine().isReconciling(); }));
    ASSERT_TRUE(drive([&] { return account->status().note == SyncStatus::Note::upToDate; }));
    ASSERT_TRUE(engine().watcher() && engine().watcher()->isRunning());
    write(QStringLiteral("a.txt"), "a");
    ASSERT_TRUE(uploadedAndSettled(1));

    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(drive([&] { return heldFor(SyncStatus::Note::folderMissing); }));
    EXPECT_EQ(account->syncState(), SyncState::paused);
    EXPECT_EQ(account->lastSyncedDescription(), QString::fromUtf8("Sync paused \u2014 folder not found"));
    EXPECT_EQ(account->status().reasonKey(), "folder-missing");
    EXPECT_EQ(account->lastDebugError(), "sync folder not found: " + root);
    EXPECT_FALSE(engine().hasWatcher());
    // This account has uploaded from it: an empty folder in its place would hide the loss.
    clock.advance(30s);
    EXPECT_FALSE(QFileInfo::exists(root));

    // Back on the same filesystem: found by the recheck, watched again.
    write(QStringLiteral("b.txt"), "b");
    ASSERT_TRUE(uploadedAndSettled(2));
    EXPECT_EQ(uploadedPaths(), (QStringList{"a.txt", "b.txt"}));
    ASSERT_TRUE(engine().watcher() && engine().watcher()->isRunning());
    write(QStringLiteral("c.txt"), "c");
    // Heard, not polled, and sent at once: no clock moved.
    EXPECT_TRUE(waitFor([&] { return provider->uploads.size() == 3; }));
}

TEST_F(UploadSyncEngineTest, AFolderOnAnotherFilesystemIsNeverUsed) {
    // The folder is a link, so it can be pointed at another filesystem as a remount would.
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/norvela-test-XXXXXX"));
    const QString home = m_dir.path() + QStringLiteral("/real");
    struct stat here {
    }, there{};
    ASSERT_TRUE(QDir().mkpath(home));
    if (!elsewhere.isValid() || ::stat(QFile::encodeName(home).constData(), &here) != 0 ||
        ::stat(QFile::encodeName(elsewhere.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second filesystem at /dev/shm";
    ASSERT_TRUE(QFile::link(home, root));
    write(QStringLiteral("a.txt"), "a");
    writeFile(elsewhere.filePath("stranger.txt"), "s");
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(1));

    auto pointAt = [&](const QString& target) {
        QFile::remove(root);
        ASSERT_TRUE(QFile::link(target, root));
    };
    pointAt(elsewhere.path());
    clock.advance(UploadSyncEngine::fullReconcileInterval);
    ASSERT_TRUE(drive([&] { return heldFor(SyncStatus::Note::folderMissing); }));
    EXPECT_TRUE(account->lastDebugError()->contains(QStringLiteral("is on another filesystem")));
    clock.advance(30s);
    EXPECT_EQ(account->status().note, SyncStatus::Note::folderMissing);

    writeFile(home + QStringLiteral("/b.txt"), "b");
    pointAt(home);
    ASSERT_TRUE(uploadedAndSettled(2));
    EXPECT_EQ(uploadedPaths(), (QStringList{"a.txt", "b.txt"}));
}

// With one watch, only the top folder is heard: "deep" changes unseen, as on a system out of
// watches or a filesystem that sends no events.
TEST_F(UploadSyncEngineTest, WhatTheWatcherMissesGoesUpAfterAnOverflowOrTheFullPass) {
    watcherOptions.watchLimit = 1;
    write(QStringLiteral("deep/a.txt"), "a");
    startAccount();
    ASSERT_TRUE(
        drive([&] { return provider->uploads.size() == 1 && settled() && account->lastDebugError(); }));
    const QString limitNote = *account->lastDebugError();
    EXPECT_TRUE(limitNote.contains(QStringLiteral("fs.inotify.max_user_watches is 1")));
    EXPECT_TRUE(limitNote.contains(QStringLiteral("sudo sysctl fs.inotify.max_user_watches=")));

    write(QStringLiteral("deep/b.txt"), "b");
    engine().watcher()->simulateOverflow();
    EXPECT_TRUE(waitFor([&] { return provider->uploads.size() == 2; })); // no clock moved
    ASSERT_TRUE(uploadedAndSettled(2));

    write(QStringLiteral("deep/c.txt"), "c");
    clock.advance(UploadSyncEngine::fullReconcileInterval);
    ASSERT_TRUE(uploadedAndSettled(3));
    EXPECT_EQ(uploadedPaths(), (QStringList{"deep/a.txt", "deep/b.txt", "deep/c.txt"}));
    EXPECT_EQ(account->lastDebugError(), limitNote); // still said, though all is up to date
}

TEST_F(UploadSyncEngineTest, EachUploadIsOnDiskBeforeTheNextStartsAndTheIndexIsWrittenWholeAtBatchEnds) {
    const QString indexFile = supportPath() + "/index/dropbox.json";
    const QStringList journals{indexFile + ".journal", indexFile + ".journal.folding"};
    auto journaled = [&] { return QFileInfo::exists(journals[0]) || QFileInfo::exists(journals[1]); };
    auto inFile = [&] { return SyncIndex::decode(readFile(indexFile)).value_or(SyncIndex::Entries{}); };
    for (const QString name : {"a.txt", "b.txt", "c.txt"})
        write(name, name.toUtf8());
    QStringList unrecorded;
    int rewrites = 0;
    provider->onAttempt = [&](const QString&, const std::optional<QString>&) {
        for (const auto& upload : provider->uploads)
            if (!SyncIndex(QStringLiteral("dropbox")).entry(upload.relativePath))
                unrecorded << upload.relativePath;
        rewrites += !inFile().isEmpty(); // journaled, the file left as the start wrote it
    };
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(3));
    EXPECT_TRUE(unrecorded.isEmpty()) << unrecorded.join(' ').toStdString();
    EXPECT_EQ(rewrites, 0);
    ASSERT_TRUE(waitFor([&] { return !journaled(); }));
    EXPECT_EQ(readFile(indexFile), SyncIndex::encode(engine().index().entries(), engine().index().owner()));

    // Gone mid-batch, one file recorded and the other on its way: the next start folds the journal.
    write(QStringLiteral("d.txt"), "d");
    write(QStringLiteral("e.txt"), "e");
    provider->hold = true;
    reconcileNow();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    provider->release();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 4 && provider->inFlight() == 1; }));
    account.reset();
    EXPECT_TRUE(journaled());
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 2; }));
    EXPECT_FALSE(journaled());
    EXPECT_EQ(inFile().size(), 4);
    releaseHeld();
    ASSERT_TRUE(uploadedAndSettled(6)); // the one held by the engine that went as well
    const QString second = uploadedPaths()[3] == "d.txt" ? "e.txt" : "d.txt";
    EXPECT_EQ(uploadedPaths().mid(4), (QStringList{second, second}));
    ASSERT_TRUE(waitFor([&] { return !journaled(); }));
    EXPECT_EQ(inFile(), engine().index().entries());
}

TEST_F(UploadSyncEngineTest, AnIndexOfTheFirstFormatIsHashedOnceNotUploadedAgain) {
    for (const QString name : {"a.txt", "b.txt", "c.txt"})
        write(name, name.toUtf8());
    const QByteArray first =
        QStringLiteral(R"({"a.txt":{"size":5,"mtime":0,"contentHash":"%1","rev":"ra","syncedAt":0},)"
                       R"("b.txt":{"size":5,"mtime":0,"contentHash":"%2","rev":"rb","syncedAt":0},)"
                       R"("c.txt":{"size":5,"mtime":0,"contentHash":"stale","rev":"rc","syncedAt":0}})")
            .arg(hashOf(root + "/a.txt"), hashOf(root + "/b.txt"))
            .toUtf8();
    writeFile(supportPath() + "/index/dropbox.json", first);
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(1));
    EXPECT_EQ(provider->uploads.first().relativePath, "c.txt");
    EXPECT_EQ(provider->uploads.first().existingRef, "rc");
    EXPECT_EQ(provider->hashes(), 3);
    EXPECT_FALSE(engine().cloudMayHoldUnrecorded());
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->rev, "ra");
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->stamp, stampOf(root + "/a.txt"));

    // Once the files' stamps can be trusted, one more pass hashes each and the next none.
    ASSERT_TRUE(waitFor([&] { return stampOf(root + "/c.txt").isSettledAt(FileStamp::wallClockNs()); }, 5s));
    reconcileNow();
    EXPECT_EQ(provider->hashes(), 6);
    reconcileNow();
    EXPECT_EQ(provider->hashes(), 6);
    EXPECT_EQ(provider->uploads.size(), 1);
}

TEST_F(UploadSyncEngineTest, AnIndexThatCannotBeTrustedIsKeptAsideAndEverythingGoesUp) {
    const QString indexFile = supportPath() + "/index/dropbox.json";
    auto aside = [&](const QString& tag) {
        return QDir(supportPath() + "/index").entryList({"dropbox.json." + tag + "-*"}, QDir::Files);
    };
    write(QStringLiteral("a.txt"), "alpha");
    const QString entries = QStringLiteral(R"("files":{"a.txt":{"size":5,"contentHash":"%1","syncedAt":0}})")
                                .arg(hashOf(root + "/a.txt"));
    auto writeIndex = [&](const QString& owner) {
        writeFile(indexFile, ("{\"format\":2,\"owner\":" + owner + "," + entries + "}").toUtf8());
    };

    // The same account under a new address: its index stands.
    writeIndex(R"({"uid":"fake-uid","email":"old@example.com"})");
    startAccount();
    ASSERT_TRUE(drive([&] { return settled() && engine().isSettled(); }));
    EXPECT_TRUE(provider->uploads.isEmpty());
    EXPECT_EQ(SyncIndex(QStringLiteral("dropbox")).owner(),
              (AccountIdentity{"fake-uid", "fake@example.com"}));

    // Another account's index under the same key (unlinked, then another account linked).
    account.reset();
    writeIndex(R"({"uid":"dbid:someone-else","email":"fake@example.com"})");
    provider->hold = true;
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    EXPECT_TRUE(engine().cloudMayHoldUnrecorded()); // until this pass ends, names may exist unrecorded
    releaseHeld();
    ASSERT_TRUE(drive(
        [&] { return provider->uploads.size() == 1 && settled() && !engine().cloudMayHoldUnrecorded(); }));
    EXPECT_EQ(aside("other-account").size(), 1);
    EXPECT_EQ(SyncIndex(QStringLiteral("dropbox")).owner().uid, "fake-uid");

    // A damaged index: kept aside as it was, and rebuilt by uploading.
    account.reset();
    writeFile(indexFile, "{damaged");
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(2));
    ASSERT_EQ(aside("damaged").size(), 1);
    EXPECT_EQ(readFile(supportPath() + "/index/" + aside("damaged").first()), "{damaged");

    // A run killed mid-way leaves its marker: the index stands, but until a full pass ends,
    // a name it lacks may already be in the cloud.
    account.reset();
    EXPECT_FALSE(QFileInfo::exists(indexFile + ".running")); // an orderly end removes it
    writeFile(indexFile + ".running", "");
    write(QStringLiteral("b.txt"), "beta");
    provider->hold = true;
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    EXPECT_TRUE(engine().cloudMayHoldUnrecorded());
    releaseHeld();
    ASSERT_TRUE(drive(
        [&] { return provider->uploads.size() == 3 && settled() && !engine().cloudMayHoldUnrecorded(); }));
    EXPECT_TRUE(provider->uploads.last().mayExist);
}

TEST_F(UploadSyncEngineTest, NamesNoServiceTakesAreListedAndLoggedOnceNeverUploaded) {
    LogCapture log;
    write(QStringLiteral("good.txt"), "good");
    const QByteArray bad = QFile::encodeName(root) + "/bad\xff.txt";
    auto writeBad = [&](const QByteArray& data) {
        const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY | O_APPEND, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, data.constData(), data.size()), data.size());
        ::close(fd);
    };
    writeBad("x");
    startAccount();
    ASSERT_TRUE(uploadedAndSettled(1));
    EXPECT_EQ(provider->uploads.first().relativePath, "good.txt");
    EXPECT_EQ(account->status().parkedCount, 1);
    EXPECT_EQ(account->status().parked,
              (QList<SyncStatus::ParkedFile>{{"bad\\xFF.txt", "name is not valid UTF-8"}}));
    const QJsonObject json = AppControl::accountJson(*account, true);
    EXPECT_EQ(json.value("parked").toArray(),
              (QJsonArray{QJsonObject{{"path", "bad\\xFF.txt"}, {"reason", "name is not valid UTF-8"}}}));
    EXPECT_EQ(json.value("parkedCount").toInt(), 1);
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt: name is not valid UTF-8"), 1);

    reconcileNow(); // nothing new: not logged again
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt"), 1);
    writeBad("y"); // changed: said once more
    reconcileNow();
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt"), 2);

    // Many such names: all counted, a sorted list of the first ones.
    for (int i = 0; i < SyncStatus::parkedListLimit + 5; ++i)
        ::close(
            ::open((QFile::encodeName(root) + "/many " + QByteArray::number(i + 100) + "\xfe").constData(),
                   O_CREAT | O_WRONLY, 0644));
    reconcileNow();
    EXPECT_EQ(account->status().parkedCount, SyncStatus::parkedListLimit + 6);
    ASSERT_EQ(account->status().parked.size(), SyncStatus::parkedListLimit);
    EXPECT_EQ(account->status().parked.first().relativePath, "bad\\xFF.txt");
    EXPECT_EQ(provider->uploads.size(), 1);

    QDir dir(root);
    for (const QString& name : dir.entryList(QDir::Files))
        dir.remove(name);
    ::remove(bad.constData());
    for (int i = 0; i < SyncStatus::parkedListLimit + 5; ++i)
        ::remove((QFile::encodeName(root) + "/many " + QByteArray::number(i + 100) + "\xfe").constData());
    reconcileNow();
    EXPECT_EQ(account->status().parkedCount, 0);
}
