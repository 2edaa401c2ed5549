#include "TestSupport.h"
#include "cloudsim/CloudSim.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela::test;

// Headless Chromium opens the URL that `norvela link dropbox --no-browser` prints; the
// emulator approves and redirects to the tool's loopback server, whose page ends the trip.
TEST(BrowserLink, ChromiumCompletesACommandLineLink) {
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh installs Debian's chromium)";

    cloudsim::CloudSim sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVELA_SANDBOX_URL", sim.baseUrl());
    env.insert("NORVELA_APP_SUPPORT_DIR", home.filePath("support"));
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.filePath("data"));

    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(NORVELA_CLI_PATH, {"link", "dropbox", "--no-browser"});
    ASSERT_TRUE(waitFor([&] { return cli.canReadLine() || cli.state() == QProcess::NotRunning; }));
    const QString url = QString::fromUtf8(cli.readLine()).trimmed();
    ASSERT_TRUE(url.startsWith(sim.baseUrl()))
        << url.toStdString() << cli.readAllStandardError().toStdString();

    QProcess browser;
    browser.start(chromium,
                  {"--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + home.filePath("chromium"), "--dump-dom", url});
    const bool browserDone =
        waitFor([&] { return browser.state() == QProcess::NotRunning; }, std::chrono::seconds(90));
    const QByteArray dom = browser.readAllStandardOutput();
    if (!browserDone || (browser.exitCode() != 0 && dom.isEmpty())) {
        cli.kill();
        GTEST_SKIP() << "Chromium could not run here: "
                     << browser.readAllStandardError().left(400).toStdString();
    }
    EXPECT_TRUE(dom.contains("Account linked to Norvela"))
        << dom.left(600).toStdString() << browser.readAllStandardError().left(1500).toStdString();

    ASSERT_TRUE(waitFor([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(cli.readAllStandardOutput().startsWith("Linked dropbox dropbox.user@example.com"));
    EXPECT_TRUE(QFile::exists(home.filePath("support/dropbox-credentials.json")));
}
