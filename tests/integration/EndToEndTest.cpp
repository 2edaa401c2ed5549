// The whole application (models, engines, providers, authorisation) against the emulator
// over loopback HTTP: folders arrive byte for byte, once, and survive faults.
#include "FastClock.h"
#include "RecordingDesktop.h"
#include "SimFixture.h"
#include "cloud/CloudProvider.h"
#include "cloud/DropboxContentHash.h"
#include "cloud/MD5FileHasher.h"
#include "common/Formatting.h"
#include "common/SettingsStore.h"
#include "engines/StandardEngines.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "models/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <map>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

// What a Drive holds under "Norvela": relative path -> every file stored at it.
using DriveFiles = std::map<QString, QList<QJsonObject>>;

void collectDrive(const QJsonObject& node, const QString& prefix, DriveFiles& files, QStringList& folders) {
    for (const QJsonValue value : node.value(QStringLiteral("children")).toArray()) {
        const QJsonObject child = value.toObject();
        if (child.value(QStringLiteral("trashed")).toBool())
            continue;
        const QString path = prefix + child.value(QStringLiteral("name")).toString();
        if (child.contains(QStringLiteral("children"))) {
            folders.append(path);
            collectDrive(child, path + QLatin1Char('/'), files, folders);
        } else {
            files[path].append(child);
        }
    }
}

class EndToEnd : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        linkBoth();
        settings = std::make_unique<SettingsStore>(supportPath(QStringLiteral("settings.json")));
        settings->setString(SettingsKeys::accountFolderPath(QStringLiteral("dropbox")), dropboxRoot());
        settings->setString(SettingsKeys::accountFolderPath(QStringLiteral("gdrive")), driveRoot());
        for (const auto& account : sim.accounts())
            (account.service == cloudsim::Service::dropbox ? dropboxId : driveId) = account.id;
    }
    void TearDown() override {
        model.reset();
        SimFixture::TearDown();
    }

    QString dropboxRoot() const { return m_folders.filePath(QStringLiteral("Dropbox")); }
    QString driveRoot() const { return m_folders.filePath(QStringLiteral("Drive")); }

    void start() {
        model = std::make_unique<AppModel>(*settings, standardEngines(), desktop, endpoints, clock, &limiter);
        ASSERT_EQ(model->accounts().size(), 2);
    }
    UploadSyncEngine& engine(int i) {
        return *qobject_cast<UploadSyncEngine*>(model->accounts()[i]->engine());
    }
    bool settled() {
        for (AccountModel* account : model->accounts()) {
            auto* e = qobject_cast<UploadSyncEngine*>(account->engine());
            if (!e || !e->isSettled() || account->syncState() != SyncState::idle)
                return false;
        }
        return true;
    }
    bool waitSettled(std::chrono::milliseconds timeout = 120s) {
        return waitFor([this] { return settled(); }, timeout);
    }

    // Every local file is stored once at its path with the hash the index recorded, which
    // is the hash of the local bytes.
    void expectMirrored(const QStringList& paths) {
        const SyncIndex::Entries& dropboxIndex = engine(0).index().entries();
        const SyncIndex::Entries& driveIndex = engine(1).index().entries();
        QMap<QString, QJsonObject> dropboxFiles;
        for (const QJsonValue v : sim.listing(dropboxId).value(QStringLiteral("files")).toArray())
            dropboxFiles.insert(v.toObject().value(QStringLiteral("pathDisplay")).toString(), v.toObject());
        const DriveFiles driveFiles = drive();

        for (const QString& path : paths) {
            SCOPED_TRACE(path.toStdString());
            const QString local = dropboxRoot() + QLatin1Char('/') + path;
            ASSERT_TRUE(dropboxIndex.contains(path));
            EXPECT_EQ(dropboxIndex[path].contentHash, DropboxContentHash::hash(local).value_or(QString()));
            ASSERT_TRUE(dropboxFiles.contains(QLatin1Char('/') + path));
            EXPECT_EQ(dropboxFiles[QLatin1Char('/') + path].value(QStringLiteral("contentHash")).toString(),
                      dropboxIndex[path].contentHash);

            ASSERT_TRUE(driveIndex.contains(path));
            EXPECT_EQ(driveIndex[path].contentHash,
                      MD5FileHasher().hash(driveRoot() + QLatin1Char('/') + path).value_or(QString()));
            ASSERT_EQ(driveFiles.count(path), 1u);
            const QList<QJsonObject>& stored = driveFiles.at(path);
            ASSERT_FALSE(stored.isEmpty());
            // The newest file at the path is the one the index points at.
            EXPECT_EQ(stored.last().value(QStringLiteral("id")).toString(),
                      driveIndex[path].rev.value_or(QString()));
            EXPECT_EQ(stored.last().value(QStringLiteral("md5Checksum")).toString(),
                      driveIndex[path].contentHash);
        }
        EXPECT_EQ(dropboxFiles.size(), paths.size());
        EXPECT_EQ(qsizetype(driveFiles.size()), paths.size());
    }

    DriveFiles drive(QStringList* folders = nullptr) {
        const QJsonObject root = sim.listing(driveId).value(QStringLiteral("root")).toObject();
        const QJsonArray top = root.value(QStringLiteral("children")).toArray();
        EXPECT_EQ(top.size(), 1); // only "Norvela"
        DriveFiles files;
        QStringList seen;
        if (!top.isEmpty()) {
            EXPECT_EQ(top.first().toObject().value(QStringLiteral("name")).toString(),
                      QStringLiteral("Norvela"));
            collectDrive(top.first().toObject(), QString(), files, seen);
        }
        if (folders)
            *folders = seen;
        return files;
    }

    int uploadRequests() const { return requests(QStringLiteral("/upload")); }

    // The same files in both folders.
    void putBoth(const QString& relativePath, const QByteArray& data) {
        writeFile(dropboxRoot() + QLatin1Char('/') + relativePath, data);
        writeFile(driveRoot() + QLatin1Char('/') + relativePath, data);
    }

    // Lets the engines' workers go round many times (a minute of the test clock, whose
    // idle poll is well under a second), for checks that something does not happen.
    void letWorkersPoll() {
        const qint64 untilMs = clock.monotonicMs() + 60'000;
        ASSERT_TRUE(waitFor([&] { return clock.monotonicMs() >= untilMs; }, 10s));
    }

    QString dropboxId, driveId;
    FastClock clock;
    RecordingDesktop desktop;
    BandwidthLimiter limiter{clock};
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppModel> model;

private:
    QTemporaryDir m_folders;
};

TEST_F(EndToEnd, MixedFolderArrivesOnceByteForByte) {
    const QList<QPair<QString, qint64>> files{
        {QStringLiteral("empty.txt"), 0},
        {QStringLiteral("one byte.bin"), 1},
        {QStringLiteral("Sizes/exactly 8 MiB.bin"), 8 * MiB},
        {QStringLiteral("Sizes/8 MiB and one.bin"), 8 * MiB + 1},
        {QStringLiteral("Sizes/twenty.bin"), 20 * MiB},
        {QStringLiteral("Names/it's \"quoted\".txt"), 100},
        {QStringLiteral("Names/back\\slash\\name.txt"), 200},
        {QStringLiteral("Names/Grüße ünd Ñame 日本.txt"), 300},
        {QStringLiteral("Names/plus+and&equals=hash#.txt"), 50},
        {QStringLiteral("Names/Bob's Folder/inside.txt"), 10},
        {QStringLiteral("Deep/a/b/c/d/leaf.txt"), 7},
    };
    QStringList paths;
    int seed = 1;
    for (const auto& [path, size] : files) {
        putBoth(path, pattern(size, seed++));
        paths.append(path);
    }
    start();
    ASSERT_TRUE(waitSettled());
    expectMirrored(paths);
    QStringList folders;
    drive(&folders);
    EXPECT_EQ(folders.size(), QSet<QString>(folders.cbegin(), folders.cend()).size())
        << "a folder made twice";

    // A second full pass finds nothing to send.
    const int before = uploadRequests();
    engine(0).reconcile();
    engine(1).reconcile();
    ASSERT_TRUE(waitSettled());
    EXPECT_EQ(uploadRequests(), before);
}

TEST_F(EndToEnd, FaultsDelayButNeverCorruptOrDuplicate) {
    QStringList paths;
    for (int i = 0; i < 40; ++i) {
        const QString path = QStringLiteral("Batch %1/file %2.dat").arg(i % 4).arg(i);
        putBoth(path, pattern(i % 10 == 0 ? 9 * MiB : 1000 + i * 37, 100 + i));
        paths.append(path);
    }
    // A third of service requests fail with a server error or rate limiting, and some
    // uploads lose their connection half-way.
    int seed = 7;
    for (int status : {500, 503, 429})
        sim.addFault({{QStringLiteral("status"), status},
                      {QStringLiteral("count"), 0},
                      {QStringLiteral("probability"), 0.11},
                      {QStringLiteral("seed"), seed++}});
    for (const char* endpoint : {"/dropbox/content/2/files/upload_session/append_v2", "/google/www/upload"})
        sim.addFault({{QStringLiteral("endpoint"), QLatin1String(endpoint)},
                      {QStringLiteral("dropUploadAfterBytes"), 100000},
                      {QStringLiteral("count"), 2}});
    start();
    // The access tokens expire mid-sync: the next calls refresh them and go on.
    ASSERT_TRUE(waitFor([&] { return uploadRequests() > 20; }, 120s));
    sim.expireAccessTokens();
    ASSERT_TRUE(waitSettled(240s));
    sim.clearFaults();
    expectMirrored(paths);
}

TEST_F(EndToEnd, AFileRewrittenWhileItsUploadAwaitsTheReplyEndsUpInTheCloudAsItIsNow) {
    const QString path = QStringLiteral("draft.txt");
    putBoth(path, "first version of the draft");
    // Both services take the bytes at once and answer late.
    for (const char* endpoint : {"/dropbox/content/2/files/upload", "/google/www/upload"})
        sim.addFault({{QStringLiteral("endpoint"), QLatin1String(endpoint)},
                      {QStringLiteral("count"), 1},
                      {QStringLiteral("delayMs"), 3000}});
    start();
    ASSERT_TRUE(waitFor(
        [&] {
            return requests(QStringLiteral("POST /dropbox/content/2/files/upload")) == 1 &&
                   requests(QStringLiteral("POST /google/www/upload")) == 1;
        },
        60s));
    // Within the same second, the same size, the same file: only the bytes differ.
    for (const QString& root : {dropboxRoot(), driveRoot()}) {
        QFile file(root + QLatin1Char('/') + path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("FIRST VERSION OF THE DRAFT");
    }
    ASSERT_TRUE(waitFor(
        [&] {
            return settled() && requests(QStringLiteral("/dropbox/content/2/files/upload")) == 2 &&
                   requests(QStringLiteral("/google/www/upload")) == 2;
        },
        120s));
    expectMirrored({path});
}

} // namespace

// --- what the user does with synced files ---

TEST_F(EndToEnd, ShareListAndRestoreOnBothServicesWithoutUploadingTheRestoredFile) {
    const QString path = QStringLiteral("Notes/plan.txt");
    const QByteArray first = "first draft\n";
    const QByteArray second = "second draft, a little longer\n";
    putBoth(path, first);
    start();
    ASSERT_TRUE(waitSettled());
    putBoth(path, second);
    ASSERT_TRUE(waitFor(
        [&] {
            return engine(0).index().entry(path)->size == second.size() &&
                   engine(1).index().entry(path)->size == second.size() && settled();
        },
        60s));
    expectMirrored({path}); // an edit is a new revision of the same file, not another file

    const QStringList roots{dropboxRoot(), driveRoot()};
    for (int i = 0; i < 2; ++i) {
        AccountModel& account = *model->accounts()[i];
        SCOPED_TRACE(account.id().toStdString());
        const QString local = roots[i] + QLatin1Char('/') + path;
        const std::optional<RecentFile> file = model->syncedFile(local);
        ASSERT_TRUE(file && file->relativePath);

        const std::optional<QUrl> link = await(model->createSharedLink(*file));
        ASSERT_TRUE(link);
        EXPECT_TRUE(link->isValid());
        EXPECT_EQ(desktop.clipboard, link->toString(QUrl::FullyEncoded));
        EXPECT_EQ(model->actionStatus(), QString::fromUtf8("Link copied to clipboard \u00b7 plan.txt"));

        const QList<FileRevision> revisions = await(model->revisions(*file));
        ASSERT_EQ(revisions.size(), 2);
        EXPECT_EQ(revisions[0].size, second.size()); // newest first
        EXPECT_EQ(revisions[1].size, first.size());

        ASSERT_TRUE(await(model->restore(revisions[1], *file)));
        EXPECT_EQ(readFile(local), first);
        EXPECT_EQ(model->actionStatus(),
                  QString::fromUtf8("Restored plan.txt \u2014 this computer and ") +
                      account.provider()->displayName() + QStringLiteral(" now have the ") +
                      Formatting::abbreviatedDateTime(revisions[1].modified) + QStringLiteral(" version"));
        EXPECT_EQ(
            await(account.provider()->downloadCurrent(path, account.indexEntry(path)->rev, first.size())),
            first);

        // The restored file is what the index holds: a full pass sends nothing.
        const int before = uploadRequests();
        await(engine(i).reconcile());
        ASSERT_TRUE(waitSettled());
        EXPECT_EQ(uploadRequests(), before);
    }

    // A restore whose local write fails says so; the cloud keeps the version it went back to.
    // The local copy lies below a regular file: nothing can be written there, not even by root.
    writeFile(dropboxRoot() + QStringLiteral("/blocker"), "");
    for (AccountModel* account : model->accounts()) {
        SCOPED_TRACE(account->id().toStdString());
        RecentFile file = *model->syncedFile(account->rootPath() + QLatin1Char('/') + path);
        file.url = QUrl::fromLocalFile(dropboxRoot() + QStringLiteral("/blocker/plan.txt"));
        const QList<FileRevision> revisions = await(model->revisions(file));
        ASSERT_EQ(revisions.size(), 3);
        EXPECT_FALSE(await(model->restore(revisions[1], file)));
        EXPECT_TRUE(model->actionStatus()->startsWith(QStringLiteral("Restore failed: ")))
            << model->actionStatus()->toStdString();
        EXPECT_EQ(await(account->provider()->downloadCurrent(path, file.ref, second.size())), second);
    }
}

TEST_F(EndToEnd, PauseHoldsEveryAccountUntilResumedAndAFileNotUploadedCannotBeShared) {
    start();
    ASSERT_TRUE(waitSettled());
    model->togglePauseResume();
    EXPECT_EQ(model->accounts()[0]->syncState(), SyncState::paused);
    EXPECT_EQ(model->accounts()[1]->syncState(), SyncState::paused);
    EXPECT_EQ(model->displaySyncState(), SyncState::paused);

    putBoth(QStringLiteral("while paused.txt"), "waiting");
    // The watcher's own pass may be running; a reconcile asked meanwhile joins it, so wait
    // for the queue rather than for one pass.
    await(engine(0).reconcile());
    await(engine(1).reconcile());
    EXPECT_TRUE(waitFor([&] { return engine(0).pending().size() == 1 && engine(1).pending().size() == 1; }));
    // Many worker polls go by; none of them uploads.
    const int before = uploadRequests();
    letWorkersPoll();
    EXPECT_EQ(uploadRequests(), before);

    const auto waiting = model->syncedFile(dropboxRoot() + QStringLiteral("/while paused.txt"));
    ASSERT_TRUE(waiting);
    EXPECT_EQ(await(model->createSharedLink(*waiting)), std::nullopt);
    EXPECT_EQ(model->actionStatus(),
              QString::fromUtf8("Can't share this file yet \u2014 wait for it to finish syncing"));

    // One account resumes alone; the next toggle resumes the other.
    EXPECT_FALSE(model->resume(QStringLiteral("nobody")));
    EXPECT_TRUE(model->resume(QStringLiteral("gdrive")));
    ASSERT_TRUE(waitFor(
        [&] { return engine(1).pending().empty() && model->accounts()[1]->syncState() == SyncState::idle; }));
    EXPECT_EQ(model->accounts()[0]->syncState(), SyncState::paused);
    EXPECT_EQ(model->accounts()[0]->status().reasonKey(), "user");
    model->togglePauseResume();
    ASSERT_TRUE(waitSettled());
    expectMirrored({QStringLiteral("while paused.txt")});
}

TEST_F(EndToEnd, ALimitSetDuringAnUploadHoldsItsRemainingPieces) {
    writeFile(dropboxRoot() + QStringLiteral("/big.bin"), pattern(20 * MiB, 42)); // 8 + 8 + 4 MiB pieces
    start();
    ASSERT_TRUE(waitFor([&] { return model->accounts()[0]->syncState() == SyncState::syncing; }, 60s));
    const qint64 limitedAtMs = clock.monotonicMs();
    model->setUploadLimitMBps(0.1);
    EXPECT_EQ(limiter.bytesPerSecond(), 100'000);
    ASSERT_TRUE(waitSettled());
    // At the latest the last 4 MiB piece waits for the limiter: 42 s at 100 kB/s on the
    // clock the limiter waits on.
    EXPECT_GE(clock.monotonicMs() - limitedAtMs, 40'000);
    const QString local = dropboxRoot() + QStringLiteral("/big.bin");
    EXPECT_EQ(engine(0).index().entry(QStringLiteral("big.bin"))->contentHash,
              DropboxContentHash::hash(local));
}

TEST_F(EndToEnd, APauseDuringAScheduleHoldOutlastsTheHold) {
    const int hour = QTime::currentTime().hour();
    putBoth(QStringLiteral("held.txt"), "held");
    start();
    model->setSchedule({true, (hour + 2) % 24, (hour + 3) % 24, false}); // now lies well outside
    ASSERT_TRUE(waitFor([&] { return model->accounts()[0]->status().reasonKey() == "schedule"; }));
    EXPECT_TRUE(model->pause());
    EXPECT_EQ(model->accounts()[0]->status().reasonKey(), "user");

    model->setSchedule({});
    const int before = uploadRequests();
    letWorkersPoll();
    EXPECT_EQ(uploadRequests(), before);
    EXPECT_EQ(model->accounts()[0]->syncState(), SyncState::paused);
    EXPECT_TRUE(model->resume());
    ASSERT_TRUE(waitSettled());
    expectMirrored({QStringLiteral("held.txt")});
}

TEST_F(EndToEnd, AnotherAccountLinkedUnderTheSameKeyReceivesEveryFile) {
    const QStringList paths{QStringLiteral("notes.txt"), QStringLiteral("Photos/one.jpg")};
    int seed = 11;
    for (const QString& path : paths)
        writeFile(dropboxRoot() + QLatin1Char('/') + path, pattern(5000, seed++));
    start();
    ASSERT_TRUE(waitSettled());
    ASSERT_EQ(sim.listing(dropboxId).value(QStringLiteral("files")).toArray().size(), paths.size());

    // Unlinked, then another account of the same service signs in and gets the same key.
    model->unlink(model->accounts()[0]);
    ASSERT_TRUE(waitFor([&] { return model->accounts().size() == 1; }));
    const QString other = sim.addAccount(cloudsim::Service::dropbox, QStringLiteral("b@example.com")).id;
    sim.setNextApproval(cloudsim::Service::dropbox, other);
    DropboxAuthService dropbox(std::nullopt, endpoints.dropbox);
    ASSERT_EQ(linkThroughBrowser(dropbox), std::nullopt);
    ASSERT_EQ(dropbox.slot()->storageKey, QStringLiteral("dropbox"));
    model->activateSync();
    ASSERT_EQ(model->accounts().size(), 2);
    ASSERT_TRUE(waitSettled());

    QMap<QString, QString> received;
    for (const QJsonValue v : sim.listing(other).value(QStringLiteral("files")).toArray())
        received.insert(v.toObject().value(QStringLiteral("pathDisplay")).toString(),
                        v.toObject().value(QStringLiteral("contentHash")).toString());
    for (const QString& path : paths)
        EXPECT_EQ(
            received.value(QLatin1Char('/') + path),
            DropboxContentHash::hash(dropboxRoot() + QLatin1Char('/') + path).value_or(QStringLiteral("?")))
            << path.toStdString();
    EXPECT_EQ(received.size(), paths.size());
    EXPECT_EQ(sim.listing(dropboxId).value(QStringLiteral("files")).toArray().size(), paths.size());
    // The first account's record is kept beside the new one.
    const QFileInfo index(engine(0).index().fileURL());
    EXPECT_EQ(QDir(index.path()).entryList({index.fileName() + QStringLiteral(".other-account-*")}).size(),
              1);
}
