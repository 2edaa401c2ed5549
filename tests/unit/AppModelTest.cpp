#include "ModelFixture.h"

#include "common/AppSupport.h"
#include "models/AccountModel.h"
#include "platform/LoginItem.h"
#include "sync/SyncIndex.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

AccountInfo info(const QString& email, qint64 used = 1'500'000'000, qint64 quota = 2'000'000'000) {
    return AccountInfo{QStringLiteral("Someone"), email, QStringLiteral("Plus"), used, quota,
                       QStringLiteral("u")};
}

RecentFile recent(const QString& name, const QDateTime& at) {
    RecentFile f;
    f.name = name;
    f.syncedAt = at;
    return f;
}

} // namespace

using AppModelSettings = ModelFixture;

TEST_F(AppModelSettings, WrongTypesAndUndecodableScheduleFallBackToDefaults) {
    settings->setString(QStringLiteral("launchAtLogin"), QStringLiteral("yes"));
    settings->setString(QStringLiteral("notifyOnChanges"), QStringLiteral("no"));
    settings->setString(QStringLiteral("uploadLimitMBps"), QStringLiteral("3"));
    const QByteArray garbage = QByteArrayLiteral("{\"enabled\":true,\"startHour\":9}");
    settings->setData(QStringLiteral("schedule"), garbage);

    AppModel& m = makeModel();
    EXPECT_TRUE(m.launchAtLogin());
    EXPECT_TRUE(m.notifyOnChanges());
    EXPECT_EQ(m.uploadLimitMBps(), 0);
    EXPECT_EQ(m.schedule(), SyncSchedule{});
    EXPECT_EQ(m.folderPath(), "~/Norvela");
    // Start-up neither rewrites the bad schedule nor touches the login item.
    EXPECT_EQ(SettingsStore(settings->filePath()).dataValue(QStringLiteral("schedule")), garbage);
    EXPECT_FALSE(QFile::exists(LoginItem::entryPath()));

    const SyncSchedule evenings{true, 18, 23, true};
    m.setSchedule(evenings);
    EXPECT_EQ(
        SyncSchedule::decode(*SettingsStore(settings->filePath()).dataValue(QStringLiteral("schedule"))),
        evenings);
}

TEST_F(AppModelSettings, AssignmentsPersistAndTakeEffect) {
    AppModel& m = makeModel();
    m.setUploadLimitMBps(2.5);
    EXPECT_EQ(limiter.bytesPerSecond(), 2'500'000);
    m.setUploadLimitMBps(-1);
    EXPECT_EQ(limiter.bytesPerSecond(), 0);
    m.setLaunchAtLogin(false);
    EXPECT_FALSE(QFile::exists(LoginItem::entryPath()));
    m.setLaunchAtLogin(true);
    EXPECT_TRUE(QFile::exists(LoginItem::entryPath()));
    m.setFolderPath(QStringLiteral("/srv/sync"));
    m.setUploadLimitMBps(1.25);

    model.reset();
    settings->reload();
    limiter.configure(0);
    AppModel& again = makeModel();
    EXPECT_EQ(again.uploadLimitMBps(), 1.25);
    EXPECT_EQ(limiter.bytesPerSecond(), 1'250'000); // the stored limit applies from the start
    EXPECT_TRUE(again.launchAtLogin());
    EXPECT_EQ(again.folderPath(), "/srv/sync");
}

TEST_F(AppModelSettings, WhatAnotherProcessStoresReachesThePropertiesAndIsNotWrittenBack) {
    AppModel& m = makeModel();
    m.setLaunchAtLogin(false);
    int notified = 0;
    const QObject scope;
    for (auto signal : {&AppModel::folderPathChanged, &AppModel::launchAtLoginChanged,
                        &AppModel::scheduleChanged, &AppModel::uploadLimitMBpsChanged})
        QObject::connect(&m, signal, &scope, [&notified] { ++notified; });

    SettingsStore tool(settings->filePath());
    const SyncSchedule evenings{true, 18, 23, true};
    tool.setString(QStringLiteral("folderPath"), QStringLiteral("/srv/elsewhere"));
    tool.setBool(QStringLiteral("launchAtLogin"), true);
    tool.setData(QStringLiteral("schedule"), evenings.encode());
    tool.setDouble(QStringLiteral("uploadLimitMBps"), 3);
    struct stat written {};
    ::stat(QFile::encodeName(settings->filePath()).constData(), &written);
    ASSERT_TRUE(waitFor([&] { return notified == 4; }));
    EXPECT_EQ(m.folderPath(), "/srv/elsewhere");
    EXPECT_EQ(m.schedule(), evenings);
    EXPECT_EQ(limiter.bytesPerSecond(), 3'000'000);
    EXPECT_TRUE(m.launchAtLogin());
    EXPECT_FALSE(QFile::exists(LoginItem::entryPath())); // only an assignment here registers it
    struct stat now {};
    ::stat(QFile::encodeName(settings->filePath()).constData(), &now);
    EXPECT_EQ(now.st_ino, written.st_ino); // still the tool's file: nothing was written back
}

using AppModelAccounts = ModelFixture;

TEST_F(AppModelAccounts, NoCredentialsRunsTheApplicationEngine) {
    AppModel& m = makeModel();
    EXPECT_TRUE(m.accounts().isEmpty());
    ASSERT_NE(m.engine(), nullptr);
    EXPECT_EQ(RecordingEngine::started, 1);
    EXPECT_EQ(m.displayFooterLine(), "Not linked");
    EXPECT_TRUE(m.maybeShowOnboarding());

    m.setAccount(info(QStringLiteral("me@example.com")));
    EXPECT_EQ(m.displayFooterLine(), QString::fromUtf8("me@example.com \u00b7 1.5 GB of 2 GB"));
}

TEST_F(AppModelAccounts, CredentialsBuildAccountsDropboxFirstAndReplaceTheEngine) {
    AppModel& m = makeModel();
    ASSERT_NE(m.engine(), nullptr);
    link(CloudTokenStore::googleDrive(), QStringLiteral("g1@example.com"), QStringLiteral("g1@example.com"));
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d1@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g2@example.com"), QStringLiteral("g2@example.com"));

    m.activateSync();
    EXPECT_EQ(RecordingEngine::paused, 1);
    EXPECT_EQ(m.engine(), nullptr);
    QStringList ids;
    for (const AccountModel* a : m.accounts())
        ids << a->id();
    EXPECT_EQ(ids, (QStringList{"dropbox", "gdrive", "gdrive-g2-example-com"}));
    EXPECT_FALSE(m.maybeShowOnboarding());

    // Default folders: the legacy app folder for "dropbox", the e-mail for later accounts.
    EXPECT_EQ(m.accounts()[0]->folderPath(), "~/Norvela");
    EXPECT_EQ(m.accounts()[1]->folderPath(), "~/Norvela (Google Drive)");
    EXPECT_EQ(m.accounts()[2]->folderPath(), "~/Norvela (g2@example.com)");
    // Names add the e-mail only where the kind repeats; fetched account information wins.
    EXPECT_EQ(m.accounts()[0]->displayName(), "Dropbox");
    EXPECT_EQ(m.accounts()[1]->displayName(), "Google Drive (g1@example.com)");
    EXPECT_EQ(m.accounts()[2]->displayName(), "Google Drive (g2@example.com)");
    m.accounts()[2]->setAccount(AccountInfo{QString(), QStringLiteral("new@example.com"), {}, 0, 0, {}});
    EXPECT_EQ(m.accounts()[2]->displayName(), "Google Drive (new@example.com)");

    // Rebuilding makes fresh models.
    const AccountModel* before = m.accounts().first();
    m.accounts().first()->setRecentFiles({recent(QStringLiteral("a.txt"), clock.now())});
    m.activateSync();
    EXPECT_NE(m.accounts().first(), before);
    EXPECT_TRUE(m.accounts().first()->recentFiles().isEmpty());

    // No e-mail anywhere: the provider's name.
    link(CloudTokenStore::googleDrive(), QStringLiteral("g1@example.com"), QString());
    m.activateSync();
    EXPECT_EQ(m.accounts()[1]->displayName(), "Google Drive");
}

TEST_F(AppModelAccounts, DisplayValuesFoldSeveralAccounts) {
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d1@example.com"));
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:2"), QStringLiteral("d2@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g@example.com"), QStringLiteral("g@example.com"));
    AppModel& m = makeModel();
    ASSERT_EQ(m.accounts().size(), 3);
    AccountModel& a = *m.accounts()[0];
    AccountModel& b = *m.accounts()[1];
    AccountModel& c = *m.accounts()[2];

    // The app-level fields no longer show through.
    m.setCurrentFile(QStringLiteral("ignored"));
    EXPECT_EQ(m.displayCurrentFile(), "");
    EXPECT_EQ(m.displayProgress(), 0); // 0 of 0 files is not a division by zero
    EXPECT_EQ(m.displayFooterLine(), "3 accounts linked");
    EXPECT_EQ(m.displaySyncState(), SyncState::idle);
    EXPECT_EQ(m.displayLastSynced(), a.lastSyncedDescription());

    b.setStatus(syncStatus(SyncState::paused, SyncStatus::Note::onBattery));
    EXPECT_EQ(m.displaySyncState(), SyncState::paused);
    EXPECT_EQ(m.displayLastSynced(), QString::fromUtf8("Sync paused \u2014 on battery"));

    c.setStatus({.state = SyncState::syncing,
                 .note = SyncStatus::Note::unreachable,
                 .filesDone = 30,
                 .filesTotal = 30,
                 .currentFile = QStringLiteral("c.bin"),
                 .bytesPerSecond = 3'100'000});
    EXPECT_EQ(m.displaySyncState(), SyncState::syncing);
    EXPECT_EQ(m.displayCurrentFile(), "c.bin");
    EXPECT_EQ(m.displayTransferRate(), "3.1 MB/s");
    EXPECT_EQ(m.displayLastSynced(), "Can't reach Google Drive");

    a.setStatus({.filesDone = 5, .filesTotal = 10});
    EXPECT_DOUBLE_EQ(m.displayProgress(), 35.0 / 40.0);

    const QDateTime now = clock.now();
    a.setRecentFiles(
        {recent(QStringLiteral("a1"), now.addSecs(-10)), recent(QStringLiteral("a2"), now.addSecs(-300))});
    c.setRecentFiles(
        {recent(QStringLiteral("c1"), now.addSecs(-60)), recent(QStringLiteral("c2"), now.addSecs(-10))});
    QStringList names;
    for (const RecentFile& f : m.displayRecentFiles())
        names << f.name;
    EXPECT_EQ(names, (QStringList{"a1", "c2", "c1", "a2"})); // newest first, stable on ties
}

TEST_F(AppModelAccounts, SingleAccountFooterWaitsForAccountInformation) {
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QString());
    AppModel& m = makeModel();
    ASSERT_EQ(m.accounts().size(), 1);
    // Until account information arrives the footer says it is still connecting.
    EXPECT_EQ(m.displayFooterLine(), QString::fromUtf8("Reconnecting to Dropbox\u2026"));
    m.accounts().first()->setAccount(info(QStringLiteral("d@example.com"), 0, 0));
    EXPECT_EQ(m.displayFooterLine(), QString::fromUtf8("d@example.com \u00b7 0 bytes of 0 bytes"));
}

using AppModelStatus = ModelFixture;

TEST_F(AppModelStatus, NewerStatusIsNotCutShortByAnOlderTimerAndNoTimerOutlivesTheModel) {
    AppModel& m = makeModel();
    m.setStatus(QStringLiteral("A"));
    clock.advance(3s);
    EXPECT_EQ(m.actionStatus(), "A");
    m.setStatus(QStringLiteral("B"));
    clock.advance(2s); // A's timer fires here
    EXPECT_EQ(m.actionStatus(), "B");
    clock.advance(2999ms);
    EXPECT_EQ(m.actionStatus(), "B");
    clock.advance(1ms);
    EXPECT_EQ(m.actionStatus(), std::nullopt);

    m.setStatus(QStringLiteral("C"));
    model.reset();
    processEvents();
    clock.advance(10s); // nothing left to touch the dead model
    EXPECT_EQ(clock.pendingTimers(), 0);
}

using AppModelStateDump = ModelFixture;

TEST_F(AppModelStateDump, WrittenEightSecondsAfterItIsScheduled) {
    const QString dump = AppSupport::devHookDirectory() + QStringLiteral("/state-dump.txt");
    QFile::remove(dump);
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d1@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g@example.com"), QStringLiteral("g@example.com"));
    AppModel& m = makeModel();
    m.scheduleStateDump();
    AccountModel& first = *m.accounts().first();
    first.setStatus({.lastError = QStringLiteral("HTTP 500: oops")});
    first.setRecentFiles({recent(QStringLiteral("report.pdf"), clock.now().addSecs(-10))});
    m.accounts()[1]->setRecentFiles({recent(QStringLiteral("old.txt"), clock.now().addSecs(-7200))});
    clock.advance(7999ms);
    EXPECT_FALSE(QFile::exists(dump));
    clock.advance(1ms);
    EXPECT_EQ(QString::fromUtf8(readFile(dump)), QStringLiteral("account: 2 accounts linked\n"
                                                                "state: idle  sub: Connecting\u2026\n"
                                                                "accounts: dropbox,gdrive\n"
                                                                "debugError: HTTP 500: oops\n"
                                                                "recent: report.pdf  (just now)\n"
                                                                "recent: old.txt  (2 hours ago)"));
}

TEST_F(AppModelStateDump, NoAccountsDumpUsesTheApplicationFields) {
    AppModel& m = makeModel();
    m.setLastDebugError(QStringLiteral("client missing"));
    EXPECT_EQ(m.stateDumpText(), QStringLiteral("account: Not linked\n"
                                                "state: idle  sub: Last synced just now\n"
                                                "accounts: \n"
                                                "debugError: client missing"));
}

using AppModelActions = ModelFixture;

TEST_F(AppModelActions, FilesOfNoAccountAreNeverSentToAProvider) {
    AppModel& m = makeModel();
    RecentFile demo = recent(QStringLiteral("Q3 report.pdf"), clock.now());
    EXPECT_EQ(await(m.createSharedLink(demo)), std::nullopt);
    EXPECT_EQ(m.actionStatus(),
              QString::fromUtf8("Can't share this file yet \u2014 wait for it to finish syncing"));
    EXPECT_TRUE(await(m.revisions(demo)).isEmpty());
    m.setStatus(QStringLiteral("before"));
    EXPECT_FALSE(await(m.restore(FileRevision{QStringLiteral("r1"), clock.now(), 3}, demo)));
    EXPECT_EQ(m.actionStatus(), "before");
    EXPECT_TRUE(desktop.clipboard.isEmpty());
    EXPECT_EQ(Http::inFlight(), 0);

    // Opening needs a local file; without accounts the folder is the app's own.
    m.openFile(demo);
    EXPECT_TRUE(desktop.revealed.isEmpty());
    demo.url = QUrl::fromLocalFile(QStringLiteral("/tmp/x/Q3 report.pdf"));
    m.openFile(demo);
    EXPECT_EQ(desktop.revealed, QStringList{"/tmp/x/Q3 report.pdf"});
    m.openLocalFolder();
    EXPECT_EQ(desktop.opened, QStringList{QDir::homePath() + "/Norvela"});
}

TEST_F(AppModelActions, SyncedFileFindsTheAccountByFolder) {
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g@example.com"), QStringLiteral("g@example.com"));
    const QString drive = supportPath() + QStringLiteral("/Drive");
    settings->setString(QStringLiteral("folderPath.gdrive"), drive);
    SyncIndex(QStringLiteral("gdrive"))
        .set(QStringLiteral("a/b.txt"),
             {3, std::nullopt, QStringLiteral("h"), QStringLiteral("id1"), clock.now()});
    AppModel& m = makeModel();

    const auto uploaded = m.syncedFile(drive + QStringLiteral("/x/../a/b.txt"));
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(uploaded->providerID, "gdrive");
    EXPECT_EQ(uploaded->relativePath, "a/b.txt");
    EXPECT_EQ(uploaded->ref, "id1");
    EXPECT_EQ(uploaded->name, "b.txt");

    const auto notYet = m.syncedFile(drive + QStringLiteral("/new.txt"));
    ASSERT_TRUE(notYet);
    EXPECT_EQ(notYet->relativePath, std::nullopt);
    EXPECT_EQ(m.syncedFile(drive), std::nullopt); // the folder itself is no file in it
    EXPECT_EQ(m.syncedFile(drive + QStringLiteral("2/b.txt")), std::nullopt);

    m.openLocalFolder(m.accounts()[1]);
    m.openLocalFolder();
    EXPECT_EQ(desktop.opened, (QStringList{drive, QDir::homePath() + "/Norvela"}));
}

TEST_F(AppModelActions, InstallingTheToolReplacesAnOlderCopyAndNamesFailures) {
    AppModel& m = makeModel();
    const QString tool = supportPath() + QStringLiteral("/norvela");
    const QString destination = supportPath() + QStringLiteral("/usr/local/bin/norvela");
    m.installCLI(tool, destination);
    EXPECT_EQ(m.actionStatus(), "CLI binary is missing from the app bundle");

    writeFile(tool, "v1");
    m.installCLI(tool, destination);
    writeFile(tool, "v2");
    m.installCLI(tool, destination);
    EXPECT_EQ(readFile(destination), "v2");
    EXPECT_EQ(fileMode(destination), 0755);
    EXPECT_EQ(m.actionStatus(), QString::fromUtf8("CLI installed \u2014 run `norvela status` in a terminal"));
    EXPECT_EQ(QDir(QFileInfo(destination).absolutePath()).entryList(QDir::Files), QStringList{"norvela"});

    // A file where the folder should be cannot be written into, even by root.
    const QString blocked = supportPath() + QStringLiteral("/blocker/bin/norvela");
    writeFile(supportPath() + QStringLiteral("/blocker"), "");
    m.installCLI(tool, blocked);
    EXPECT_EQ(m.actionStatus(), QStringLiteral("Couldn't write ") + supportPath() +
                                    QStringLiteral("/blocker/bin. Copy it manually: ") + tool);
}
