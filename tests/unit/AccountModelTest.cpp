#include "ModelFixture.h"

#include "models/AccountModel.h"
#include "models/AccountSyncEngine.h"
#include "platform/FolderBookmark.h"

#include <QDir>

using namespace norvela;
using namespace norvela::test;

namespace {

const QString appBookmark = QStringLiteral("folderBookmark.app");

// An engine that does nothing; the factory notes each start with the account's folder.
struct IdleEngine : AccountSyncEngine {
    void start() override {}
    void pause() override {}
    void resume() override {}
    void noteRestored(const QString&, const CloudUploadResult&, const QString&) override {}
    const SyncIndex* loadedIndex() const override { return nullptr; }
};

} // namespace

class AccountModelTest : public ModelFixture {
protected:
    AccountModel& dropbox() { return *model->accounts().at(0); }

    // A linked Dropbox account whose folder is `folder`.
    AccountModel& linkedDropbox(const QString& folder) {
        link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
        settings->setString(QStringLiteral("folderPath.dropbox"), folder);
        makeModel();
        return dropbox();
    }

    QString home() const { return QDir::homePath(); }
};

TEST_F(AccountModelTest, FolderPathComesFromSettingsAndIsStoredOnlyWhenChanged) {
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
    AppModel& m = makeModel();
    AccountModel& account = dropbox();
    EXPECT_EQ(account.folderPath(), "~/Norvela");
    EXPECT_FALSE(settings->contains(QStringLiteral("folderPath.dropbox")));

    // The first Dropbox account also carries the legacy application-wide folder.
    account.setFolderPath(QStringLiteral("~/Elsewhere"));
    EXPECT_EQ(settings->stringValue(QStringLiteral("folderPath.dropbox")), "~/Elsewhere");
    EXPECT_EQ(m.folderPath(), "~/Elsewhere");
    EXPECT_EQ(settings->stringValue(QStringLiteral("folderPath")), "~/Elsewhere");
}

TEST_F(AccountModelTest, LargeFolderApprovalIsBoundToTheExactPath) {
    AccountModel& account = linkedDropbox(QStringLiteral("~/Big"));
    EXPECT_FALSE(account.isLargeFolderApproved());
    account.approveLargeFolder();
    EXPECT_TRUE(account.isLargeFolderApproved());
    EXPECT_EQ(settings->stringValue(QStringLiteral("approvedLargeFolder.dropbox")), "~/Big");

    account.setFolderPath(QStringLiteral("~/Big/"));
    EXPECT_FALSE(account.isLargeFolderApproved());
}

TEST_F(AccountModelTest, SetFolderAbbreviatesHomeAndSavesABookmark) {
    AccountModel& account = linkedDropbox(QStringLiteral("~/Norvela"));
    const QString inside = home() + QStringLiteral("/Sync/Work");
    QDir().mkpath(inside);
    account.setFolder(inside);
    EXPECT_EQ(account.folderPath(), "~/Sync/Work");
    EXPECT_EQ(account.accessedFolderURL(), QFileInfo(inside).canonicalFilePath());
    EXPECT_TRUE(settings->dataValue(QStringLiteral("folderBookmark.dropbox")).has_value());

    const QString outside = supportPath() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    account.setFolder(outside);
    EXPECT_EQ(account.folderPath(), outside);

    // A home path that merely starts with the same letters is not inside home.
    const QString lookalike = home() + QStringLiteral("x/Sync");
    QDir().mkpath(lookalike);
    account.setFolder(lookalike);
    EXPECT_EQ(account.folderPath(), lookalike);
    QDir(home() + QStringLiteral("x")).removeRecursively();
}

TEST_F(AccountModelTest, StaleAppBookmarkMigratesToTheAccountKey) {
    const QString folder = home() + QStringLiteral("/Replaced");
    QDir().mkpath(folder);
    settings->setData(appBookmark, *FolderBookmark::create(folder));
    const QByteArray appData = *settings->dataValue(appBookmark);
    // Same path, different folder: the bookmark resolves but is stale. The old folder is
    // moved aside, not deleted, so the new one cannot reuse its inode.
    QDir().rename(folder, folder + QStringLiteral("-old"));
    QDir().mkpath(folder);

    AccountModel& account = linkedDropbox(QStringLiteral("~/Replaced"));
    EXPECT_EQ(account.accessedFolderURL(), QFileInfo(folder).canonicalFilePath());
    const auto own = settings->dataValue(QStringLiteral("folderBookmark.dropbox"));
    ASSERT_TRUE(own.has_value());
    EXPECT_FALSE(FolderBookmark::resolve(*own)->stale);
    EXPECT_EQ(settings->dataValue(appBookmark), appData);
}

TEST_F(AccountModelTest, BookmarkOfAnotherFolderIsNeverUsed) {
    const QString other = home() + QStringLiteral("/Other");
    QDir().mkpath(other);
    QDir().mkpath(home() + QStringLiteral("/Mine"));
    settings->setData(QStringLiteral("folderBookmark.dropbox"), *FolderBookmark::create(other));
    AccountModel& account = linkedDropbox(QStringLiteral("~/Mine"));
    EXPECT_EQ(account.accessedFolderURL(), std::nullopt);

    // A bookmark whose folder is gone resolves to nothing at all.
    settings->setData(QStringLiteral("folderBookmark.dropbox"), *FolderBookmark::create(home() + "/Mine"));
    QDir(home() + QStringLiteral("/Mine")).removeRecursively();
    account.beginFolderAccess();
    EXPECT_EQ(account.accessedFolderURL(), std::nullopt);
}

TEST_F(AccountModelTest, StatusNotifiesExactlyTheDerivedFieldsThatChange) {
    AccountModel& account = linkedDropbox(QStringLiteral("~/Norvela"));
    QStringList notified;
    for (auto [signal, name] : {std::pair{&AccountModel::syncStateChanged, "state"},
                                {&AccountModel::lastSyncedDescriptionChanged, "sub"},
                                {&AccountModel::progressChanged, "progress"},
                                {&AccountModel::transferRateChanged, "rate"},
                                {&AccountModel::pausedForLargeFolderChanged, "large"},
                                {&AccountModel::statusChanged, "any"}})
        QObject::connect(&account, signal,
                         [&notified, name = QString::fromLatin1(name)] { notified << name; });

    SyncStatus status = account.status();
    status.state = SyncState::syncing;
    status.filesTotal = 4;
    status.filesDone = 1;
    account.setStatus(status);
    account.setStatus(status); // the same value again notifies nothing
    EXPECT_EQ(notified, (QStringList{"state", "progress", "any"}));
    EXPECT_DOUBLE_EQ(account.progress(), 0.25);

    // A rate that prints the same text is no change to the reader.
    notified.clear();
    status.bytesPerSecond = 2'500'000;
    account.setStatus(status);
    status.bytesPerSecond = 2'500'001;
    account.setStatus(status);
    EXPECT_EQ(notified, (QStringList{"rate", "any", "any"}));
    EXPECT_EQ(account.transferRate(), "2.5 MB/s");

    notified.clear();
    status.state = SyncState::paused;
    status.note = SyncStatus::Note::largeFolder;
    status.largeFolderFiles = 30512;
    account.setStatus(status);
    EXPECT_EQ(notified, (QStringList{"state", "large", "sub", "any"}));
    EXPECT_EQ(account.lastSyncedDescription(),
              QString::fromUtf8("Sync paused \u2014 folder has 30,512 files"));
    EXPECT_TRUE(account.pausedForLargeFolder());
}

TEST_F(AccountModelTest, AFolderMovedByTheToolRestartsThatAccountOnceOnItsNewFolder) {
    QStringList starts;
    engines.makeAccountEngine = [&starts](AccountModel& account,
                                          Clock&) -> std::unique_ptr<AccountSyncEngine> {
        starts << account.id() + '@' + account.folderPath();
        return std::make_unique<IdleEngine>();
    };
    link(CloudTokenStore::dropbox(), QStringLiteral("dbid:1"), QStringLiteral("d@example.com"));
    link(CloudTokenStore::googleDrive(), QStringLiteral("g@example.com"), QStringLiteral("g@example.com"));
    AppModel& m = makeModel();
    starts.clear();

    // What `norvela folder dropbox PATH` does: a store and an account model of its own.
    const QString moved = home() + QStringLiteral("/Moved");
    QDir().mkpath(moved);
    SettingsStore toolSettings(settings->filePath());
    AccountModel(dropbox().provider(), nullptr, QStringLiteral("~/Norvela"), toolSettings).setFolder(moved);
    ASSERT_TRUE(waitFor([&] { return dropbox().folderPath() == "~/Moved" && m.folderPath() == "~/Moved"; }));
    EXPECT_EQ(dropbox().accessedFolderURL(), QFileInfo(moved).canonicalFilePath()); // the tool's bookmark
    // An approval stored elsewhere lets the held engine go on.
    toolSettings.setString(QStringLiteral("approvedLargeFolder.dropbox"), QStringLiteral("~/Moved"));
    ASSERT_TRUE(waitFor([&] { return dropbox().isLargeFolderApproved(); }));
    EXPECT_EQ(starts, (QStringList{"dropbox@~/Moved", "dropbox@~/Moved"})); // and never the other account
}
