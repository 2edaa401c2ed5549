#include "ModelFixture.h"
#include "ViewHarness.h"
#include "auth/DropboxAuthService.h"
#include "models/AccountModel.h"
#include "models/SettingsKeys.h"
#include "views/PreferencesState.h"

#include <QDir>
#include <QLocale>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

using namespace norvela;
using namespace norvela::test;

namespace {

void writeRules(const QString& folder, const QByteArray& rules) {
    writeFile(folder + QStringLiteral("/.mignore"), rules);
}

} // namespace

class PreferencesWindowTest : public ModelFixture {
protected:
    void TearDown() override {
        QStringList warnings = views.takeWarnings();
        // A link attempt logs its outcome, and the offscreen platform cannot open a browser.
        warnings.removeIf(
            [](const QString& w) { return w.startsWith("Norvela link result") || w.contains("openUrl"); });
        EXPECT_TRUE(warnings.isEmpty()) << qPrintable(warnings.join('\n'));
        QLocale::setDefault(QLocale::c());
        ModelFixture::TearDown();
    }
    void linkDropbox(int n) {
        for (int i = 0; i < n; ++i)
            link(ProviderKinds::tokenStore(ProviderKind::dropbox), QStringLiteral("uid-%1").arg(i),
                 QStringLiteral("user%1@example.com").arg(i));
    }
    // Account folders in temporary directories, so nothing touches the real home.
    AppModel& makeModelWithFolders(const QStringList& folders) {
        AppModel& app = makeModel();
        app.setFolderPath(folders.value(0, m_dirs[0].path()));
        for (qsizetype i = 0; i < app.accounts().size(); ++i)
            app.accounts()[i]->setFolderPath(folders.value(i));
        return app;
    }
    QString dir(int i) const { return m_dirs[i].path(); }
    QQuickWindow* open() {
        return views.show(QStringLiteral("SettingsWindow"), {{"app", QVariant::fromValue(model.get())}});
    }
    void select(const QString& tab) {
        ASSERT_TRUE(views.click(tab + QStringLiteral("Tab")));
        ASSERT_EQ(views.text("paneTitle").toLower(), tab);
    }
    // Focuses the control first, which scrolls the pane to it, then clicks it.
    bool press(QQuickItem* item) {
        if (!item)
            return false;
        item->forceActiveFocus();
        views.settle();
        return views.click(item);
    }
    bool press(const QString& objectName) { return press(views.find(objectName)); }
    bool shown(const QString& objectName) const { return views.find(objectName) != nullptr; }

    ViewHarness views;
    QTemporaryDir m_dirs[2];
};

TEST_F(PreferencesWindowTest, WithoutAccountsTheAppFolderAndTheLinkCardShow) {
    AppModel& app = makeModelWithFolders({});
    QQuickWindow* window = open();
    ASSERT_TRUE(window);
    // It opens on Sync: the app's own folder, whose .mignore does not exist yet.
    EXPECT_EQ(views.text("paneTitle"), "Sync");
    EXPECT_EQ(views.text("folderTitle"), "Norvela folder");
    EXPECT_EQ(views.text("folderPath"), app.folderPath());
    ASSERT_TRUE(waitFor([&] { return !views.text("ignoreSummary").isEmpty(); }));
    EXPECT_EQ(views.text("ignoreSummary"),
              "Exclude node_modules, build artifacts and more with gitignore-style rules");
    EXPECT_FALSE(shown("ignoreFolderPath"));

    select("account");
    EXPECT_TRUE(shown("linkCard"));
    EXPECT_FALSE(shown("accountCard"));
    QSignalSpy onboarding(window, SIGNAL(onboardingRequested()));
    ASSERT_TRUE(press("addAccountButton"));
    ASSERT_TRUE(press("addButton"));
    EXPECT_EQ(onboarding.size(), 2);

    // Each opening starts on Sync again.
    window->hide();
    window->show();
    views.settle();
    EXPECT_EQ(views.text("paneTitle"), "Sync");
}

TEST_F(PreferencesWindowTest, TwoAccountsInTwoFoldersListBothFoldersWithTheirOwners) {
    linkDropbox(2);
    writeRules(dir(0), "*.tmp\n");
    writeRules(dir(1), "# build output\nbuild/\nnode_modules/\n!keep.log\n");
    AppModel& app = makeModelWithFolders({dir(0), dir(1)});
    ASSERT_EQ(app.accounts().size(), 2);
    const AccountModel& first = *app.accounts()[0];
    const AccountModel& second = *app.accounts()[1];
    ASSERT_TRUE(open());

    EXPECT_EQ(views.text("folderTitle"), "Norvela folder — " + first.displayName());
    EXPECT_EQ(views.text("folderPath"), dir(0));
    EXPECT_FALSE(shown("ignoreSummary"));
    EXPECT_EQ(views.texts("ignoreFolderPath"), QStringList({dir(0), dir(1)}));
    ASSERT_TRUE(waitFor(
        [&] { return !views.texts("ignoreFolderSubtitle").value(1).endsWith(second.displayName()); }));
    EXPECT_EQ(views.texts("ignoreFolderSubtitle"),
              QStringList({first.displayName() + " · 1 active pattern",
                           second.displayName() + " · 3 active patterns"}));

    // "Edit…" opens the editor on that folder in a sheet; Escape closes the sheet only.
    ASSERT_TRUE(press(views.findAll("editIgnoreFolderButton").value(1)));
    ASSERT_TRUE(waitFor([&] { return shown("ignoreEditor"); }));
    EXPECT_EQ(views.find("ignoreEditor")->property("folderPath").toString(), dir(1));
    views.key(Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !shown("ignoreEditor"); }));
    EXPECT_TRUE(views.window()->isVisible());

    // A folder without rules says so; a change of folder is listed at once.
    app.accounts()[1]->setFolderPath(dir(0) + QStringLiteral("/sub"));
    ASSERT_TRUE(
        waitFor([&] { return views.texts("ignoreFolderSubtitle").value(1).endsWith("no patterns yet"); }));
    EXPECT_EQ(views.texts("ignoreFolderPath").value(1), dir(0) + "/sub");
}

TEST_F(PreferencesWindowTest, TwoAccountsSharingAFolderShowTheSingleFolderForm) {
    linkDropbox(2);
    writeRules(dir(0), "*.tmp\n");
    makeModelWithFolders({dir(0), dir(0)});
    QQuickWindow* window = open();
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitFor([&] { return !views.text("ignoreSummary").isEmpty(); }));
    EXPECT_EQ(views.text("ignoreSummary"), "1 active pattern · edit to change what syncs");
    EXPECT_FALSE(shown("ignoreFolderPath"));

    // Rules written elsewhere are counted again when the window is next shown.
    writeRules(dir(0), "a\nb/\n/c\n");
    window->hide();
    window->show();
    ASSERT_TRUE(waitFor([&] { return views.text("ignoreSummary").startsWith("3"); }));
    EXPECT_EQ(views.text("ignoreSummary"), "3 active patterns · edit to change what syncs");

    // The selective-sync list is a preview: drawn faded, and clicks change nothing.
    const QList<QQuickItem*> checks = views.findAll("selectiveSyncCheck");
    ASSERT_EQ(checks.size(), 3);
    const QQuickItem* list = views.find("selectiveSyncList");
    EXPECT_FALSE(list->isEnabled());
    EXPECT_DOUBLE_EQ(list->opacity(), 0.4);
    QStringList before;
    for (QQuickItem* check : checks)
        before.append(check->property("color").toString());
    for (QQuickItem* check : checks)
        press(check);
    for (qsizetype i = 0; i < checks.size(); ++i)
        EXPECT_EQ(checks[i]->property("color").toString(), before[i]);
    EXPECT_FALSE(checks[0]->hasActiveFocus());
}

TEST_F(PreferencesWindowTest, AccountCardsShowDetailsFolderAndUnlink) {
    linkDropbox(2);
    AppModel& app = makeModelWithFolders({dir(0), dir(1)});
    ASSERT_TRUE(waitFor([] { return Http::inFlight() == 0; })); // the details request has failed
    ASSERT_TRUE(open());
    select("account");
    const QList<QQuickItem*> cards = views.findAll("accountCard");
    ASSERT_EQ(cards.size(), 2);
    EXPECT_EQ(views.texts("accountName"),
              QStringList({app.accounts()[0]->displayName(), app.accounts()[1]->displayName()}));
    EXPECT_EQ(views.texts("accountLine"),
              QStringList({"Fetching account details…", "Fetching account details…"}));
    EXPECT_FALSE(shown("usageLine"));
    EXPECT_EQ(views.texts("folderLine"), QStringList({"Syncs " + dir(0), "Syncs " + dir(1)}));
    EXPECT_FALSE(shown("linkCard"));
    EXPECT_TRUE(shown("addCard"));

    AccountInfo info;
    info.email = QStringLiteral("user0@example.com");
    info.planName = QStringLiteral("Plus");
    info.usedBytes = 500'000'000'000;
    info.quotaBytes = 2'000'000'000'000;
    app.accounts()[0]->setAccount(info);
    views.settle();
    EXPECT_EQ(views.texts("accountLine").value(0), "user0@example.com · Plus");
    EXPECT_EQ(views.text("usageLine"), info.usageSummary() + " used");
    EXPECT_DOUBLE_EQ(views.find("usageBar")->property("value").toDouble(), 0.25);

    // "Change…" asks the desktop's chooser from the account's folder and takes its choice;
    // a cancelled chooser changes nothing.
    const QString chosen = dir(1) + QStringLiteral("/chosen");
    QDir().mkpath(chosen);
    desktop.folderChoice = {FolderChoice::Outcome::chosen, chosen};
    ASSERT_TRUE(press(views.findAll("changeFolderButton").value(0)));
    ASSERT_TRUE(waitFor([&] { return app.accounts()[0]->folderPath() == chosen; }));
    EXPECT_EQ(desktop.chooserStarts, QStringList({dir(0)}));
    desktop.folderChoice = {FolderChoice::Outcome::cancelled, dir(0)};
    ASSERT_TRUE(press(views.findAll("changeFolderButton").value(0)));
    ASSERT_TRUE(waitFor([&] { return desktop.chooserStarts.size() == 2; }));
    views.settle();
    EXPECT_EQ(app.accounts()[0]->folderPath(), chosen);

    // Unlinking forgets the credential and the accounts are rebuilt without it.
    ASSERT_TRUE(press(views.findAll("unlinkButton").value(1)));
    ASSERT_TRUE(waitFor([&] { return app.accounts().size() == 1; }));
    views.settle();
    EXPECT_EQ(views.findAll("accountCard").size(), 1);
}

TEST_F(PreferencesWindowTest, LinkingWaitsForTheBrowserAndAFailedLinkShowsTheErrorInRed) {
    AppModel& app = makeModelWithFolders({});
    ASSERT_TRUE(open());
    select("account");
    {
        // The sign-in callback's port is taken: the link fails at once.
        QTcpServer squatter;
        ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, DropboxAuthService::port));
        app.startLink(QStringLiteral("dropbox"));
        ASSERT_TRUE(waitFor([&] { return app.linkError() && !app.isLinking(); }));
    }
    views.settle();
    EXPECT_EQ(views.text("linkCardSubtitle"), *app.linkError());
    const QColor red = views.find("linkCardSubtitle")->property("color").value<QColor>();
    EXPECT_GT(red.red(), 2 * std::max(red.green(), red.blue()));
    EXPECT_TRUE(shown("addAccountButton"));

    app.startLink(QStringLiteral("dropbox"));
    ASSERT_TRUE(waitFor([&] { return app.isLinking(); }));
    views.settle();
    EXPECT_EQ(views.text("linkWaiting"), "Waiting for browser…");
    EXPECT_FALSE(shown("addAccountButton"));
    EXPECT_EQ(views.text("linkCardSubtitle"), "Connect Dropbox or Google Drive to start syncing");
}

TEST_F(PreferencesWindowTest, SyncAnywayApprovesTheLargeFolderAndCancelLeavesItPaused) {
    linkDropbox(1);
    AppModel& app = makeModelWithFolders({dir(0)});
    AccountModel& account = *app.accounts().first();
    account.setStatus(syncStatus(SyncState::paused, SyncStatus::Note::largeFolder));
    QQuickWindow* window = open();
    ASSERT_TRUE(window);
    select("account");
    EXPECT_EQ(views.text("largeFolderNote"), account.lastSyncedDescription());

    ASSERT_TRUE(press("syncAnywayButton"));
    ASSERT_TRUE(shown("largeFolderDialog"));
    EXPECT_EQ(views.text("largeFolderMessage"),
              "Everything in " + dir(0) + " will upload to " + account.displayName() +
                  ". A folder this size can take a long time and use significant storage.");
    ASSERT_TRUE(views.click("largeFolderCancel"));
    EXPECT_TRUE(waitFor([&] { return !shown("largeFolderDialog"); }));
    EXPECT_FALSE(account.isLargeFolderApproved());
    EXPECT_TRUE(account.pausedForLargeFolder());

    // Escape closes the confirmation, not the window.
    ASSERT_TRUE(press("syncAnywayButton"));
    ASSERT_TRUE(shown("largeFolderDialog"));
    views.key(Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !shown("largeFolderDialog"); }));
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(press("syncAnywayButton"));
    ASSERT_TRUE(views.click("largeFolderApprove"));
    EXPECT_TRUE(account.isLargeFolderApproved());
    EXPECT_EQ(settings->stringValue(SettingsKeys::approvedLargeFolder(account.id())), dir(0));
    EXPECT_TRUE(waitFor([&] { return !shown("largeFolderDialog"); }));
}

// Under a locale whose decimal is a comma, as the rate field must follow it.
TEST_F(PreferencesWindowTest, TheLimitSwitchStoresOneOrZeroAndTheRateFieldRefusesANegative) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    AppModel& app = makeModelWithFolders({});
    ASSERT_TRUE(open());
    select("network");
    EXPECT_FALSE(shown("rateField"));
    EXPECT_FALSE(views.find("limitSwitch")->property("checked").toBool());

    ASSERT_TRUE(press("limitSwitch"));
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 1.0);
    EXPECT_EQ(settings->doubleValue(SettingsKeys::uploadLimitMBps), 1.0);
    EXPECT_EQ(views.text("rateField"), "1");

    app.setUploadLimitMBps(5);
    views.settle();
    EXPECT_EQ(views.text("rateField"), "5");
    ASSERT_TRUE(press("limitSwitch"));
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 0.0);
    EXPECT_FALSE(shown("rateField"));
    ASSERT_TRUE(press("limitSwitch"));
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 1.0);
    EXPECT_TRUE(views.find("limitSwitch")->property("checked").toBool());

    QQuickItem* field = views.find("rateField");
    ASSERT_TRUE(field);
    field->forceActiveFocus();
    views.key(Qt::Key_A, Qt::ControlModifier);
    views.type("-2");
    views.key(Qt::Key_Return);
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 1.0);
    ASSERT_TRUE(shown("rateHint"));
    EXPECT_EQ(views.text("rateHint"), "Enter a rate of 0 or more, like 2,5");

    views.key(Qt::Key_A, Qt::ControlModifier);
    views.type("2,5");
    EXPECT_FALSE(shown("rateHint"));
    views.key(Qt::Key_Return);
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 2.5);
    EXPECT_EQ(views.text("rateField"), "2,5");

    // Leaving the field applies it too.
    views.key(Qt::Key_A, Qt::ControlModifier);
    views.type("4");
    views.key(Qt::Key_Tab);
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 4.0);
    EXPECT_FALSE(field->hasActiveFocus());

    // Space on the focused switch, as a keyboard user turns it off.
    views.find("limitSwitch")->forceActiveFocus();
    views.key(Qt::Key_Space);
    EXPECT_DOUBLE_EQ(app.uploadLimitMBps(), 0.0);
}

TEST_F(PreferencesWindowTest, TheScheduleSwitchShowsHourPickersThatStoreTheSchedule) {
    AppModel& app = makeModelWithFolders({});
    ASSERT_TRUE(open());
    select("network");
    EXPECT_FALSE(shown("startHourPicker"));
    ASSERT_TRUE(press("scheduleSwitch"));
    EXPECT_TRUE(app.scheduleEnabled());
    ASSERT_TRUE(shown("startHourPicker"));
    EXPECT_EQ(views.find("startHourPicker")->property("displayText").toString(), "09:00");
    EXPECT_EQ(views.find("endHourPicker")->property("displayText").toString(), "18:00");

    views.find("startHourPicker")->forceActiveFocus();
    views.key(Qt::Key_Down);
    EXPECT_EQ(app.scheduleStartHour(), 10);
    EXPECT_EQ(views.find("startHourPicker")->property("displayText").toString(), "10:00");
    app.setScheduleEndHour(7);
    views.settle();
    EXPECT_EQ(views.find("endHourPicker")->property("displayText").toString(), "07:00");

    ASSERT_TRUE(press("batterySwitch"));
    const SyncSchedule stored = SyncSchedule::decode(*settings->dataValue(SettingsKeys::schedule)).value();
    EXPECT_EQ(stored, (SyncSchedule{.enabled = true, .startHour = 10, .endHour = 7, .pauseOnBattery = true}));
}

TEST_F(PreferencesWindowTest, KeyboardMovesThroughTheSidebarAndEscapeCloses) {
    makeModelWithFolders({});
    QQuickWindow* window = open();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->activeFocusItem(), views.find("syncTab"));
    views.key(Qt::Key_Tab);
    EXPECT_EQ(window->activeFocusItem(), views.find("networkTab"));
    views.key(Qt::Key_Return);
    EXPECT_EQ(views.text("paneTitle"), "Network");
    views.key(Qt::Key_Backtab);
    views.key(Qt::Key_Backtab);
    views.key(Qt::Key_Backtab);
    EXPECT_EQ(window->activeFocusItem(), views.find("generalTab"));
    views.key(Qt::Key_Space);
    EXPECT_EQ(views.text("paneTitle"), "General");
    views.key(Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(PreferencesWindowTest, GeneralAndAdvancedPanesSayWhatTheyDo) {
    AppModel& app = makeModelWithFolders({});
    ASSERT_TRUE(open());
    select("general");
    EXPECT_EQ(views.text("versionLine"), "Norvela " + (QCoreApplication::applicationVersion().isEmpty()
                                                           ? QStringLiteral("dev")
                                                           : QCoreApplication::applicationVersion()));
    EXPECT_EQ(views.text("supportAddress"), app.supportAddress());
    ASSERT_TRUE(press("sendFeedbackButton"));
    EXPECT_EQ(desktop.urls.size(), 1);

    // This test binary has no command-line tool beside it: the card says so.
    select("advanced");
    EXPECT_FALSE(shown("installStatus"));
    ASSERT_TRUE(press("installCLIButton"));
    EXPECT_EQ(views.text("installStatus"), "CLI binary is missing from the app bundle");
}

TEST_F(PreferencesWindowTest, AChosenFolderGoesToTheAccountOrWithoutOneToTheApp) {
    AppModel& app = makeModelWithFolders({});
    PreferencesState state;
    state.setApp(&app);
    // The chooser starts in the folder, "~" spelled out, or where it would be made. Without
    // a chooser of the desktop's, the window is asked for Qt's own.
    EXPECT_EQ(PreferencesState::chooserStart(QStringLiteral("~")), QDir::homePath());
    QSignalSpy ownChooser(&state, &PreferencesState::ownChooserNeeded);
    state.chooseFolder(nullptr, dir(0) + "/not/made/yet", nullptr);
    ASSERT_TRUE(waitFor([&] { return ownChooser.size() == 1; }));
    EXPECT_EQ(ownChooser[0][1].toUrl(), QUrl::fromLocalFile(dir(0)));
    EXPECT_EQ(desktop.chooserStarts, QStringList{dir(0)});
    state.adoptFolder(QUrl::fromLocalFile(dir(1) + "/./"), nullptr);
    EXPECT_EQ(app.folderPath(), dir(1));
    EXPECT_TRUE(settings->dataValue(SettingsKeys::appFolderBookmark));
    ASSERT_EQ(state.ignoreFolders().size(), 1);
    EXPECT_EQ(state.ignoreFolders().first().path, dir(1));

    model.reset();
    linkDropbox(1);
    AppModel& linked = makeModelWithFolders({dir(0)});
    state.setApp(&linked);
    state.adoptFolder(QUrl::fromLocalFile(dir(1)), linked.accounts().first());
    EXPECT_EQ(linked.accounts().first()->folderPath(), dir(1));
    EXPECT_EQ(state.ignoreFolders().first().path, dir(1));
}
