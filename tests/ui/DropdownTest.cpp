#include "ModelFixture.h"
#include "ViewHarness.h"
#include "models/AccountModel.h"

#include <QQuickWindow>
#include <QSignalSpy>

using namespace norvela;
using namespace norvela::test;

namespace {

RecentFile recent(const QString& name, int minutesAgo, const QDateTime& now, const QString& account = {}) {
    RecentFile file;
    file.name = name;
    file.syncedAt = now.addSecs(-60 * minutesAgo);
    file.url = QUrl::fromLocalFile(QStringLiteral("/home/u/Norvela/") + name);
    if (!account.isEmpty()) {
        file.providerID = account;
        file.relativePath = name;
        file.ref = QStringLiteral("id:") + name;
    }
    return file;
}

} // namespace

class DropdownTest : public ModelFixture {
protected:
    void TearDown() override {
        const QStringList warnings = views.takeWarnings();
        EXPECT_TRUE(warnings.isEmpty()) << qPrintable(warnings.join('\n'));
        ModelFixture::TearDown();
    }
    // Tall enough that nothing scrolls, unless a test asks for less.
    QQuickWindow* show(AppModel& app, int availableHeight = 2000) {
        return views.show(QStringLiteral("DropdownPanel"),
                          {{"app", QVariant::fromValue(&app)}, {"availableHeight", availableHeight}});
    }
    QString helpText(const QString& objectName) const {
        const QQuickItem* item = views.find(objectName);
        return item ? item->property("helpText").toString() : QString();
    }

    ViewHarness views;
    const QDateTime now = QDateTime::currentDateTime();
};

TEST_F(DropdownTest, WithoutAccountsTheAppLevelEngineFillsThePanel) {
    AppModel& app = makeModel();
    app.setSyncState(SyncState::syncing);
    app.setFilesDone(3);
    app.setFilesTotal(10);
    app.setProgress(0.3);
    app.setCurrentFile(QStringLiteral("notes.md"));
    app.setTransferRate(QStringLiteral("1.2 MB/s"));
    ASSERT_TRUE(show(app));

    EXPECT_EQ(views.text("statusTitle"), "Syncing 3 of 10 files");
    EXPECT_EQ(views.text("statusSubtitle"), "Uploading notes.md");
    EXPECT_EQ(views.text("transferRate"), "1.2 MB/s");
    EXPECT_DOUBLE_EQ(views.find("progressTrack")->property("value").toDouble(), 0.3);
    EXPECT_EQ(views.text("footerLine"), "Not linked");
    EXPECT_EQ(views.text("recentEmpty"), "Nothing synced yet");
    EXPECT_FALSE(views.find("recentFolderButton"));
    EXPECT_FALSE(views.find("statusBanner"));

    app.setSyncState(SyncState::idle);
    app.setLastSyncedDescription(QStringLiteral("Last synced 2 minutes ago"));
    app.setRecentFiles(
        {recent("a.txt", 1, now), recent("b.pdf", 2, now), recent("c.png", 3, now), recent("d.zip", 4, now)});
    views.settle();
    EXPECT_EQ(views.text("statusTitle"), "Up to date");
    EXPECT_EQ(views.text("statusSubtitle"), "Last synced 2 minutes ago");
    EXPECT_FALSE(views.find("progressTrack"));
    EXPECT_FALSE(views.find("limitBandwidthRow"));
    EXPECT_EQ(views.texts("recentName"), QStringList({"a.txt", "b.pdf", "c.png"}));
    EXPECT_FALSE(views.find("recentEmpty"));

    // The pause button drives the app-level engine while nothing is linked.
    EXPECT_EQ(helpText("pauseResumeButton"), "Pause syncing");
    ASSERT_TRUE(views.click("pauseResumeButton"));
    EXPECT_EQ(RecordingEngine::paused, 1);

    // The footer's buttons and the shared-links row reach their targets.
    QSignalSpy sharedLinks(views.window(), SIGNAL(sharedLinksRequested()));
    QSignalSpy preferences(views.window(), SIGNAL(preferencesRequested()));
    QSignalSpy quit(views.window(), SIGNAL(quitRequested()));
    ASSERT_TRUE(views.click("sharedLinksRow"));
    ASSERT_TRUE(views.click("preferencesButton"));
    ASSERT_TRUE(views.click("feedbackButton"));
    EXPECT_EQ(sharedLinks.size(), 1);
    EXPECT_EQ(preferences.size(), 1);
    EXPECT_EQ(quit.size(), 0);
    ASSERT_EQ(desktop.urls.size(), 1);
    ASSERT_TRUE(views.click("quitButton"));
    EXPECT_EQ(quit.size(), 1);
}

TEST_F(DropdownTest, OneAccountHeaderFollowsItsEngineThroughEachState) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    AppModel& app = makeModel();
    AccountModel* account = app.accounts().at(0);
    account->setStatus(syncStatus(SyncState::idle));
    QQuickWindow* panel = show(app);
    ASSERT_TRUE(panel);
    QSignalSpy preferences(panel, SIGNAL(preferencesRequested()));

    EXPECT_EQ(views.text("statusTitle"), "Up to date");
    EXPECT_EQ(views.text("statusSubtitle"), account->lastSyncedDescription());
    EXPECT_EQ(views.text("recentEmpty"), "No recent activity");
    EXPECT_EQ(helpText("recentFolderButton"), "Open sync folder in file manager");
    ASSERT_TRUE(views.click("recentFolderButton"));
    EXPECT_EQ(desktop.opened, QStringList{account->rootPath()});

    account->setStatus({.state = SyncState::syncing,
                        .note = SyncStatus::Note::upToDate,
                        .filesDone = 3,
                        .filesTotal = 10,
                        .currentFile = QStringLiteral("report.pdf"),
                        .bytesPerSecond = 2'500'000});
    views.settle();
    EXPECT_EQ(views.text("statusTitle"), "Syncing 3 of 10 files");
    EXPECT_EQ(views.text("statusSubtitle"), "Uploading report.pdf");
    EXPECT_EQ(views.text("transferRate"), account->transferRate());
    EXPECT_FALSE(account->transferRate().isEmpty());
    EXPECT_DOUBLE_EQ(views.find("progressTrack")->property("value").toDouble(), 0.3);
    EXPECT_EQ(helpText("pauseResumeButton"), "Pause syncing");
    ASSERT_TRUE(views.click("limitBandwidthRow"));
    EXPECT_EQ(preferences.size(), 1);

    account->setStatus(syncStatus(SyncState::paused, SyncStatus::Note::onBattery));
    views.settle();
    EXPECT_EQ(views.text("statusTitle"), "Sync paused");
    EXPECT_EQ(views.text("statusSubtitle"), "On battery");
    EXPECT_EQ(helpText("pauseResumeButton"), "Resume syncing");
    EXPECT_FALSE(views.find("progressTrack"));

    account->setStatus({.state = SyncState::paused, .note = SyncStatus::Note::upToDate, .userPaused = true});
    views.settle();
    EXPECT_EQ(views.text("statusTitle"), "Syncing paused");
    EXPECT_EQ(views.text("statusSubtitle"), "Click resume to continue");
}

TEST_F(DropdownTest, TwoAccountsListTheirOwnRecentFilesAndFolders) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    link(ProviderKinds::tokenStore(ProviderKind::googleDrive), "g@example.com", "g@example.com");
    AppModel& app = makeModel();
    ASSERT_EQ(app.accounts().size(), 2);
    AccountModel* dropbox = app.accounts().at(0);
    AccountModel* drive = app.accounts().at(1);
    QList<RecentFile> five;
    for (int i = 1; i <= 5; ++i)
        five.append(recent(QStringLiteral("file%1.txt").arg(i), i, now, dropbox->id()));
    dropbox->setRecentFiles(five);
    ASSERT_TRUE(show(app));

    QStringList names;
    for (QQuickItem* name : views.findAll("accountName"))
        names.append(name->property("text").toString());
    EXPECT_EQ(names, QStringList({dropbox->displayName(), drive->displayName()}));
    EXPECT_EQ(views.texts("recentName"), QStringList({"file1.txt", "file2.txt", "file3.txt"}));
    EXPECT_EQ(views.findAll("recentEmpty").size(), 1);
    EXPECT_EQ(views.text("recentEmpty"), "No recent activity");
    EXPECT_FALSE(views.find("recentFolderButton"));
    EXPECT_EQ(views.text("footerLine"), "2 accounts linked");

    const auto folders = views.findAll("accountFolderButton");
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[1]->property("helpText").toString(),
              "Open " + drive->displayName() + " folder in file manager");
    ASSERT_TRUE(views.click(folders[1]));
    ASSERT_TRUE(views.click(folders[0]));
    EXPECT_EQ(desktop.opened, QStringList({drive->rootPath(), dropbox->rootPath()}));

    // With every list empty, each account still shows its own.
    dropbox->setRecentFiles({});
    views.settle();
    EXPECT_EQ(views.findAll("recentEmpty").size(), 2);
}

TEST_F(DropdownTest, RecentRowsOpenShareAndAskForVersions) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    AppModel& app = makeModel();
    AccountModel* account = app.accounts().at(0);
    account->setRecentFiles(
        {recent("plan.key", 1, now, account->id()), recent("old.txt", 9, now, account->id())});
    QQuickWindow* panel = show(app);
    ASSERT_TRUE(panel);
    QSignalSpy versions(panel, SIGNAL(versionHistoryRequested(QVariant)));
    const auto rows = views.findAll("recentRow");
    ASSERT_EQ(rows.size(), 2);

    ASSERT_TRUE(views.click(rows[1]));
    EXPECT_EQ(desktop.revealed, QStringList{"/home/u/Norvela/old.txt"});

    ASSERT_TRUE(views.click(rows[0], Qt::RightButton));
    ASSERT_TRUE(waitFor([&] { return views.find("versionHistoryItem"); }));
    ASSERT_TRUE(views.click("versionHistoryItem"));
    ASSERT_EQ(versions.size(), 1);
    EXPECT_EQ(versions[0][0].value<RecentFile>().name, "plan.key");

    // The share runs against a service that is not there: its progress, then its failure,
    // show in the banner at the top.
    QStringList banners;
    QObject::connect(&app, &AppModel::actionStatusChanged,
                     [&] { banners.append(views.text("statusBannerText")); });
    ASSERT_TRUE(views.click(rows[0], Qt::RightButton));
    ASSERT_TRUE(waitFor([&] { return views.find("copySharedLinkItem"); }));
    ASSERT_TRUE(views.click("copySharedLinkItem"));
    EXPECT_TRUE(waitFor([&] { return banners.size() == 2; }));
    ASSERT_FALSE(banners.isEmpty());
    EXPECT_EQ(banners.first(), QString::fromUtf8("Creating shared link for plan.key\u2026"));
    EXPECT_TRUE(banners.last().startsWith("Couldn't create link")) << qPrintable(banners.last());
    EXPECT_TRUE(desktop.clipboard.isEmpty());
}

TEST_F(DropdownTest, KeyboardReachesEveryControlInReadingOrder) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    AppModel& app = makeModel();
    AccountModel* account = app.accounts().at(0);
    account->setStatus({.state = SyncState::syncing, .note = SyncStatus::Note::upToDate, .filesTotal = 4});
    QList<RecentFile> files;
    for (int i = 1; i <= 5; ++i)
        files.append(recent(QStringLiteral("f%1.txt").arg(i), i, now, account->id()));
    account->setRecentFiles(files);
    // Short enough that the recent list must scroll to show the rows the keyboard reaches.
    QQuickWindow* panel = show(app, 340);
    ASSERT_TRUE(panel);
    EXPECT_LE(panel->height(), 0.8 * 340 + 2);
    QQuickItem* recentArea = views.find("recentArea");
    ASSERT_TRUE(recentArea);
    EXPECT_GT(recentArea->property("contentHeight").toDouble(), recentArea->height());
    QSignalSpy preferences(panel, SIGNAL(preferencesRequested()));

    const QStringList order = {"pauseResumeButton", "limitBandwidthRow", "recentFolderButton",
                               "recentRow",         "recentRow",         "recentRow",
                               "sharedLinksRow",    "feedbackButton",    "preferencesButton",
                               "quitButton",        "pauseResumeButton"};
    QStringList reached;
    for (int i = 0; i < order.size(); ++i) {
        views.key(Qt::Key_Tab);
        QQuickItem* focused = panel->activeFocusItem();
        ASSERT_TRUE(focused);
        reached.append(focused->objectName());
        if (focused->objectName() == "recentRow") {
            const QPointF top = focused->mapToItem(panel->contentItem(), QPointF(0, 0));
            EXPECT_GE(top.y(), 0);
            EXPECT_LE(top.y() + focused->height(), panel->height()) << "row out of sight";
        }
    }
    EXPECT_EQ(reached, order);

    views.key(Qt::Key_Backtab); // to the quit button
    views.key(Qt::Key_Backtab);
    EXPECT_EQ(panel->activeFocusItem()->objectName(), "preferencesButton");
    views.key(Qt::Key_Return);
    EXPECT_EQ(preferences.size(), 1);

    views.key(Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
}
