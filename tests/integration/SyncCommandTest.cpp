// `norvela folder` and `norvela sync --once` against the emulator, as a user runs them.
#include "SimFixture.h"
#include "cli/Cli.h"
#include "common/SettingsStore.h"
#include "models/SettingsKeys.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

class SyncCommand : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        qputenv("NORVELA_SANDBOX_URL", sim.baseUrl().toUtf8());
        linkBoth();
    }
    void TearDown() override {
        QFile::remove(SettingsStore::defaultFilePath());
        SimFixture::TearDown();
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
    // Folders "D" and "G" for the Dropbox and the Google Drive account.
    void useFolders() {
        QDir().mkpath(folder("D"));
        QDir().mkpath(folder("G"));
        ASSERT_EQ(run({"folder", "dropbox", folder("D")}), 0);
        ASSERT_EQ(run({"folder", "gdrive", folder("G")}), 0);
    }
    int uploads() const { return requests(QStringLiteral("/upload")); }

    QString out, err;

private:
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

TEST_F(SyncCommand, OnceEndsSayingWhatItCouldNotDo) {
    // A folder it refuses to sync: exit 3, with the reason.
    SettingsStore().setString(SettingsKeys::accountFolderPath(QStringLiteral("gdrive")), QDir::homePath());
    ASSERT_EQ(run({"folder", "dropbox", folder("D")}), 0);
    EXPECT_EQ(run({"sync", "--once"}), 3);
    EXPECT_TRUE(
        err.contains("gdrive refused: Sync paused \u2014 unsafe folder: unsafe sync root (home directory)"))
        << err.toStdString();

    // Files that keep failing: exit 5, naming them; once the service is back, all goes up.
    useFolders();
    writeFile(folder("D") + QStringLiteral("/fine.txt"), "fine");
    writeFile(folder("G") + QStringLiteral("/stuck.txt"), "stuck");
    sim.addFault({{"endpoint", "/google/www/upload"}, {"status", 503}, {"count", 0}});
    EXPECT_EQ(run({"sync", "--once"}), 5) << out.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8("gdrive: stuck.txt \u2014 still failing: ")))
        << err.toStdString();
    EXPECT_FALSE(err.contains("fine.txt")) << err.toStdString();
    sim.clearFaults();
    EXPECT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
}

// --- the commands around a running Norvela ---

QJsonObject parse(const QString& json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

TEST_F(SyncCommand, WithNothingRunningFilesAreSharedListedAndRestoredHere) {
    useFolders();
    const QString plan = folder("D") + QStringLiteral("/plan.txt");
    writeFile(plan, "first");
    writeFile(folder("G") + QStringLiteral("/Sub/notes.txt"), QByteArray(300000, 'n'));

    // What needs a running Norvela says so; the rest works on the files.
    EXPECT_EQ(run({"status"}), 3);
    EXPECT_TRUE(out.startsWith("Norvela is not running.\n")) << out.toStdString();
    EXPECT_EQ(run({"pause"}), 3);
    EXPECT_TRUE(err.contains("Norvela is not running")) << err.toStdString();
    EXPECT_EQ(run({"resume", "gdrive"}), 3);
    EXPECT_EQ(run({"share", plan}), 1);
    EXPECT_EQ(err,
              QString::fromUtf8("norvela: Can't share this file yet \u2014 wait for it to finish syncing\n"));
    EXPECT_EQ(run({"versions", plan}), 1);
    EXPECT_EQ(run({"share", "/etc/hostname"}), 1);
    EXPECT_TRUE(err.contains("not inside the folder of a linked account")) << err.toStdString();
    EXPECT_EQ(run({"ls"}), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(run({"ls", "nobody"}), 1);
    for (const QStringList& wrong : {QStringList{"status", "now"},
                                     {"share"},
                                     {"restore", plan},
                                     {"pause", "a", "b"},
                                     {"ls", "a", "b"},
                                     {"versions", plan, "x"}}) {
        EXPECT_EQ(run(wrong), 2) << wrong.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("usage: norvela " + wrong.first())) << err.toStdString();
    }
    for (const cli::Command& command : cli::commands()) {
        EXPECT_EQ(run({command.name, "--help"}), 0) << command.name.toStdString();
        EXPECT_TRUE(out.startsWith("usage: norvela " + command.name)) << out.toStdString();
    }

    ASSERT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("dropbox: 1/1") && out.contains("gdrive: 1/1")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("All accounts up to date.\n")) << out.toStdString();
    EXPECT_EQ(run({"status", "--json"}), 3);
    const QJsonArray accounts = parse(out).value("accounts").toArray();
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_FALSE(parse(out).value("running").toBool());
    EXPECT_EQ(accounts[0].toObject().value("indexedFiles").toInt(), 1);
    EXPECT_TRUE(accounts[0].toObject().value("state").isNull());
    EXPECT_EQ(run({"ls", "dropbox", "--json"}), 0);
    const QJsonArray listed = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject().value("path").toString(), "plan.txt");
    EXPECT_EQ(listed[0].toObject().value("size").toInt(), 5);

    EXPECT_EQ(run({"share", plan}), 0) << err.toStdString();
    EXPECT_TRUE(QUrl(out.trimmed()).isValid()) << out.toStdString();

    writeFile(plan, "second version");
    ASSERT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
    EXPECT_EQ(run({"versions", plan, "--json"}), 0);
    const QJsonArray versions = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(versions.size(), 2);
    EXPECT_TRUE(versions[0].toObject().value("current").toBool());
    EXPECT_EQ(versions[1].toObject().value("size").toInt(), 5);
    EXPECT_EQ(run({"versions", plan}), 0);
    EXPECT_TRUE(out.section('\n', 0, 0).endsWith("  current")) << out.toStdString();

    EXPECT_EQ(run({"restore", plan, "no-such-version"}), 1);
    EXPECT_EQ(run({"restore", plan, versions[1].toObject().value("id").toString()}), 0) << err.toStdString();
    EXPECT_TRUE(
        out.startsWith(QString::fromUtf8("Restored plan.txt \u2014 this computer and Dropbox now have the")))
        << out.toStdString();
    EXPECT_EQ(readFile(plan), "first");
    // The index took the restored file in: the next pass sends nothing.
    const int before = uploads();
    ASSERT_EQ(run({"sync", "--once"}), 0) << err.toStdString();
    EXPECT_EQ(uploads(), before);
}

TEST_F(SyncCommand, ARunningSyncHoldsTheLockAndAnswersTheOtherCommands) {
    useFolders();
    writeFile(folder("D") + QStringLiteral("/a.txt"), "alpha");
    // A name that is not UTF-8: never sent, but listed.
    const QByteArray odd = QFile::encodeName(folder("D")) + "/r\xe9sum\xe9.txt";
    ::close(::open(odd.constData(), O_CREAT | O_WRONLY, 0644));
    QString o, e;
    QTextStream os(&o), es(&e);
    std::optional<int> status;
    const QStringList args{QStringLiteral("sync")};
    auto running = [&]() -> QCoro::Task<> {
        cli::Io io{os, es};
        status = co_await cli::run(args, io);
    };
    auto task = running();
    ASSERT_TRUE(waitFor([&] { return o.contains(QStringLiteral("dropbox: Up to date")); }, 60s))
        << o.toStdString();

    // A second one is refused and the first goes on.
    EXPECT_EQ(run({"sync", "--once"}), 4);
    EXPECT_EQ(err, QString::fromUtf8("Norvela is already running (pid %1) \u2014 use `norvela status`\n")
                       .arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(status.has_value());

    EXPECT_EQ(run({"status", "--json"}), 0);
    QJsonObject report = parse(out);
    EXPECT_TRUE(report.value("running").toBool());
    ASSERT_EQ(report.value("accounts").toArray().size(), 2);
    EXPECT_EQ(report.value("accounts").toArray()[0].toObject().value("state").toString(), "idle");
    EXPECT_EQ(report.value("accounts").toArray()[0].toObject().value("indexedFiles").toInt(), 1);
    EXPECT_EQ(report.value("accounts").toArray()[0].toObject().value("parkedCount").toInt(), 1);
    EXPECT_EQ(run({"status"}), 0);
    EXPECT_TRUE(out.contains(
        QString::fromUtf8("  not uploaded: r\\xE9sum\\xE9.txt \u2014 name is not valid UTF-8\n")))
        << out.toStdString();
    ::remove(odd.constData()); // its decoded name leads nowhere for QTemporaryDir

    EXPECT_EQ(run({"pause"}), 0) << err.toStdString();
    EXPECT_EQ(run({"status", "--json"}), 0);
    for (const QJsonValue account : parse(out).value("accounts").toArray()) {
        EXPECT_EQ(account.toObject().value("state").toString(), "paused");
        EXPECT_EQ(account.toObject().value("reason").toString(), "user");
    }
    const QString later = folder("G") + QStringLiteral("/later.txt");
    writeFile(later, "written while paused");
    EXPECT_EQ(run({"share", later}), 1);
    EXPECT_EQ(run({"resume", "nobody"}), 1);
    EXPECT_EQ(err, "norvela: no linked account 'nobody'\n");
    EXPECT_EQ(run({"resume", "gdrive"}), 0);
    ASSERT_TRUE(waitFor([&] { return run({"share", later}) == 0; }, 60s)) << err.toStdString();
    EXPECT_TRUE(out.startsWith("https://drive.google.com/")) << out.toStdString();
    EXPECT_EQ(run({"status"}), 0);
    EXPECT_TRUE(out.contains("paused (user)")) << out.toStdString(); // dropbox still waits
    EXPECT_EQ(run({"resume"}), 0);

    // A restore through the running instance: its engine records it, nothing goes up again.
    writeFile(later, "second words");
    ASSERT_TRUE(waitFor(
        [&] {
            return run({"versions", later, "--json"}) == 0 &&
                   QJsonDocument::fromJson(out.toUtf8()).array().size() == 2;
        },
        60s));
    const QString older = QJsonDocument::fromJson(out.toUtf8()).array()[1].toObject().value("id").toString();
    const int before = uploads();
    EXPECT_EQ(run({"restore", later, older}), 0) << err.toStdString();
    EXPECT_EQ(readFile(later), "written while paused");
    EXPECT_EQ(run({"status", "--json"}), 0);
    std::raise(SIGINT);
    ASSERT_TRUE(waitFor([&] { return status.has_value(); }, 30s));
    EXPECT_EQ(*status, 130);
    EXPECT_TRUE(e.contains("norvela: stopping")) << e.toStdString();
    EXPECT_EQ(uploads(), before + 1); // the restore's own upload of the earlier content
}

} // namespace
