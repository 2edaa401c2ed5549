#include "VersionHistoryFixture.h"
#include "common/Formatting.h"

using namespace norvela;
using namespace norvela::test;

using VersionHistoryWindowTest = VersionHistoryFixture;

TEST_F(VersionHistoryWindowTest, ASingleVersionIsCurrentAndOffersNoRestore) {
    const RecentFile file = uploadVersions(QStringLiteral("plan.txt"), {"only"});
    ASSERT_TRUE(open(file));
    ASSERT_TRUE(waitFor([&] { return settled() && state()->revisions().size() == 1; }));
    harness->settle();

    EXPECT_EQ(harness->text("fileName"), "plan.txt");
    EXPECT_EQ(harness->findAll("versionRow").size(), 1);
    EXPECT_EQ(harness->texts("versionDate"),
              QStringList{Formatting::abbreviatedDateTime(state()->revisions().first().modified)});
    EXPECT_EQ(harness->texts("versionDetail"), QStringList{"4 bytes · current version"});
    EXPECT_EQ(harness->texts("currentLabel"), QStringList{"Current"});
    EXPECT_TRUE(harness->findAll("restoreButton").isEmpty());
    harness->key(Qt::Key_Escape);
    EXPECT_FALSE(harness->window()->isVisible());
    EXPECT_TRUE(harness->takeWarnings().isEmpty());
}

TEST_F(VersionHistoryWindowTest, RestoringShowsProgressOnThatRowThenReloads) {
    const RecentFile file = uploadVersions(QStringLiteral("plan.txt"), {"first", "second!", "third..."});
    ASSERT_TRUE(open(file));
    ASSERT_TRUE(waitFor([&] { return settled() && state()->revisions().size() == 3; }));
    harness->settle();
    EXPECT_EQ(harness->texts("versionDetail"),
              (QStringList{"8 bytes · current version", "7 bytes", "5 bytes"}));
    EXPECT_EQ(harness->texts("currentLabel"), QStringList{"Current"});
    ASSERT_EQ(harness->findAll("restoreButton").size(), 2);

    // The service takes its time answering, so the restore can be seen under way.
    sim.addFault({{"endpoint", "/dropbox/api/2/files/restore"}, {"delayMs", 3000}});
    QQuickItem* oldestRow = harness->findAll("versionRow").last();
    ASSERT_TRUE(harness->click(harness->findAll("restoreButton").last()));
    EXPECT_EQ(state()->restoringID(), state()->revisions().last().id);
    const QList<QQuickItem*> busy = harness->findAll("restoreBusy");
    ASSERT_EQ(busy.size(), 1);
    EXPECT_TRUE(oldestRow->isAncestorOf(busy.first()));
    EXPECT_EQ(harness->findAll("restoreButton").size(), 1); // the other row's stays

    ASSERT_TRUE(waitFor([&] { return settled(); }, std::chrono::seconds(20)));
    harness->settle();
    // The restore made the oldest content current again: a fourth version, on disk too.
    EXPECT_EQ(harness->texts("versionDetail"),
              (QStringList{"5 bytes · current version", "8 bytes", "7 bytes", "5 bytes"}));
    EXPECT_EQ(readFile(file.url->toLocalFile()), "first");
    EXPECT_TRUE(model->actionStatus() && model->actionStatus()->startsWith("Restored plan.txt"));
    EXPECT_TRUE(harness->findAll("restoreBusy").isEmpty());
    EXPECT_TRUE(harness->takeWarnings().isEmpty());
}

TEST_F(VersionHistoryWindowTest, FailedOrEmptyLoadsSayWhyWithoutAList) {
    const RecentFile file = uploadVersions(QStringLiteral("plan.txt"), {"a", "bb"});
    sim.addFault({{"endpoint", "/dropbox/api/2/files/list_revisions"}, {"status", 503}});
    ASSERT_TRUE(open(file));
    ASSERT_TRUE(waitFor([&] { return settled() && !state()->errorText().isEmpty(); }));
    harness->settle();
    const QString error = harness->text("loadError");
    EXPECT_TRUE(error.startsWith("Couldn't load versions: ")) << error.toStdString();
    EXPECT_GT(error.size(), QStringLiteral("Couldn't load versions: ").size());
    EXPECT_EQ(harness->find("versionList"), nullptr);
    EXPECT_EQ(harness->find("noVersions"), nullptr);

    // Loading again (as when the window is shown again) clears the error.
    state()->load();
    ASSERT_TRUE(waitFor([&] { return settled() && state()->revisions().size() == 2; }));
    harness->settle();
    EXPECT_EQ(harness->find("loadError"), nullptr);
    EXPECT_EQ(harness->findAll("versionRow").size(), 2);

    // A file no account knows has no versions to show.
    harness = std::make_unique<ViewHarness>();
    RecentFile stranger;
    stranger.name = QStringLiteral("elsewhere.txt");
    ASSERT_TRUE(open(stranger));
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    harness->settle();
    EXPECT_EQ(harness->text("noVersions"), "No earlier versions found");
    EXPECT_EQ(harness->find("versionList"), nullptr);
    EXPECT_TRUE(harness->takeWarnings().isEmpty());
}

TEST_F(VersionHistoryWindowTest, ClosingWhileLoadingLeavesNothingBehind) {
    const RecentFile file = uploadVersions(QStringLiteral("plan.txt"), {"a"});
    sim.addFault({{"endpoint", "/dropbox/api/2/files/list_revisions"}, {"delayMs", 3000}});
    ASSERT_TRUE(open(file));
    ASSERT_TRUE(state()->loading());
    EXPECT_TRUE(harness->find("loadingIndicator"));
    // Done closes; the presenter then drops the window while the answer is still on its way.
    harness->key(Qt::Key_Tab);
    EXPECT_EQ(harness->window()->activeFocusItem()->objectName(), "doneButton");
    harness->key(Qt::Key_Return);
    EXPECT_FALSE(harness->window()->isVisible());
    EXPECT_TRUE(harness->takeWarnings().isEmpty());
    harness.reset();
    EXPECT_TRUE(waitFor([] { return Http::inFlight() == 0; }));
    processEvents();
}
