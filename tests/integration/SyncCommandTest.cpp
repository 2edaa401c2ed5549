// `norvela folder` and `norvela sync --once` against the emulator, as a user runs them.
#include "SimBrowser.h"
#include "TestSupport.h"
#include "auth/DropboxAuthService.h"
#include "auth/GoogleAuthService.h"
#include "auth/Http.h"
#include "cli/Cli.h"
#include "cloudsim/CloudSim.h"
#include "common/SettingsStore.h"
#include "models/SettingsKeys.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

class SyncCommand : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("NORVELA_APP_SUPPORT_DIR", m_support.path().toUtf8());
        ASSERT_TRUE(sim.start());
        qputenv("NORVELA_SANDBOX_URL", sim.baseUrl().toUtf8());
        const ServiceEndpoints endpoints = ServiceEndpoints::sandbox(QUrl(sim.baseUrl()));
        DropboxAuthService dropbox(std::nullopt, endpoints.dropbox);
        ASSERT_EQ(linkThroughBrowser(dropbox), std::nullopt);
        GoogleAuthService google(std::nullopt, endpoints.google);
        ASSERT_EQ(linkThroughBrowser(google), std::nullopt);
    }
    void TearDown() override {
        waitFor([] { return Http::inFlight() == 0; });
        processEvents();
        QFile::remove(SettingsStore::defaultFilePath());
        for (const char* name : {"NORVELA_APP_SUPPORT_DIR", "NORVELA_SANDBOX_URL"})
            qunsetenv(name);
    }

    int run(const QStringList& args) {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        const int status = await(cli::run(args, {o, e}), 120s);
        o.flush();
        e.flush();
        return status;
    }
    QString folder(const QString& name) const { return m_folders.filePath(name); }
    int uploads() const {
        int n = 0;
        const auto counts = sim.requestCounts();
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            n += it.key().contains(QLatin1String("/upload")) ? it.value() : 0;
        return n;
    }

    cloudsim::CloudSim sim;
    QString out, err;

private:
    QTemporaryDir m_support;
    QTemporaryDir m_folders;
};

TEST_F(SyncCommand, FolderShowsAndSetsTheSettingTheAppReads) {
    EXPECT_EQ(run({"folder", "dropbox"}), 0);
    EXPECT_EQ(out, "~/Norvela\n");
    EXPECT_EQ(run({"folder", "gdrive"}), 0);
    EXPECT_EQ(out, "~/Norvela (Google Drive)\n");

    const QString inHome = QDir::homePath() + QStringLiteral("/Cloud/Dropbox");
    EXPECT_EQ(run({"folder", "dropbox", inHome}), 0);
    EXPECT_EQ(out, "~/Cloud/Dropbox\n");
    EXPECT_TRUE(QFileInfo(inHome).isDir());
    const SettingsStore settings;
    EXPECT_EQ(settings.stringValue(SettingsKeys::accountFolderPath(QStringLiteral("dropbox"))),
              "~/Cloud/Dropbox");
    EXPECT_EQ(settings.stringValue(SettingsKeys::folderPath), "~/Cloud/Dropbox"); // the app's own mirror
    EXPECT_EQ(run({"folder", "dropbox"}), 0);
    EXPECT_EQ(out, "~/Cloud/Dropbox\n");

    // Refusals leave the setting alone.
    EXPECT_EQ(run({"folder", "dropbox", QDir::homePath()}), 1);
    EXPECT_TRUE(err.contains("refusing to sync")) << err.toStdString();
    EXPECT_EQ(run({"folder", "nobody", folder("x")}), 1);
    EXPECT_TRUE(err.contains("no linked account 'nobody' (linked: dropbox, gdrive)")) << err.toStdString();
    writeFile(folder("plain-file"), "x");
    EXPECT_EQ(run({"folder", "gdrive", folder("plain-file")}), 1);
    EXPECT_EQ(run({"folder", "dropbox"}), 0);
    EXPECT_EQ(out, "~/Cloud/Dropbox\n");
}

TEST_F(SyncCommand, OnceUploadsEverythingThenFindsNothingNew) {
    for (const QString& name : {QStringLiteral("D"), QStringLiteral("G")}) {
        QDir().mkpath(folder(name) + QStringLiteral("/Sub"));
        writeFile(folder(name) + QStringLiteral("/a.txt"), "alpha");
        writeFile(folder(name) + QStringLiteral("/Sub/b.txt"), QByteArray(300000, 'b'));
    }
    ASSERT_EQ(run({"folder", "dropbox", folder("D")}), 0);
    ASSERT_EQ(run({"folder", "gdrive", folder("G")}), 0);

    ASSERT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("dropbox: 2/2")) << out.toStdString();
    EXPECT_TRUE(out.contains("gdrive: 2/2")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("All accounts up to date.\n")) << out.toStdString();
    const QString dropboxId = sim.accounts().first().id;
    EXPECT_EQ(sim.listing(dropboxId).value(QStringLiteral("files")).toArray().size(), 2);

    const int before = uploads();
    ASSERT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
    EXPECT_EQ(uploads(), before);
    EXPECT_FALSE(out.contains("/2")) << out.toStdString();
}

TEST_F(SyncCommand, OnceStopsWithTheReasonWhenAFolderIsRefused) {
    SettingsStore settings;
    settings.setString(SettingsKeys::accountFolderPath(QStringLiteral("gdrive")), QDir::homePath());
    ASSERT_EQ(run({"folder", "dropbox", folder("D")}), 0);
    EXPECT_EQ(run({"sync", "--once"}), 3);
    EXPECT_TRUE(
        err.contains("gdrive refused: Sync paused \u2014 unsafe folder: unsafe sync root (home directory)"))
        << err.toStdString();
}

TEST_F(SyncCommand, RunsUntilInterruptedThenStopsCleanly) {
    for (const QString& name : {QStringLiteral("D"), QStringLiteral("G")}) {
        QDir().mkpath(folder(name));
        writeFile(folder(name) + QStringLiteral("/a.txt"), "alpha");
    }
    ASSERT_EQ(run({"folder", "dropbox", folder("D")}), 0);
    ASSERT_EQ(run({"folder", "gdrive", folder("G")}), 0);
    QString o, e;
    QTextStream os(&o), es(&e);
    std::optional<int> status;
    const QStringList args{QStringLiteral("sync")};
    auto running = [&]() -> QCoro::Task<> {
        cli::Io io{os, es}; // named first: braced lists inside co_await trip the compiler
        status = co_await cli::run(args, io);
    };
    auto task = running();
    // Still running once both accounts are up to date; Ctrl-C ends it.
    ASSERT_TRUE(waitFor([&] { return o.count(QStringLiteral("Up to date")) >= 2; }, 60s)) << o.toStdString();
    EXPECT_FALSE(status.has_value());
    std::raise(SIGINT);
    ASSERT_TRUE(waitFor([&] { return status.has_value(); }, 30s));
    EXPECT_EQ(*status, 130);
    EXPECT_TRUE(e.contains("norvela: stopping")) << e.toStdString();
}

} // namespace
