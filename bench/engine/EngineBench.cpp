// bench_engine [--files N]
// Builds a folder of N files (default 25,000) with a full index, then in one run measures:
//  1. an unchanged reconcile against the scan alone (ratio; and how many files were hashed);
//  2. the longest main-thread stall (a 2 ms timer probe) during a reconcile that finds 1,000
//     changed files, and during their uploads through an in-memory provider;
//  3. the peak resident memory of a separate process holding the index with its engine idle,
//     next to that of a bare Qt process.
#include "FakeProvider.h"
#include "RecordingDesktop.h"
#include "StallProbe.h"
#include "common/SettingsStore.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "sync/FolderScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace norvela;
using namespace std::chrono_literals;

namespace {

const QString accountKey = QStringLiteral("bench");

void spin(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void makeTree(const QString& root, int files) {
    const int perDir = 100;
    for (int i = 0; i < files; ++i) {
        const QString dir = root + QStringLiteral("/d%1/e%2").arg(i / (perDir * 10)).arg(i / perDir);
        if (i % perDir == 0)
            QDir().mkpath(dir);
        QFile f(dir + QStringLiteral("/file-%1.txt").arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray("content of file ") + QByteArray::number(i));
    }
}

// An index that matches the folder exactly, written straight to disk.
void writeFullIndex(const QString& root, const QString& supportDir) {
    const MignoreRules rules = std::get<MignoreRules>(MignoreRules::fromRoot(root));
    SyncIndex::Entries entries;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const ScannedFile& f : FolderScanner::scan(root, &rules))
        entries.insert(f.relativePath,
                       {f.stamp.size, f.stamp, QString(64, QLatin1Char('a')), QStringLiteral("rev-0"), now});
    QDir().mkpath(supportDir + QStringLiteral("/index"));
    QFile out(supportDir + QStringLiteral("/index/") + accountKey + QStringLiteral(".json"));
    out.open(QIODevice::WriteOnly);
    out.write(SyncIndex::encode(entries));
}

struct Rig {
    Rig(const QString& root, const QString& supportDir)
        : settings(supportDir + QStringLiteral("/settings.json")) {
        EngineFactory factory;
        factory.makeAccountEngine = [](AccountModel& a, Clock& c) -> std::unique_ptr<AccountSyncEngine> {
            return std::make_unique<UploadSyncEngine>(a, c, [] { return true; });
        };
        app =
            std::make_unique<AppModel>(settings, factory, desktop,
                                       ServiceEndpoints::sandbox(QUrl(QStringLiteral("http://127.0.0.1:9"))));
        account = std::make_unique<AccountModel>(provider, app.get(), root, settings);
        account->start();
        // Let the first pass, queued by start(), begin before waiting for quiet.
        QElapsedTimer t;
        t.start();
        spin([&] { return engine().isReconciling() || t.elapsed() > 200; });
        spinUntilIdle();
    }
    UploadSyncEngine& engine() { return *static_cast<UploadSyncEngine*>(account->engine()); }
    void spinUntilIdle() {
        spin([&] {
            return !engine().isReconciling() && engine().pending().empty() && provider->inFlight() == 0 &&
                   account->syncState() != SyncState::syncing;
        });
    }

    SettingsStore settings;
    test::RecordingDesktop desktop; // nothing here opens windows
    std::shared_ptr<test::FakeProvider> provider = std::make_shared<test::FakeProvider>(accountKey);
    std::unique_ptr<AppModel> app;
    std::unique_ptr<AccountModel> account;
};

void awaitTask(QCoro::Task<> task) {
    bool done = false;
    auto runner = [&]() -> QCoro::Task<> {
        co_await std::move(task);
        done = true;
    };
    auto t = runner();
    spin([&] { return done; });
}

qint64 peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

int idleMemoryChild(const QString& root, const QString& supportDir) {
    qputenv("NORVELA_APP_SUPPORT_DIR", supportDir.toUtf8());
    Rig rig(root, supportDir);
    QTimer::singleShot(2000, [] {}); // let the idle worker tick a few times
    QElapsedTimer t;
    t.start();
    spin([&] { return t.elapsed() > 2000; });
    std::printf("%lld\n", peakResidentKb());
    return 0;
}

qint64 childPeakKb(const QStringList& args) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(600'000);
    return child.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("--idle-memory-child"))
        return idleMemoryChild(args[2], args[3]);
    if (args.size() >= 2 && args[1] == QLatin1String("--bare-child")) {
        std::printf("%lld\n", peakResidentKb());
        return 0;
    }
    int files = 25'000;
    if (const int i = int(args.indexOf(QStringLiteral("--files"))); i > 0 && i + 1 < args.size())
        files = args[i + 1].toInt();

    QTemporaryDir work;
    const QString root = work.path() + QStringLiteral("/folder");
    const QString supportDir = work.path() + QStringLiteral("/support");
    qputenv("NORVELA_APP_SUPPORT_DIR", supportDir.toUtf8());
    std::printf("building a folder of %d files with a full index...\n", files);
    makeTree(root, files);
    writeFullIndex(root, supportDir);

    {
        Rig rig(root, supportDir);
        const int hashesBefore = rig.provider->hashes();
        std::vector<double> reconcileMs, scanMs;
        for (int rep = 0; rep < 5; ++rep) {
            QElapsedTimer t;
            t.start();
            awaitTask(rig.engine().reconcile());
            reconcileMs.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            const MignoreRules rules = std::get<MignoreRules>(MignoreRules::fromRoot(root));
            const auto scanned = FolderScanner::scan(root, &rules);
            scanMs.push_back(t.nsecsElapsed() / 1e6);
        }
        const double r = median(reconcileMs), s = median(scanMs);
        std::printf("\nunchanged reconcile: %.1f ms   scan alone: %.1f ms   ratio %.2f (target <= 2)   files "
                    "hashed: %d "
                    "(target 0)   uploads: %lld\n",
                    r, s, r / s, rig.provider->hashes() - hashesBefore,
                    qlonglong(rig.provider->uploads.size()));

        // 1,000 changed files: grown by one byte each, so no hash can call them equal.
        for (int i = 0; i < std::min(files, 1000); ++i) {
            QFile f(root + QStringLiteral("/d%1/e%2/file-%3.txt").arg(i / 1000).arg(i / 100).arg(i));
            f.open(QIODevice::Append);
            f.write("+");
        }
        {
            // Queued files go up as the pass finds them, so the pass and the uploads are one span.
            const qsizetype uploadsBefore = rig.provider->uploads.size();
            bench::StallProbe probe;
            QElapsedTimer t;
            t.start();
            awaitTask(rig.engine().reconcile());
            rig.spinUntilIdle();
            std::printf("reconcile with 1,000 changed and their uploads through the in-memory provider: %lld "
                        "uploaded in %.1f s, longest main-thread stall %lld ms (target <= 50)\n",
                        qlonglong(rig.provider->uploads.size() - uploadsBefore), t.elapsed() / 1000.0,
                        probe.worstMs());
        }
    }

    writeFullIndex(root, supportDir);
    const qint64 idleKb = childPeakKb({QStringLiteral("--idle-memory-child"), root, supportDir});
    const qint64 bareKb = childPeakKb({QStringLiteral("--bare-child")});
    std::printf("\npeak resident memory, engine idle with a %d-entry index: %.1f MB (target <= 60)   bare Qt "
                "process: "
                "%.1f MB\n",
                files, idleKb / 1024.0, bareKb / 1024.0);
    return 0;
}
