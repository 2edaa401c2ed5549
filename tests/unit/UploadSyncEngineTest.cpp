#include "FakeProvider.h"
#include "ModelFixture.h"

#include "cloud/DropboxContentHash.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppControl.h"
#include "sync/FolderScanner.h"
#include "sync/LocalFile.h"

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

// Collects the lines the engine logs (systemLog echoes them as info messages).
class LogCapture {
public:
    LogCapture() {
        s_lines.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& line) { s_lines.append(line); });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    int count(const QString& part) const {
        return int(std::count_if(s_lines.cbegin(), s_lines.cend(),
                                 [&](const QString& l) { return l.contains(part); }));
    }

private:
    inline static QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

class UploadSyncEngineTest : public ModelFixture {
protected:
    void SetUp() override {
        ModelFixture::SetUp();
        engines.makeAccountEngine = [this](AccountModel& owner,
                                           Clock& c) -> std::unique_ptr<AccountSyncEngine> {
            return std::make_unique<UploadSyncEngine>(owner, c, [this] { return onACPower; });
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

    // Lets scans finish and the worker take turns until `condition` holds.
    bool drive(const std::function<bool()>& condition, int steps = 100) {
        for (int i = 0; i < steps; ++i) {
            if (waitFor(condition, 30ms))
                return true;
            clock.advance(400ms);
        }
        return condition();
    }
    bool settled() {
        return !engine().isReconciling() && engine().pending().empty() &&
               account->syncState() == SyncState::idle && provider->inFlight() == 0;
    }
    void reconcileNow() { await(engine().reconcile()); }

    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::unique_ptr<AccountModel> account;
    bool onACPower = true;
    QString root;

private:
    QTemporaryDir m_dir;
};

TEST_F(UploadSyncEngineTest, NewFilesUploadOnceAndAreRecorded) {
    write(QStringLiteral("a.txt"), "alpha");
    write(QStringLiteral("docs/b.txt"), "beta");
    write(QStringLiteral(".hidden"), "never");
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 2 && settled(); }));
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

    // A second pass over an unchanged folder uploads nothing; a change passes the old ref back.
    reconcileNow();
    EXPECT_TRUE(engine().pending().empty());
    const auto before = engine().index().entry(QStringLiteral("a.txt"));
    write(QStringLiteral("a.txt"), "alpha, longer");
    reconcileNow();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 3 && settled(); }));
    EXPECT_EQ(provider->uploads.last().existingRef, before->rev);
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

TEST_F(UploadSyncEngineTest, ASameSizeRewriteRightAfterItsUploadGoesUp) {
    write(QStringLiteral("a.txt"), "version 1");
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && settled(); }));
    write(QStringLiteral("a.txt"), "version 2"); // milliseconds later, same size
    reconcileNow();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 2 && settled(); }));
    EXPECT_EQ(provider->uploads.last().contentHash, hashOf(root + "/a.txt"));
    EXPECT_EQ(engine().index().entry(QStringLiteral("a.txt"))->contentHash, hashOf(root + "/a.txt"));
}

TEST_F(UploadSyncEngineTest, AFileRewrittenWhileItUploadsEndsUpInTheCloudAsItIsNow) {
    write(QStringLiteral("a.txt"), "first draft");
    provider->hold = true;
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    // Its bytes went up; the reply has not come yet when the file changes in place.
    rewriteInPlace(root + "/a.txt", "FIRST DRAFT");
    provider->hold = false;
    provider->release();
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
    provider->hold = false;
    provider->release();
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
    provider->hold = false;
    provider->release();
    ASSERT_TRUE(drive([&] { return engine().pending().empty() && provider->inFlight() == 0; }));
    ASSERT_EQ(provider->uploads.size(), 1);
    EXPECT_NE(provider->uploads.first().relativePath, swapped);
    EXPECT_EQ(account->lastDebugError(),
              "upload " + swapped + " refused: is a symbolic link, or lies behind one");
}

TEST_F(UploadSyncEngineTest, UnsafeRootsAreRefused) {
    const QString home = QStringLiteral("/Users/x");
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason(home, home), "home directory");
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Users/x/../x/", home), "home directory");
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Users", home), "ancestor of home");
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/", home), "filesystem root");
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Users/x/Documents", home), std::nullopt);
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Volumes/Data/Sync", home), std::nullopt);
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Users/xy", home), std::nullopt);
    // Norvela's own credentials, indexes and settings never go up with a folder.
    const QStringList own{"/Users/x/.local/share/Norvela", "/Users/x/.config/Norvela"};
    for (const char* holding : {"/Users/x/.local", "/Users/x/.local/share/Norvela", "/Users/x/.config/"})
        EXPECT_EQ(UploadSyncEngine::dangerousRootReason(holding, home, own), "contains Norvela's own data")
            << holding;
    EXPECT_EQ(UploadSyncEngine::dangerousRootReason("/Users/x/.local/share/Norvela-2", home, own),
              std::nullopt);

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
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && settled(); }, 300));
    EXPECT_FALSE(account->pausedForLargeFolder());
    EXPECT_EQ(provider->uploads.first().relativePath, "note.txt");
}

TEST_F(UploadSyncEngineTest, FailedUploadsRetryAtTheEndAndCountEachAttempt) {
    write(QStringLiteral("a.txt"), "a");
    provider->failNext = 2;
    startAccount();
    ASSERT_TRUE(
        drive([&] { return !engine().isReconciling() && account->syncState() == SyncState::syncing; }));
    ASSERT_TRUE(drive([&] { return account->lastDebugError().has_value(); }));
    EXPECT_EQ(account->lastDebugError(), "upload a.txt: HTTP 503: unavailable");
    EXPECT_EQ(account->lastSyncedDescription(), "Can't reach Dropbox");

    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1; }));
    EXPECT_EQ(account->filesTotal(), 3); // one file, two retries: each attempt counts
    EXPECT_EQ(account->filesDone(), 3);
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");
    EXPECT_EQ(engine().batchTotal(), 0);
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
    provider->hold = false;
    provider->release();
    ASSERT_TRUE(drive([&] { return settled(); }));
    QStringList uploaded;
    for (const auto& u : provider->uploads)
        uploaded << u.relativePath;
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
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && settled(); }));
    EXPECT_EQ(account->lastSyncedDescription(), "Up to date");
}

TEST_F(UploadSyncEngineTest, RateAndRecentFiles) {
    write(QStringLiteral("big.bin"), QByteArray(5'000'000, 'x'));
    provider->hold = true;
    startAccount();
    QStringList rates;
    QObject::connect(account.get(), &AccountModel::transferRateChanged,
                     [&] { rates << account->transferRate(); });
    ASSERT_TRUE(drive([&] { return provider->inFlight() == 1; }));
    clock.advance(2s);
    provider->hold = false;
    provider->release();
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_EQ(rates, (QStringList{"2.5 MB/s", ""})); // shown during the upload, cleared with the batch

    for (const QString name : {"1.txt", "2.txt", "3.txt"}) {
        write(name, name.toUtf8());
        reconcileNow();
        ASSERT_TRUE(drive([&] { return engine().pending().empty() && provider->inFlight() == 0; }));
    }
    QStringList names;
    for (const RecentFile& f : account->recentFiles())
        names << f.name;
    EXPECT_EQ(names, (QStringList{"3.txt", "2.txt", "1.txt"}));
}

TEST_F(UploadSyncEngineTest, RestoredContentIsRecordedNotUploaded) {
    write(QStringLiteral("r.txt"), "restored");
    startAccount();
    engine().pause();
    engine().noteRestored(
        QStringLiteral("r.txt"),
        CloudUploadResult{QStringLiteral("rev-9"), *DropboxContentHash::hash(root + "/r.txt"), 8},
        root + "/r.txt");
    engine().resume();
    ASSERT_TRUE(drive([&] { return settled(); }));
    EXPECT_TRUE(provider->uploads.isEmpty());
    EXPECT_EQ(engine().index().entry(QStringLiteral("r.txt"))->rev, "rev-9");
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
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && settled(); }));
    EXPECT_EQ(provider->uploads.first().relativePath, "c.txt");
    EXPECT_EQ(provider->uploads.first().existingRef, "rc");
    EXPECT_EQ(provider->hashes(), 3);
    EXPECT_FALSE(engine().indexWasLost());
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
    EXPECT_TRUE(engine().indexWasLost()); // until this pass ends, names may exist unrecorded
    provider->hold = false;
    provider->release();
    ASSERT_TRUE(
        drive([&] { return provider->uploads.size() == 1 && settled() && !engine().indexWasLost(); }));
    EXPECT_EQ(aside("other-account").size(), 1);
    EXPECT_EQ(SyncIndex(QStringLiteral("dropbox")).owner().uid, "fake-uid");

    // A damaged index: kept aside as it was, and rebuilt by uploading.
    account.reset();
    writeFile(indexFile, "{damaged");
    startAccount();
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 2 && settled(); }));
    ASSERT_EQ(aside("damaged").size(), 1);
    EXPECT_EQ(readFile(supportPath() + "/index/" + aside("damaged").first()), "{damaged");
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
    ASSERT_TRUE(drive([&] { return provider->uploads.size() == 1 && settled(); }));
    EXPECT_EQ(provider->uploads.first().relativePath, "good.txt");
    EXPECT_EQ(account->status().unsendableCount, 1);
    EXPECT_EQ(account->status().unsendable, QStringList{"bad\\xFF.txt"});
    const QJsonObject json = AppControl::accountJson(*account, true);
    EXPECT_EQ(json.value("unsendable").toArray(), QJsonArray{"bad\\xFF.txt"});
    EXPECT_EQ(json.value("unsendableCount").toInt(), 1);
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt: name is not valid UTF-8"), 1);

    reconcileNow(); // nothing new: not logged again
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt"), 1);
    writeBad("y"); // changed: said once more
    reconcileNow();
    EXPECT_EQ(log.count("Not uploading bad\\xFF.txt"), 2);

    // Many such names: all counted, a sorted list of the first ones.
    for (int i = 0; i < SyncStatus::unsendableListLimit + 5; ++i)
        ::close(
            ::open((QFile::encodeName(root) + "/many " + QByteArray::number(i + 100) + "\xfe").constData(),
                   O_CREAT | O_WRONLY, 0644));
    reconcileNow();
    EXPECT_EQ(account->status().unsendableCount, SyncStatus::unsendableListLimit + 6);
    ASSERT_EQ(account->status().unsendable.size(), SyncStatus::unsendableListLimit);
    EXPECT_EQ(account->status().unsendable.first(), "bad\\xFF.txt");
    EXPECT_EQ(provider->uploads.size(), 1);

    QDir dir(root);
    for (const QString& name : dir.entryList(QDir::Files))
        dir.remove(name);
    ::remove(bad.constData());
    for (int i = 0; i < SyncStatus::unsendableListLimit + 5; ++i)
        ::remove((QFile::encodeName(root) + "/many " + QByteArray::number(i + 100) + "\xfe").constData());
    reconcileNow();
    EXPECT_EQ(account->status().unsendableCount, 0);
}
