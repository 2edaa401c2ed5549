#include "sync/FolderWatcher.h"

#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

using namespace norvela;
using namespace std::chrono_literals;

namespace {

// Collects callbacks from the watcher thread; shared so it outlives the watcher.
struct Recorder {
    void add(const QStringList& paths) {
        std::lock_guard lock(mutex);
        calls.push_back(paths);
    }
    std::vector<QStringList> snapshot() {
        std::lock_guard lock(mutex);
        return calls;
    }
    int callsWith(const QString& path) {
        const auto all = snapshot();
        return int(
            std::count_if(all.begin(), all.end(), [&](const QStringList& c) { return c.contains(path); }));
    }
    bool saw(const QString& path) { return callsWith(path) > 0; }

    void alert(FolderWatcher::Alert alert, const QString& message) {
        std::lock_guard lock(mutex);
        alerts.emplace_back(alert, message);
    }
    std::vector<std::pair<FolderWatcher::Alert, QString>> alertsSoFar() {
        std::lock_guard lock(mutex);
        return alerts;
    }

    std::mutex mutex;
    std::vector<QStringList> calls;
    std::vector<std::pair<FolderWatcher::Alert, QString>> alerts;
};

struct FolderWatcherTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(root)); }
    void TearDown() override { watcher.reset(); }

    void startWatching(FolderWatcher::Options options = {}) {
        options.onAlert = [recorder = recorder](FolderWatcher::Alert alert, const QString& message) {
            recorder->alert(alert, message);
        };
        watcher = std::make_unique<FolderWatcher>(
            root, [recorder = recorder](const QStringList& paths) { recorder->add(paths); }, options);
        watcher->start();
        ASSERT_TRUE(watcher->isRunning());
    }
    QString at(const QString& relative) const { return root + QLatin1Char('/') + relative; }
    // Writes a file and waits until the watcher reports it.
    bool writeAndSee(const QString& relative) {
        test::writeFile(at(relative), "x");
        return test::waitFor([&] { return recorder->saw(at(relative)); });
    }

    test::LogCapture log; // the watcher's system-log lines
    QTemporaryDir temp;
    QString root = temp.path() + QStringLiteral("/root");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::unique_ptr<FolderWatcher> watcher;
};

TEST_F(FolderWatcherTest, ReportsChangesAnywhereInTheTreeIncludingTheIgnoreFile) {
    test::writeFile(at("a/b/existing.txt"), "old");
    startWatching();
    EXPECT_TRUE(writeAndSee("top.txt"));
    EXPECT_TRUE(writeAndSee("a/b/existing.txt"));
    QFile::remove(at("top.txt"));
    EXPECT_TRUE(test::waitFor([&] { return recorder->callsWith(at("top.txt")) >= 2; }));

    // Editors save by renaming a temporary file over the original; hidden files are otherwise ignored.
    EXPECT_TRUE(writeAndSee(".mignore"));
    test::writeFile(at(".mignore.tmp"), "build/\n");
    ASSERT_EQ(::rename(QFile::encodeName(at(".mignore.tmp")), QFile::encodeName(at(".mignore"))), 0);
    EXPECT_TRUE(test::waitFor([&] { return recorder->callsWith(at(".mignore")) >= 2; }));
    EXPECT_FALSE(recorder->saw(at(".mignore.tmp")));
}

TEST_F(FolderWatcherTest, DirectoriesAreFollowedAsTheyAppearMoveInMoveAroundAndLeave) {
    startWatching();
    // Created in one go, faster than watches can be added on the way down.
    ASSERT_TRUE(QDir().mkpath(at("made/x/y")));
    EXPECT_TRUE(writeAndSee("made/x/y/first.txt"));

    const QString outside = temp.path() + QStringLiteral("/outside");
    test::writeFile(outside + QStringLiteral("/sub/deeper/b.txt"), "b");
    ASSERT_TRUE(QDir().rename(outside + QStringLiteral("/sub"), at("sub")));
    EXPECT_TRUE(
        test::waitFor([&] { return recorder->saw(at("sub")) && recorder->saw(at("sub/deeper/b.txt")); }));
    EXPECT_TRUE(writeAndSee("sub/deeper/c.txt"));

    ASSERT_TRUE(QDir().rename(at("sub"), at("renamed")));
    EXPECT_TRUE(writeAndSee("renamed/deeper/after.txt"));

    // Once moved out, nothing inside it is reported, under its old path or any other.
    ASSERT_TRUE(QDir().rename(at("renamed"), outside + QStringLiteral("/gone")));
    test::writeFile(outside + QStringLiteral("/gone/deeper/stale.txt"), "d");
    EXPECT_TRUE(writeAndSee("marker.txt"));
    for (const QStringList& call : recorder->snapshot())
        EXPECT_TRUE(call.filter(QStringLiteral("stale.txt")).isEmpty()) << call.join(' ').toStdString();
}

TEST_F(FolderWatcherTest, ABurstIsCoalescedIntoFewCallbacksWithoutDuplicates) {
    startWatching();
    QSet<QString> written;
    for (int i = 0; i < 2000; ++i) {
        const QString path =
            at(QStringLiteral("%1/file%2.txt").arg(QLatin1String(i % 2 ? "odd" : "even")).arg(i));
        test::writeFile(path, "data");
        written.insert(path);
    }
    // Every change is covered, by name or by a report of the whole root.
    ASSERT_TRUE(test::waitFor([&] {
        QSet<QString> seen;
        for (const QStringList& call : recorder->snapshot())
            seen.unite(QSet<QString>(call.begin(), call.end()));
        return seen.contains(root) || seen.contains(written);
    }));
    const auto calls = recorder->snapshot();
    EXPECT_LT(calls.size(), 50u);
    for (const QStringList& call : calls)
        EXPECT_EQ(QSet<QString>(call.begin(), call.end()).size(), call.size());
}

TEST_F(FolderWatcherTest, AMissingRootIsInertAndALostOneIsReportedAndAlertedOnce) {
    test::writeFile(at("plain.txt"), "x");
    for (const QString& path : {at("missing"), at("plain.txt")}) {
        FolderWatcher inert(path, [](const QStringList&) { ADD_FAILURE() << "inert watcher called back"; });
        inert.start();
        EXPECT_FALSE(inert.isRunning()) << path.toStdString();
    }
    const auto stoppedAlerts = [&] {
        const auto alerts = recorder->alertsSoFar();
        return std::count_if(alerts.begin(), alerts.end(),
                             [](const auto& a) { return a.first == FolderWatcher::Alert::stopped; });
    };
    startWatching();
    ASSERT_TRUE(QDir(root).removeRecursively());
    EXPECT_TRUE(test::waitFor([&] { return recorder->saw(root) && stoppedAlerts() == 1; }));
    ASSERT_TRUE(QDir().mkpath(root)); // coming back is the owner's business, and must not upset this one
    test::writeFile(at("again.txt"), "x");

    // A renamed root is lost just the same, though its watch would go on reporting the new place.
    recorder = std::make_shared<Recorder>();
    startWatching();
    ASSERT_TRUE(QDir().rename(root, temp.path() + QStringLiteral("/moved")));
    EXPECT_TRUE(test::waitFor([&] { return recorder->saw(root) && stoppedAlerts() == 1; }));
}

TEST_F(FolderWatcherTest, NoCallbackAfterDestructionEvenWhileEventsFlowOrFromInsideOne) {
    std::atomic<bool> writing{true};
    std::atomic<int> written{0};
    std::thread writer([&] {
        for (int i = 0; writing; ++i, ++written)
            test::writeFile(at(QStringLiteral("flow/%1.txt").arg(i % 50)), "x");
    });
    auto stopWriter = qScopeGuard([&] {
        writing = false;
        writer.join();
    });
    for (int round = 0; round < 10; ++round) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto live = std::make_unique<FolderWatcher>(root, [calls](const QStringList&) { ++*calls; });
        live->start();
        EXPECT_TRUE(test::waitFor([&] { return *calls > 0; }));
        live.reset();
        const int atDestruction = *calls, target = written + 200;
        EXPECT_TRUE(test::waitFor([&] { return written > target; }));
        EXPECT_EQ(*calls, atDestruction);
    }
    std::atomic<FolderWatcher*> owned{nullptr};
    owned = new FolderWatcher(root, [&owned](const QStringList&) { delete owned.exchange(nullptr); });
    owned.load()->start();
    EXPECT_TRUE(test::waitFor([&] { return owned.load() == nullptr; }));
}

TEST_F(FolderWatcherTest, RunningOutOfWatchesIsLoggedAndAlertedOnceWithTheLimitAndItsRemedy) {
    for (const char* dir : {"a", "b", "c"})
        ASSERT_TRUE(QDir().mkpath(at(dir)));
    startWatching({.watchLimit = 2});
    const QString expected =
        QStringLiteral("Folder watching limited: fs.inotify.max_user_watches is 2, too few to watch every "
                       "folder in \"%1\"; changes in the folders left out are found only by the periodic "
                       "full check. To watch them all, raise the limit, for example: sudo sysctl "
                       "fs.inotify.max_user_watches=524288")
            .arg(root);
    using Alerts = std::vector<std::pair<FolderWatcher::Alert, QString>>;
    const Alerts once{{FolderWatcher::Alert::watchLimit, expected}};
    EXPECT_TRUE(test::waitFor([&] { return recorder->alertsSoFar() == once; }));
    EXPECT_EQ(log.count(expected), 1);

    // What is watched still reports by name; hitting the limit again stays quiet.
    EXPECT_TRUE(writeAndSee("top.txt"));
    ASSERT_TRUE(QDir().mkdir(at("d")));
    EXPECT_TRUE(test::waitFor([&] { return recorder->saw(at("d")); }));
    EXPECT_TRUE(writeAndSee("top2.txt"));
    EXPECT_EQ(recorder->alertsSoFar(), once);
    EXPECT_EQ(log.count(QStringLiteral("Folder watching")), 1);
}

// Fills the kernel's event queue while the watcher sits in a callback, so events are lost.
TEST_F(FolderWatcherTest, LostEventsAreAnsweredWithTheRootLoggedOnceAndNewDirectoriesWatched) {
    const int queueSize =
        test::readFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events")).trimmed().toInt();
    if (queueSize <= 0 || queueSize > 200'000)
        GTEST_SKIP() << "event queue size unknown or too large to fill";

    std::mutex mutex;
    std::condition_variable changed;
    bool hold = false;
    int held = 0;
    watcher = std::make_unique<FolderWatcher>(root, [&, recorder = recorder](const QStringList& paths) {
        recorder->add(paths);
        std::unique_lock lock(mutex);
        if (hold) {
            ++held;
            changed.notify_all();
            changed.wait(lock, [&] { return !hold; });
        }
    });
    // However the test ends, let the watcher thread go before the state it waits on does.
    auto release = qScopeGuard([&] {
        {
            std::lock_guard lock(mutex);
            hold = false;
        }
        changed.notify_all();
        watcher.reset();
    });
    watcher->start();
    test::writeFile(at("one"), "1");
    test::writeFile(at("two"), "2");

    for (int round = 0; round < 2; ++round) {
        {
            std::unique_lock lock(mutex);
            hold = true;
            const int heldBefore = held;
            test::writeFile(at("wake"), QByteArray::number(round));
            ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return held > heldBefore; }));
        }
        // Alternating names keep the kernel from merging identical neighbouring events.
        for (int i = 0; i < queueSize + 100; ++i)
            ::utimensat(AT_FDCWD, QFile::encodeName(at(i % 2 ? "one" : "two")).constData(), nullptr, 0);
        const QString late = QStringLiteral("late%1").arg(round);
        ASSERT_TRUE(QDir().mkdir(at(late)));
        const int rootCalls = recorder->callsWith(root);
        {
            std::lock_guard lock(mutex);
            hold = false;
        }
        changed.notify_all();
        EXPECT_TRUE(test::waitFor([&] { return recorder->callsWith(root) > rootCalls; }));
        EXPECT_TRUE(writeAndSee(late + QStringLiteral("/inside.txt")));
    }
    EXPECT_EQ(log.count(QStringLiteral("Folder watching missed")), 1);
}

} // namespace
