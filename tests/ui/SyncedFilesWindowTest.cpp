#include "ModelFixture.h"
#include "ViewHarness.h"
#include "models/AccountModel.h"
#include "sync/SyncIndex.h"
#include "views/SyncedFilesState.h"

#include <QSignalSpy>

#include <memory>

using namespace norvela;
using namespace norvela::test;

namespace {

class SyncedFilesWindowTest : public ModelFixture {
protected:
    void TearDown() override {
        if (harness)
            EXPECT_TRUE(harness->takeWarnings().isEmpty());
        harness.reset();
        ModelFixture::TearDown();
    }

    // Files as the account's engine would have recorded them, `secondsAgo` old.
    static void index(const QString& accountID, const QStringList& paths, int secondsAgo = 150) {
        SyncIndex index(accountID);
        SyncIndex::Entries entries;
        for (const QString& path : paths)
            entries.insert(path,
                           SyncIndexEntry{.size = 1500,
                                          .contentHash = QStringLiteral("h"),
                                          .rev = QStringLiteral("rev-") + path,
                                          .syncedAt = QDateTime::currentDateTimeUtc().addSecs(-secondsAgo)});
        index.set(entries);
    }

    QQuickWindow* open() {
        QQuickWindow* window =
            harness->show(QStringLiteral("SyncedFilesWindow"), {{"app", QVariant::fromValue(model.get())}});
        if (window) {
            EXPECT_TRUE(waitFor([&] { return !state()->loading(); }));
        }
        return window;
    }
    SyncedFilesState* state() const { return harness->window()->findChild<SyncedFilesState*>(); }
    void search(const QString& text) {
        QQuickItem* field = harness->find("searchField");
        field->setProperty("text", QString());
        harness->click(field);
        harness->type(text);
    }

    std::unique_ptr<ViewHarness> harness = std::make_unique<ViewHarness>();
};

} // namespace

TEST_F(SyncedFilesWindowTest, TwoAccountsNameTheChosenOneAndSwitch) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    link(ProviderKinds::tokenStore(ProviderKind::googleDrive), "g@example.com", "g@example.com");
    makeModel();
    QStringList many;
    for (int i = 0; i < 1204; ++i)
        many.append(QStringLiteral("Photos/img%1.jpg").arg(i));
    index("dropbox", many);
    ASSERT_TRUE(open());
    EXPECT_EQ(harness->text("fileCount"), "Dropbox · 1,204 files uploaded");
    EXPECT_EQ(harness->texts("accountButton"), (QStringList{"Dropbox", "Google Drive"}));
    EXPECT_TRUE(harness->findAll("accountButton")[0]->property("selected").toBool());

    ASSERT_TRUE(harness->click(harness->findAll("accountButton")[1]));
    ASSERT_TRUE(waitFor([&] { return harness->text("fileCount") == "Google Drive · 0 files uploaded"; }));
    EXPECT_TRUE(harness->findAll("accountButton")[1]->property("selected").toBool());
    EXPECT_EQ(harness->text("emptyMessage"),
              "Nothing synced yet — files appear here after their first upload.");
    EXPECT_EQ(harness->find("fileList"), nullptr);
}

TEST_F(SyncedFilesWindowTest, SearchMatchesNameOrFolderIgnoringCase) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    makeModel();
    index("dropbox", {"Reports/Q3/summary.pdf", "photo.jpg", "q3-plan.txt"});
    ASSERT_TRUE(open());
    EXPECT_EQ(harness->findAll("fileRow").size(), 3);
    EXPECT_EQ(harness->find("accountPicker"), nullptr); // one account: nothing to choose
    // At the top of the folder the path says nothing the name doesn't.
    EXPECT_TRUE(harness->texts("fileSubtitle").contains("2 KB · 2 minutes ago"));

    search("q3");
    EXPECT_EQ(state()->query(), "q3");
    // Only its folder matches for the first; the count still counts every file.
    QStringList names = harness->texts("fileName");
    names.sort();
    EXPECT_EQ(names, (QStringList{"q3-plan.txt", "summary.pdf"}));
    EXPECT_TRUE(harness->texts("fileSubtitle").contains("Reports/Q3/summary.pdf · 2 KB · 2 minutes ago"));
    EXPECT_EQ(harness->text("fileCount"), "3 files uploaded");

    search("abc");
    EXPECT_EQ(harness->text("emptyMessage"), "No files match “abc”");
    EXPECT_TRUE(harness->findAll("fileRow").isEmpty());
}

TEST_F(SyncedFilesWindowTest, RowButtonsShareRevealAndAskForVersions) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    makeModel();
    index("dropbox", {"Docs/plan.txt"});
    ASSERT_TRUE(open());
    QSignalSpy history(harness->window(), SIGNAL(versionHistoryRequested(QVariant)));

    ASSERT_TRUE(harness->click("historyButton"));
    ASSERT_EQ(history.size(), 1);
    const RecentFile asked = history.first().first().value<RecentFile>();
    EXPECT_EQ(asked.name, "plan.txt");
    EXPECT_EQ(asked.relativePath, "Docs/plan.txt");
    EXPECT_EQ(asked.providerID, "dropbox");

    EXPECT_EQ(harness->find("revealButton")->property("helpText").toString(), "Reveal in file manager");
    ASSERT_TRUE(harness->click("revealButton"));
    EXPECT_EQ(desktop.revealed, QStringList{model->accounts().first()->rootPath() + "/Docs/plan.txt"});

    // The service is unreachable here: the footer shows the action's outcome as it changes.
    ASSERT_TRUE(harness->click("shareButton"));
    ASSERT_TRUE(waitFor(
        [&] { return model->actionStatus() && model->actionStatus()->startsWith("Couldn't create link"); }));
    harness->settle();
    EXPECT_EQ(harness->text("footer"), *model->actionStatus());

    // Keyboard: Tab walks Done, the search field and the row's buttons in reading order;
    // Return acts; Escape closes.
    harness->find("doneButton")->forceActiveFocus();
    QStringList order{harness->window()->activeFocusItem()->objectName()};
    for (int i = 0; i < 4; ++i) {
        harness->key(Qt::Key_Tab);
        order.append(harness->window()->activeFocusItem()->objectName());
    }
    EXPECT_EQ(order,
              (QStringList{"doneButton", "searchField", "shareButton", "historyButton", "revealButton"}));
    harness->key(Qt::Key_Return);
    EXPECT_EQ(desktop.revealed.size(), 2);
    harness->key(Qt::Key_Escape);
    EXPECT_FALSE(harness->window()->isVisible());
}

TEST_F(SyncedFilesWindowTest, StaticRenderingShowsTheGivenFilesAndLoadsNothing) {
    link(ProviderKinds::tokenStore(ProviderKind::dropbox), "dbid:1", "d@example.com");
    makeModel();
    index("dropbox", {"indexed.txt"});
    RecentFile given;
    given.name = QStringLiteral("given.pdf");
    given.syncedAt = QDateTime::currentDateTimeUtc().addSecs(-150);

    SyncedFilesState state;
    state.setStaticRender(true);
    state.setApp(model.get());
    state.setStaticFiles({QVariant::fromValue(given)});
    state.load();
    processEvents();
    ASSERT_EQ(state.files().size(), 1);
    EXPECT_EQ(state.files().first().name, "given.pdf");
    EXPECT_EQ(state.subtitle(), "1 file uploaded");
    EXPECT_FALSE(state.loading());

    // A window: the search field becomes a picture of itself.
    ASSERT_TRUE(open());
    this->state()->setStaticRender(true);
    harness->settle();
    EXPECT_EQ(harness->find("searchField"), nullptr);
    EXPECT_EQ(harness->text("searchPlaceholder"), "Search files…");
}
