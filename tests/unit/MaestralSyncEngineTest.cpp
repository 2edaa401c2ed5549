#include "engines/MaestralSyncEngine.h"
#include "common/SettingsStore.h"
#include "engines/MaestralOutput.h"
#include "models/AppModel.h"
#include "support/ManualClock.h"
#include "support/RecordingDesktop.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>

namespace norvela {
namespace {

using namespace std::chrono_literals;

// Stands in for the external client: answers from "<command>.out", logs every command,
// and on "status" hangs while a file named "hang" exists.
const QByteArray fakeClient = R"(#!/bin/sh
dir=$(dirname "$0")
echo "$1" >> "$dir/calls.log"
if [ "$1" = status ] && [ -e "$dir/hang" ]; then echo $$ > "$dir/hung.pid"; exec sleep 600; fi
[ -f "$dir/$1.out" ] && cat "$dir/$1.out"
exit 0
)";

class MaestralSyncEngineTest : public ::testing::Test {
protected:
    MaestralSyncEngineTest() {
        test::writeFile(binary, fakeClient);
        QFile::setPermissions(binary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        engine = MaestralSyncEngine::create(clock, {binary});
    }
    ~MaestralSyncEngineTest() override {
        engine.reset();
        test::processEvents();
    }

    void answer(const QString& command, const QByteArray& output) {
        test::writeFile(dir.filePath(command + ".out"), output);
    }
    int calls(const QString& command) {
        return test::readFile(dir.filePath("calls.log")).split('\n').count(command.toUtf8());
    }
    void startAndSettle() {
        engine->start(&model);
        settle();
    }
    // Until the poll under way and any pause or resume have finished and only the loop's sleep is left.
    void settle() {
        ASSERT_TRUE(test::waitFor([&] { return engine->runsInFlight() == 0 && clock.pendingTimers() == 1; }));
    }
    void poll() {
        clock.advance(MaestralSyncEngine::pollInterval);
        settle();
    }
    // Starts the next poll with a "status" that never returns; gives the hung process.
    pid_t hangNextPoll() {
        QFile::remove(dir.filePath("hung.pid"));
        test::writeFile(dir.filePath("hang"), {});
        clock.advance(MaestralSyncEngine::pollInterval);
        const QString pidFile = dir.filePath("hung.pid");
        EXPECT_TRUE(test::waitFor([&] { return test::readFile(pidFile).endsWith('\n'); }));
        return test::readFile(pidFile).trimmed().toInt();
    }

    QTemporaryDir dir;
    QString binary = dir.filePath("maestral");
    SettingsStore settings{dir.filePath("settings.json")};
    test::ManualClock clock;
    test::RecordingDesktop desktop;
    AppModel model{settings, EngineFactory{}, desktop, ServiceEndpoints::sandbox(QUrl("http://127.0.0.1:9")),
                   clock};
    std::unique_ptr<MaestralSyncEngine> engine;
};

TEST_F(MaestralSyncEngineTest, StatusWordsDecideTheState) {
    startAndSettle();
    const std::pair<QByteArray, SyncState> cases[] = {
        {"status: SYNCING 3 files", SyncState::syncing},
        {" Status\t:indexing...", SyncState::syncing},
        {"status: syncing\nSTATUS: Paused, syncing later", SyncState::paused},
        {"Error: cannot connect", SyncState::idle},
        {":syncing\nstatus:\nsyncing:", SyncState::idle}};
    for (const auto& [output, expected] : cases) {
        model.setLastSyncedDescription(QStringLiteral("stale"));
        answer("status", output);
        poll();
        EXPECT_EQ(model.syncState(), expected) << output.toStdString();
        EXPECT_EQ(model.lastSyncedDescription(),
                  expected == SyncState::idle ? "Last synced just now" : "stale");
    }
}

TEST_F(MaestralSyncEngineTest, AccountAndUsageNeedBothLines) {
    answer("status", "status: up to date\nACCOUNT:  mary ANN@example.com \nusage: 1.5 GB of 2 GB (75%)");
    startAndSettle();
    EXPECT_EQ(model.account(), (AccountInfo{"Mary Ann", "mary ANN@example.com", "Dropbox", 1'500'000'000,
                                            2'000'000'000, QString()}));

    answer("status", "status: up to date\naccount: kim@example.com");
    poll();
    EXPECT_EQ(model.account()->email, "mary ANN@example.com");

    answer("status", "account: kim@example.com\nusage: 800 MB of 1 GB\nusage: about 3 GB");
    poll();
    EXPECT_EQ(model.account(), (AccountInfo{"Kim", "kim@example.com", "Dropbox", 0, 0, QString()}));

    // Blanks after the colon are no value: no account without an address (found by fuzzing).
    for (const QByteArray output : {"Account: \nUsage:S", "account:\t \nusage: 1 GB of 2 GB"}) {
        answer("status", output);
        poll();
        EXPECT_EQ(model.account()->email, "kim@example.com") << output.toStdString();
    }
}

TEST(MaestralParseBytes, ReadsALeadingNumberAndADecimalUnit) {
    const std::pair<const char*, qint64> cases[] = {{"1.5 GB", 1'500'000'000},
                                                    {"  120KB", 120'000},
                                                    {"2 tb", 2'000'000'000'000},
                                                    {"1e3 mB", 1'000'000'000},
                                                    {"3.99 bytes", 3},
                                                    {"GB 5", 0},
                                                    {"9e30 TB", std::numeric_limits<qint64>::max()}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(MaestralOutput::parseBytes(text), expected) << text;
}

TEST_F(MaestralSyncEngineTest, HistoryKeepsTheNewestThreePaths) {
    model.setFolderPath(QStringLiteral("~/Dropbox"));
    answer("status", "status: up to date");
    answer("history",
           "a /one.txt\nb /two.txt\nc  /docs/three.pdf\nno path here\n\n2026-06-01  /My Trip/beach.jpg\n");
    startAndSettle();
    ASSERT_EQ(model.recentFiles().size(), 2);
    EXPECT_EQ(model.recentFiles()[0].name, "My"); // a path is cut at its first space
    EXPECT_EQ(model.recentFiles()[1].name, "three.pdf");
    EXPECT_EQ(model.recentFiles()[1].url, QUrl::fromLocalFile(QDir::homePath() + "/Dropbox/docs/three.pdf"));
    EXPECT_EQ(model.recentFiles()[1].syncedAt, clock.now());

    answer("history", "x\ny\n");
    poll();
    EXPECT_EQ(model.recentFiles().size(), 2);
}

TEST_F(MaestralSyncEngineTest, UnusableOutputChangesNothing) {
    answer("status", "status: paused");
    startAndSettle();
    for (const QByteArray& garbage :
         {QByteArray("status: syncing\n\xff\xfe"), QByteArray("status: syncing \xc3")}) {
        answer("status", garbage);
        poll();
        EXPECT_EQ(model.syncState(), SyncState::paused);
    }
    answer("status", "status: syncing");
    QFile::rename(binary, binary + ".gone"); // cannot be launched
    poll();
    EXPECT_EQ(model.syncState(), SyncState::paused);
    QFile::rename(binary + ".gone", binary);
    poll();
    EXPECT_EQ(model.syncState(), SyncState::syncing);
}

TEST_F(MaestralSyncEngineTest, HungClientIsKilledAndPollingGoesOn) {
    answer("status", "status: syncing");
    startAndSettle();
    const pid_t hung = hangNextPoll();

    engine->pause();
    EXPECT_EQ(model.syncState(), SyncState::paused);
    ASSERT_TRUE(test::waitFor([&] { return calls("pause") == 1 && clock.pendingTimers() == 1; }));
    clock.advance(MaestralSyncEngine::runTimeout);
    settle();
    EXPECT_NE(::kill(hung, 0), 0);
    EXPECT_EQ(model.syncState(), SyncState::paused);

    QFile::remove(dir.filePath("hang"));
    poll();
    EXPECT_EQ(model.syncState(), SyncState::syncing);
    engine->resume();
    EXPECT_EQ(model.syncState(), SyncState::idle);
    settle();
    EXPECT_EQ(calls("resume"), 1);
}

TEST_F(MaestralSyncEngineTest, StartingAgainReplacesTheLoop) {
    engine->start(&model);
    startAndSettle(); // one sleeping loop left, or this times out
    const int polls = calls("status");
    poll();
    EXPECT_EQ(calls("status"), polls + 1);
}

TEST_F(MaestralSyncEngineTest, DestroyingTheEngineKillsItsClientAndEndsTheLoop) {
    startAndSettle();
    const pid_t hung = hangNextPoll();

    engine->pause(); // must still reach the client although the engine goes right away
    engine.reset();
    EXPECT_NE(::kill(hung, 0), 0);
    EXPECT_TRUE(test::waitFor([&] { return calls("pause") == 1 && clock.pendingTimers() == 0; }));
    clock.advance(10s);
    EXPECT_EQ(calls("status"), 2);
}

TEST(MaestralCreate, TakesTheFirstExecutableCandidate) {
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain"), runnable = dir.filePath("runnable");
    test::writeFile(plain, fakeClient);
    test::writeFile(runnable, fakeClient);
    QFile::setPermissions(runnable, QFile::ReadOwner | QFile::ExeOwner);
    test::ManualClock clock;
    const auto engine =
        MaestralSyncEngine::create(clock, {dir.filePath("missing"), dir.path(), plain, runnable});
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine->binaryPath(), runnable);
    EXPECT_EQ(MaestralSyncEngine::create(clock, {plain, dir.path()}), nullptr);
}

} // namespace
} // namespace norvela
