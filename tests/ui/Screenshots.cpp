// Renders every window in the states its tests use, light and dark, into
// $NORVELA_SCREENSHOT_DIR (scripts/screenshots.sh). Not a test: nothing here is asserted
// beyond the window loading without a QML warning.
#include "ModelFixture.h"
#include "VersionHistoryFixture.h"
#include "common/AccountInfo.h"
#include "sync/MignoreRules.h"
#include "sync/SyncIndex.h"
#include "views/MignoreEditorState.h"
#include "views/Theme.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace norvela;
using namespace norvela::test;

namespace {

// Saves the window as <name>-light.png and <name>-dark.png.
void shoot(ViewHarness& harness, const QString& name) {
    const QString dir = qEnvironmentVariable("NORVELA_SCREENSHOT_DIR", QDir::currentPath());
    for (const bool dark : {false, true}) {
        Theme::instance().setDark(dark);
        harness.settle(250); // colour fades and the progress fill finish
        const QImage picture = harness.grab();
        ASSERT_FALSE(picture.isNull()) << name.toStdString();
        const QString path = dir + QLatin1Char('/') + name + (dark ? "-dark.png" : "-light.png");
        ASSERT_TRUE(picture.save(path)) << path.toStdString();
    }
    Theme::instance().setDark(false);
    QStringList warnings = harness.takeWarnings();
    warnings.removeIf(
        [](const QString& w) { return w.startsWith("Norvela link result") || w.contains("openUrl"); });
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

QDateTime minutesAgo(int minutes) {
    return QDateTime::currentDateTimeUtc().addSecs(-60 * minutes);
}

RecentFile recent(const QString& path, int minutes, const QString& account) {
    RecentFile file;
    file.name = path.section(QLatin1Char('/'), -1);
    file.relativePath = path;
    file.providerID = account;
    file.syncedAt = minutesAgo(minutes);
    file.sizeBytes = 1000 + 731 * path.size() * path.size();
    return file;
}

// Files as an account's engine would have recorded them.
void index(const QString& accountID, const QList<RecentFile>& files) {
    SyncIndex::Entries entries;
    for (const RecentFile& f : files)
        entries.insert(*f.relativePath, SyncIndexEntry{.size = *f.sizeBytes,
                                                       .contentHash = QStringLiteral("h"),
                                                       .rev = QStringLiteral("rev-") + f.name,
                                                       .syncedAt = f.syncedAt});
    SyncIndex(accountID).set(entries);
}

const QList<RecentFile> workFiles(const QString& account) {
    return {recent("Documents/2026/Quarterly report Q3.pdf", 2, account),
            recent("Photos/Holiday/beach-sunset.jpg", 14, account), recent("notes.txt", 45, account),
            recent("Projects/website/index.html", 180, account),
            recent("Music/demo take 2.m4a", 60 * 26, account)};
}

// The details the account's request would have brought; nothing listens here, so the request
// fails, possibly after this is set, and clears them: they are put back whenever they go.
void keepInfo(AccountModel* account, const AccountInfo& info) {
    account->setAccount(info);
    QObject::connect(account, &AccountModel::accountChanged, account, [account, info] {
        if (!account->account())
            account->setAccount(info);
    });
}

class Shots : public ModelFixture {
protected:
    void TearDown() override {
        harness.reset();
        ModelFixture::TearDown();
    }
    void linkAccounts(int n) {
        const char* mails[] = {"alex@example.com", "sam@example.com"};
        for (int i = 0; i < n; ++i)
            link(ProviderKinds::tokenStore(ProviderKind::dropbox), QStringLiteral("uid-%1").arg(i),
                 QString::fromLatin1(mails[i]));
    }
    void show(const QString& type, QVariantMap properties = {}) {
        properties.insert(QStringLiteral("app"), QVariant::fromValue(model.get()));
        ASSERT_TRUE(harness->show(type, properties)) << harness->takeWarnings().join('\n').toStdString();
    }
    std::unique_ptr<ViewHarness> harness = std::make_unique<ViewHarness>();
};

QList<RecentFile> recentOf(const QList<RecentFile>& files, int n) {
    QList<RecentFile> first = files.mid(0, n);
    for (RecentFile& f : first)
        f.url = QUrl::fromLocalFile(QStringLiteral("/home/alex/Norvela/") + *f.relativePath);
    return first;
}

class DropdownShots : public Shots {
protected:
    void showPanel() { show(QStringLiteral("DropdownPanel"), {{"availableHeight", 1000}}); }
    AccountModel& first() { return *model->accounts().first(); }
    void shootPanel(const QString& name) {
        if (model->accounts().size() == 1 && !std::exchange(m_infoKept, true))
            keepInfo(&first(), {.displayName = QStringLiteral("Alex Doe"),
                                .email = QStringLiteral("alex@example.com"),
                                .usedBytes = 3'400'000'000,
                                .quotaBytes = 2'000'000'000'000});
        shoot(*harness, name);
    }
    bool m_infoKept = false;
};

TEST_F(DropdownShots, NoAccount) {
    makeModel();
    showPanel();
    shootPanel(QStringLiteral("dropdown-no-account"));
}

TEST_F(DropdownShots, OneAccount) {
    linkAccounts(1);
    makeModel();
    first().setRecentFiles(recentOf(workFiles(first().id()), 3));
    first().setStatus(syncStatus(SyncState::idle));
    showPanel();
    shootPanel(QStringLiteral("dropdown-idle"));

    first().setStatus({.state = SyncState::syncing,
                       .note = SyncStatus::Note::upToDate,
                       .filesDone = 37,
                       .filesTotal = 120,
                       .currentFile = QStringLiteral("Photos/Holiday/beach-sunset.jpg"),
                       .bytesPerSecond = 4'200'000});
    shootPanel(QStringLiteral("dropdown-syncing"));
    first().setStatus(syncStatus(SyncState::paused, SyncStatus::Note::onBattery));
    shootPanel(QStringLiteral("dropdown-paused-battery"));
    first().setStatus({.state = SyncState::paused, .note = SyncStatus::Note::upToDate, .userPaused = true});
    shootPanel(QStringLiteral("dropdown-paused-by-user"));

    first().setStatus(syncStatus(SyncState::idle));
    model->setStatus(QStringLiteral("Creating shared link for notes.txt\u2026"));
    shootPanel(QStringLiteral("dropdown-sharing"));

    harness->click(harness->find(QStringLiteral("recentRow")), Qt::RightButton);
    ASSERT_TRUE(waitFor([&] { return harness->find(QStringLiteral("versionHistoryItem")); }));
    shootPanel(QStringLiteral("dropdown-context-menu"));
}

TEST_F(DropdownShots, TwoAccounts) {
    linkAccounts(2);
    makeModel();
    for (AccountModel* account : model->accounts())
        account->setStatus(syncStatus(SyncState::idle));
    first().setRecentFiles(recentOf(workFiles(first().id()), 5));
    showPanel();
    shootPanel(QStringLiteral("dropdown-two-accounts"));
    first().setRecentFiles({});
    shootPanel(QStringLiteral("dropdown-two-accounts-empty"));
}

TEST_F(Shots, Onboarding) {
    makeModel();
    show(QStringLiteral("OnboardingWindow"));
    shoot(*harness, QStringLiteral("onboarding"));
    {
        // The sign-in callback's port is taken: the link fails and says why.
        QTcpServer squatter;
        ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, DropboxAuthService::port));
        harness->click(QStringLiteral("dropboxRow"));
        ASSERT_TRUE(waitFor([&] { return model->linkError() && !model->isLinking(); }));
    }
    shoot(*harness, QStringLiteral("onboarding-link-failed"));
    harness->click(QStringLiteral("dropboxRow"));
    ASSERT_TRUE(waitFor([&] { return model->isLinking(); }));
    shoot(*harness, QStringLiteral("onboarding-linking"));
}

TEST_F(Shots, OnboardingWithoutGoogleClient) {
    endpoints.google.clientId.clear();
    makeModel();
    show(QStringLiteral("OnboardingWindow"));
    shoot(*harness, QStringLiteral("onboarding-google-unconfigured"));
}

TEST_F(Shots, SyncedFiles) {
    for (const int accounts : {1, 2}) {
        harness.reset(); // one harness at a time: each owns the message handler
        harness = std::make_unique<ViewHarness>();
        linkAccounts(accounts);
        makeModel();
        index(model->accounts().first()->id(), workFiles(model->accounts().first()->id()));
        show(QStringLiteral("SyncedFilesWindow"));
        harness->settle(300);
        shoot(*harness,
              accounts == 1 ? QStringLiteral("synced-files") : QStringLiteral("synced-files-two-accounts"));
    }
    harness->click(harness->findAll(QStringLiteral("accountButton")).value(1));
    harness->settle(300);
    shoot(*harness, QStringLiteral("synced-files-empty"));
}

// The preferences, one picture per pane, with folders under a home of their own so the
// paths and rule counts read the same on every machine.
class PreferencesShots : public Shots {
protected:
    void SetUp() override {
        Shots::SetUp();
        m_oldHome = qgetenv("HOME");
        qputenv("HOME", m_home.path().toUtf8());
    }
    void TearDown() override {
        Shots::TearDown();
        qputenv("HOME", m_oldHome);
    }
    void makeAccounts() {
        linkAccounts(2);
        makeModel();
        const QString folders[] = {QStringLiteral("~/Norvela"), QStringLiteral("~/Work/Client projects")};
        const QByteArray rules[] = {"node_modules/\n*.tmp\n.DS_Store\n", "build/\n"};
        for (int i = 0; i < 2; ++i) {
            AccountModel* account = model->accounts()[i];
            account->setFolderPath(folders[i]);
            QDir().mkpath(account->rootPath());
            writeFile(account->rootPath() + QStringLiteral("/.mignore"), rules[i]);
            account->setStatus(syncStatus(SyncState::idle));
            keepPlan(account, i == 0 ? QStringLiteral("alex@example.com") : QStringLiteral("sam@example.com"),
                     i == 0 ? 412'000'000'000 : 1'730'000'000);
        }
    }
    static void keepPlan(AccountModel* account, const QString& email, qint64 used) {
        keepInfo(account, {.email = email,
                           .planName = QStringLiteral("Plus"),
                           .usedBytes = used,
                           .quotaBytes = 2'000'000'000'000});
    }
    void showPane(const QString& tab) {
        if (!harness->window())
            show(QStringLiteral("SettingsWindow"));
        ASSERT_TRUE(harness->click(tab + QStringLiteral("Tab")));
        harness->settle(300); // rule counts are read off the main thread
    }

private:
    QTemporaryDir m_home;
    QByteArray m_oldHome;
};

TEST_F(PreferencesShots, Panes) {
    makeAccounts();
    for (const QString pane : {"general", "account", "sync", "network", "sharing", "advanced"}) {
        if (pane == "network") { // a limit and a schedule, so their controls show
            model->setUploadLimitMBps(2.5);
            model->setScheduleEnabled(true);
        }
        showPane(pane);
        shoot(*harness, "preferences-" + pane);
    }
}

TEST_F(PreferencesShots, NoAccountAndALargeFolder) {
    makeModel();
    showPane(QStringLiteral("account"));
    shoot(*harness, QStringLiteral("preferences-account-none"));
    showPane(QStringLiteral("sync"));
    shoot(*harness, QStringLiteral("preferences-sync-no-account"));
    harness.reset();
    harness = std::make_unique<ViewHarness>();

    model.reset();
    linkAccounts(1);
    makeModel();
    AccountModel* account = model->accounts().first();
    SyncStatus large = syncStatus(SyncState::paused, SyncStatus::Note::largeFolder);
    large.largeFolderFiles = 184'302;
    account->setStatus(large);
    keepPlan(account, QStringLiteral("alex@example.com"), 412'000'000'000);
    showPane(QStringLiteral("account"));
    shoot(*harness, QStringLiteral("preferences-account-large-folder"));
    harness->click(QStringLiteral("syncAnywayButton"));
    shoot(*harness, QStringLiteral("preferences-large-folder-confirmation"));
}

// The ignore-pattern editor in a window of its own size, as the preferences sheet hosts it,
// over a folder of a small project.
class EditorShots : public Shots {
protected:
    void SetUp() override {
        Shots::SetUp();
        makeModel();
        root = QDir::homePath() + QStringLiteral("/Norvela");
        const auto files = [this](const QString& folder, const QString& name, int n) {
            QDir().mkpath(root + u'/' + folder);
            for (int i = 0; i < n; ++i)
                writeFile(root + u'/' + folder + u'/' + name.arg(i), "x");
        };
        files(QStringLiteral("Documents"), QStringLiteral("note %1.txt"), 1180);
        files(QStringLiteral("site/node_modules/lib"), QStringLiteral("module%1.js"), 312);
        files(QStringLiteral("site/build"), QStringLiteral("chunk%1.js"), 48);
        files(QStringLiteral("site/logs"), QStringLiteral("server%1.log"), 6);
        files(QStringLiteral("site"), QStringLiteral("page%1.html"), 24);
    }
    void showEditor() {
        harness.reset(); // one harness at a time: each owns the message handler
        harness = std::make_unique<ViewHarness>();
        ASSERT_TRUE(harness->showQml(R"(
import QtQuick
import Norvela
Window {
    id: host
    required property AppModel app
    width: 460
    height: 440
    color: Theme.windowBackground
    MignoreEditor { app: host.app; folderPath: "~/Norvela" }
}
)",
                                     {{"app", QVariant::fromValue(model.get())}}))
            << harness->takeWarnings().join('\n').toStdString();
        auto* state = harness->window()->findChild<MignoreEditorState*>();
        ASSERT_TRUE(waitFor([&] { return state->syncCount() && !state->counting(); }));
    }
    QString root;
};

TEST_F(EditorShots, IgnorePatterns) {
    showEditor();
    shoot(*harness, QStringLiteral("ignore-patterns-starter"));
    writeFile(root + QStringLiteral("/.mignore"),
              (MignoreRules::starterText() + QStringLiteral("\nnode_modules/\n*.log\nbuild/\n")).toUtf8());
    showEditor();
    shoot(*harness, QStringLiteral("ignore-patterns"));

    // A count held back until the pictures are taken.
    auto* state = harness->window()->findChild<MignoreEditorState*>();
    auto gate = std::make_shared<QSemaphore>();
    state->setCounter([gate](const QString& root, const QStringList& lines) {
        gate->acquire();
        return MignoreTally::count(root, lines);
    });
    const auto release = qScopeGuard([gate] { gate->release(); });
    state->add(QStringLiteral("*.tmp"));
    shoot(*harness, QStringLiteral("ignore-patterns-counting"));
}

// Versions come from the emulator: a file uploaded once per version.
class VersionShots : public VersionHistoryFixture {
protected:
    RecentFile uploadVersions(const QString& name, int versions) {
        QList<QByteArray> contents;
        for (int i = 0; i < versions; ++i)
            contents.append(QByteArray(1200 * (i + 1), 'x'));
        return VersionHistoryFixture::uploadVersions(name, contents);
    }
    void show(const RecentFile& file) {
        ASSERT_TRUE(open(file));
        ASSERT_TRUE(waitFor([&] { return settled(); }));
    }
};

TEST_F(VersionShots, VersionHistory) {
    show(uploadVersions(QStringLiteral("Budget 2027.xlsx"), 4));
    shoot(*harness, QStringLiteral("version-history"));
}

TEST_F(VersionShots, VersionHistorySingleAndFailed) {
    const RecentFile file = uploadVersions(QStringLiteral("notes.txt"), 1);
    show(file);
    shoot(*harness, QStringLiteral("version-history-single"));
    harness.reset();
    harness = std::make_unique<ViewHarness>();
    sim.addFault({{"endpoint", "/dropbox/api/2/files/list_revisions"}, {"status", 503}});
    show(file);
    shoot(*harness, QStringLiteral("version-history-failed"));
}

} // namespace
