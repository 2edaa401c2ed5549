// bench_first_sync [--files N] [--window N] [--reps N]
// The first sync of N files of 1 KiB (default 25,000) into an empty account, through the
// upload engine and the in-memory provider, so that what slows it down as it goes is the
// engine and its index rather than a network. Prints files per second over the first and the
// last `window` uploads (default 1,000) and their ratio, with the target last >= 0.8 x first,
// and the longest main-thread stall seen by a 2 ms timer probe, from the first upload until
// the engine is idle again (batch-end work included). Each of the runs (default 3) starts
// from an empty index; the figures are their medians, as a window of a thousand uploads
// lasts only tens of milliseconds once recording them is cheap, and a busy machine shows.
#include "FakeProvider.h"
#include "RecordingDesktop.h"
#include "StallProbe.h"
#include "common/SettingsStore.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace norvela;

namespace {

constexpr double targetRatio = 0.8;
const QString accountKey = QStringLiteral("bench");

void spin(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// 1 KiB each, every file's bytes its own, 100 to a folder as in a photo or source tree.
void makeTree(const QString& root, int files) {
    const int perDir = 100;
    QByteArray content(1024, 'x');
    for (int i = 0; i < files; ++i) {
        const QString dir = root + QStringLiteral("/d%1/e%2").arg(i / (perDir * 10)).arg(i / perDir);
        if (i % perDir == 0)
            QDir().mkpath(dir);
        const QByteArray number = QByteArray::number(i);
        content.replace(0, number.size(), number);
        QFile f(dir + QStringLiteral("/file-%1.bin").arg(i));
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
}

double filesPerSecond(const std::vector<qint64>& attemptNs, size_t from, size_t to) {
    return double(to - from) / (double(attemptNs[to] - attemptNs[from]) / 1e9);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Run {
    double first = 0; // files per second over the first window
    double last = 0;  // and over the last
    double seconds = 0;
    qint64 worstStallMs = 0;
    qsizetype uploads = 0;
};

// One first sync into a new account whose index starts empty.
Run syncOnce(AppModel& model, SettingsStore& settings, const QString& root, const QString& indexDir,
             int files, int window) {
    QDir(indexDir).removeRecursively();
    auto provider = std::make_shared<test::FakeProvider>(accountKey);
    // When each upload attempt starts: the one before it has been recorded in the index by then.
    std::vector<qint64> attemptNs;
    attemptNs.reserve(files);
    QElapsedTimer clock;
    clock.start();
    provider->onAttempt = [&](const QString&, const std::optional<QString>&) {
        attemptNs.push_back(clock.nsecsElapsed());
    };
    auto journals = [&] {
        return QDir(indexDir).entryList({accountKey + QStringLiteral(".json.journal*")}, QDir::Files);
    };

    std::optional<bench::StallProbe> probe;
    AccountModel account(provider, &model, root, settings);
    account.start();
    auto& engine = *static_cast<UploadSyncEngine*>(account.engine());
    spin([&] {
        if (!probe && !attemptNs.empty())
            probe.emplace(); // the scan before the first upload is not what is measured here
        // Done once idle with nothing left beside the index file (batch-end work included).
        return attemptNs.size() >= size_t(files) && engine.isSettled() &&
               account.syncState() != SyncState::syncing && journals().isEmpty();
    });
    Run run;
    run.seconds = double(clock.nsecsElapsed() - attemptNs.front()) / 1e9;
    run.first = filesPerSecond(attemptNs, 0, size_t(window));
    run.last = filesPerSecond(attemptNs, attemptNs.size() - 1 - size_t(window), attemptNs.size() - 1);
    run.worstStallMs = probe->worstMs();
    run.uploads = provider->uploads.size();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char* name, int fallback) {
        const int i = int(args.indexOf(QLatin1String(name)));
        return i > 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    const int files = option("--files", 25'000);
    const int window = option("--window", 1'000);
    const int reps = std::max(1, option("--reps", 3));
    if (files > UploadSyncEngine::largeFolderLimit || window < 1 || 2 * window >= files) {
        std::fprintf(stderr, "need 2 x window < files <= %d\n", UploadSyncEngine::largeFolderLimit);
        return 1;
    }

    QTemporaryDir work;
    const QString root = work.path() + QStringLiteral("/folder");
    const QString supportDir = work.path() + QStringLiteral("/support");
    const QString indexDir = supportDir + QStringLiteral("/index");
    qputenv("NORVELA_APP_SUPPORT_DIR", supportDir.toUtf8());
    std::printf("building a folder of %d files of 1 KiB...\n", files);
    makeTree(root, files);

    SettingsStore settings(supportDir + QStringLiteral("/settings.json"));
    test::RecordingDesktop desktop;
    EngineFactory factory;
    factory.makeAccountEngine = [](AccountModel& a, Clock& c) -> std::unique_ptr<AccountSyncEngine> {
        return std::make_unique<UploadSyncEngine>(a, c, [] { return true; });
    };
    AppModel model(settings, factory, desktop,
                   ServiceEndpoints::sandbox(QUrl(QStringLiteral("http://127.0.0.1:9"))));

    std::printf("\nfirst sync of %d files of 1 KiB through the in-memory provider, %d runs:\n", files, reps);
    std::vector<double> firsts, lasts, ratios;
    qint64 worstStallMs = 0;
    bool complete = true;
    for (int rep = 0; rep < reps; ++rep) {
        const Run run = syncOnce(model, settings, root, indexDir, files, window);
        std::printf("  run %d: %6.1f s, first %d: %7.0f files/s, last %d: %7.0f files/s, ratio %.2f, "
                    "longest main-thread stall %lld ms\n",
                    rep + 1, run.seconds, window, run.first, window, run.last, run.last / run.first,
                    run.worstStallMs);
        firsts.push_back(run.first);
        lasts.push_back(run.last);
        ratios.push_back(run.last / run.first);
        worstStallMs = std::max(worstStallMs, run.worstStallMs);
        complete = complete && run.uploads == files;
    }
    const double ratio = median(ratios);
    std::printf("first %d uploads: %8.0f files/s (median)\n", window, median(firsts));
    std::printf("last %d uploads:  %8.0f files/s (median)\n", window, median(lasts));
    std::printf("ratio last/first: %.2f (median of the runs; target >= %.2f): %s\n", ratio, targetRatio,
                ratio >= targetRatio ? "met" : "MISSED");
    std::printf("longest main-thread stall from a first upload until idle: %lld ms\n", worstStallMs);
    std::printf("index file: %.1f MB\n",
                QFileInfo(indexDir + QLatin1Char('/') + accountKey + ".json").size() / 1e6);
    return complete ? 0 : 1;
}
