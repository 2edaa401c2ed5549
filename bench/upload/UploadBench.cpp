// bench_upload [--dir DIR] [--reps N] [--only dropbox|gdrive] [--parts 1234] [--big-mib N] [--files N]
//              [--memory-mib N]
// Uploads through the Dropbox and Google Drive providers to the cloud emulator, which runs as a
// process of its own, and in one run reports:
//  1. a 256 MiB file in 8 MiB pieces (Dropbox upload session, Drive resumable upload) against
//     curl sending the same pieces to the same endpoints: MB/s each and the ratio;
//  2. 2,000 files of 1 KiB one after the other against one curl process sending the same
//     files: files per second each and the ratio;
//  3. how closely a 2,000,000 bytes/s limit holds over a 20 MB upload;
//  4. the peak resident memory of a child process uploading 1 GiB, next to its own figure
//     from before the upload (provider made, account linked, nothing sent yet), and the
//     emulator's own peak while it receives that upload (run second, before part 2 fills the
//     emulator with small files).
#include "CurlBaseline.h"
#include "Harness.h"
#include "QtBaseline.h"
#include "sync/LocalFile.h"

#include "auth/AuthService.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"
#include "common/NorvelaError.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

using namespace norvela;
using namespace norvela::bench;

namespace {

constexpr double mb = 1e6; // rates are in MB/s, 10^6 bytes a second
constexpr qint64 mib = 1024 * 1024;
constexpr qint64 pieceSize = 8 * mib;
constexpr double limitBytesPerSecond = 2'000'000;
constexpr qint64 limitedUploadBytes = 20'000'000;

struct Options {
    QString dir = QDir::tempPath();
    int reps = 3;
    QString only;
    qint64 bigBytes = 256 * mib;
    int smallFiles = 2000;
    qint64 memoryBytes = 1024 * mib;
    QString parts = QStringLiteral("1234"); // which of the numbered measurements to run
};

// One linked account and what the baseline needs to reach it.
struct Side {
    ProviderKind kind;
    QString label;
    std::shared_ptr<CloudProvider> provider;
    QString failure; // why this side can't upload, empty when it can
};

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

QCoro::Task<CloudUploadResult> uploadOne(CloudProvider& provider, QString file, QString relativePath,
                                         CloudProvider::Progress progress = {}) {
    const QFileInfo info(file);
    const auto opened = LocalFile::open(info.path(), info.fileName());
    if (const QString* why = std::get_if<QString>(&opened))
        throw NorvelaError(file + QStringLiteral(": ") + *why);
    const std::shared_ptr<const LocalFile> local = std::get<std::shared_ptr<const LocalFile>>(opened);
    const qint64 size = local->size();
    const std::optional<QString> newFile;
    const CloudUploadResult result =
        co_await provider.upload(local, std::move(relativePath), newFile, false, std::move(progress));
    if (result.size != size)
        throw NorvelaError(QStringLiteral("the provider reported %1 bytes of %2").arg(result.size).arg(size));
    co_return result;
}

// Seconds to send every file, one after the other as the engine does.
QCoro::Task<double> uploadEach(CloudProvider& provider, QStringList files, QString folder) {
    QElapsedTimer clock;
    clock.start();
    for (const QString& file : files) {
        const QString relativePath = folder + QLatin1Char('/') + QFileInfo(file).fileName();
        co_await uploadOne(provider, file, relativePath);
    }
    co_return clock.nsecsElapsed() / 1e9;
}

double timedUpload(CloudProvider& provider, const QString& file, const QString& relativePath) {
    QElapsedTimer clock;
    clock.start();
    runTask(uploadOne(provider, file, relativePath));
    return clock.nsecsElapsed() / 1e9;
}

// CPU seconds (user and system) used so far by this process or by its waited-for children.
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall-clock seconds of each run, and the CPU seconds the client itself spent on it (the
// emulator's own are not counted).
struct Cost {
    const EmulatorProcess& sim;
    std::vector<double> wall, cpu, emulatorCpu;
    template <typename F> void measure(int who, F run) {
        const double before = cpuSeconds(who), emulatorBefore = sim.cpuSeconds();
        wall.push_back(run());
        cpu.push_back(cpuSeconds(who) - before);
        emulatorCpu.push_back(sim.cpuSeconds() - emulatorBefore);
    }
    // The emulator's CPU time as a share of the wall-clock time, in percent of one core.
    double emulatorShare() const { return median(emulatorCpu) / median(wall) * 100; }
    // "min-max" of `total / wall`, to show how far the runs spread.
    QString spread(double total) const {
        const auto [fastest, slowest] = std::minmax_element(wall.begin(), wall.end());
        return QStringLiteral("%1-%2").arg(total / *slowest, 0, 'f', 1).arg(total / *fastest, 0, 'f', 1);
    }
};

QString describeCurrent() {
    return describe(std::current_exception());
}

// --- 1. one big file ---

void bigFile(QList<Side>& sides, CurlBaseline& curl, const EmulatorProcess& sim, const Options& o,
             const QString& work) {
    std::printf("\n1. one %lld MiB file in 8 MiB pieces, median of %d\n", o.bigBytes / mib, o.reps);
    const QString file = work + QStringLiteral("/big.bin");
    writeRandomFile(file, o.bigBytes, 1);
    const QStringList pieces = CurlBaseline::splitFile(file, pieceSize, work + QStringLiteral("/big-pieces"));
    warmPageCache(file);
    for (const QString& piece : pieces)
        warmPageCache(piece);

    for (Side& side : sides) {
        if (!side.failure.isEmpty())
            continue;
        Cost ours{sim}, theirs{sim};
        try {
            for (int rep = 0; rep < o.reps; ++rep) {
                const QString name = QStringLiteral("big-%1.bin").arg(rep);
                auto viaCurl = [&] {
                    theirs.measure(RUSAGE_CHILDREN, [&] {
                        return side.kind == ProviderKind::dropbox
                                   ? curl.dropboxSession(pieces, o.bigBytes, QStringLiteral("/curl/") + name)
                                   : curl.driveResumable(pieces, o.bigBytes, QStringLiteral("curl-") + name);
                    });
                };
                // Alternate who goes first, so neither always meets a freshly grown emulator.
                if (rep % 2)
                    viaCurl();
                ours.measure(RUSAGE_SELF, [&] {
                    return timedUpload(*side.provider, file, QStringLiteral("big/") + name);
                });
                if (rep % 2 == 0)
                    viaCurl();
            }
        } catch (...) {
            std::printf("   %-13s failed: %s\n", qPrintable(side.label), qPrintable(describeCurrent()));
            continue;
        }
        const double oursRate = o.bigBytes / median(ours.wall) / mb;
        const double theirRate = o.bigBytes / median(theirs.wall) / mb;
        const double ratio = oursRate / theirRate;
        std::printf("   %-13s Norvela %7.1f MB/s   curl %7.1f MB/s   ratio %.2f (target >= 0.90) %s\n",
                    qPrintable(side.label), oursRate, theirRate, ratio, verdict(ratio >= 0.9));
        std::printf("   %-13s runs: Norvela %s MB/s   curl %s MB/s\n", "",
                    qPrintable(ours.spread(o.bigBytes / mb)), qPrintable(theirs.spread(o.bigBytes / mb)));
        std::printf(
            "   %-13s CPU a run: Norvela %.2f s (emulator %.2f s, %.0f%%)   curl %.2f s (emulator %.2f s, "
            "%.0f%%)\n",
            "", median(ours.cpu), median(ours.emulatorCpu), ours.emulatorShare(), median(theirs.cpu),
            median(theirs.emulatorCpu), theirs.emulatorShare());
    }
    QDir(work + QStringLiteral("/big-pieces")).removeRecursively();
    QFile::remove(file);
}

// --- 2. many small files ---

void smallFiles(QList<Side>& sides, CurlBaseline& curl, QtBaseline& qt, QtBaseline& socket,
                const EmulatorProcess& sim, const Options& o, const QString& work) {
    std::printf("\n2. %d files of 1 KiB one after the other, median of %d\n", o.smallFiles, o.reps);
    const QString dir = work + QStringLiteral("/small");
    QDir().mkpath(dir);
    QStringList files;
    for (int i = 0; i < o.smallFiles; ++i) {
        files.append(dir + QStringLiteral("/f%1.bin").arg(i, 5, 10, QLatin1Char('0')));
        writeRandomFile(files.last(), 1024, 1000 + i);
    }

    for (Side& side : sides) {
        if (!side.failure.isEmpty())
            continue;
        Cost ours{sim}, theirs{sim}, bareQt{sim}, bareSocket{sim};
        try {
            for (int rep = 0; rep < o.reps; ++rep) {
                const QString folder = QStringLiteral("small-%1").arg(rep);
                bareQt.measure(RUSAGE_SELF, [&] {
                    return side.kind == ProviderKind::dropbox
                               ? qt.dropboxFiles(files, QStringLiteral("/qt-") + folder)
                               : qt.driveFiles(files);
                });
                bareSocket.measure(RUSAGE_SELF, [&] {
                    return side.kind == ProviderKind::dropbox
                               ? socket.dropboxFiles(files, QStringLiteral("/socket-") + folder)
                               : socket.driveFiles(files);
                });
                auto viaCurl = [&] {
                    theirs.measure(RUSAGE_CHILDREN, [&] {
                        return side.kind == ProviderKind::dropbox
                                   ? curl.dropboxFiles(files, QStringLiteral("/curl-") + folder)
                                   : curl.driveFiles(files);
                    });
                };
                if (rep % 2)
                    viaCurl();
                ours.measure(RUSAGE_SELF, [&] { return runTask(uploadEach(*side.provider, files, folder)); });
                if (rep % 2 == 0)
                    viaCurl();
            }
        } catch (...) {
            std::printf("   %-13s failed: %s\n", qPrintable(side.label), qPrintable(describeCurrent()));
            continue;
        }
        const double oursRate = o.smallFiles / median(ours.wall),
                     theirRate = o.smallFiles / median(theirs.wall);
        std::printf("   %-13s Norvela %7.0f files/s   curl %7.0f files/s   ratio %.2f (target >= 0.80) %s\n",
                    qPrintable(side.label), oursRate, theirRate, oursRate / theirRate,
                    verdict(oursRate / theirRate >= 0.8));
        std::printf("   %-13s runs: Norvela %s files/s   curl %s files/s\n", "",
                    qPrintable(ours.spread(o.smallFiles)), qPrintable(theirs.spread(o.smallFiles)));
        std::printf(
            "   %-13s CPU a file: Norvela %.0f us (emulator %.0f us)   curl %.0f us (emulator %.0f us)\n", "",
            median(ours.cpu) / o.smallFiles * 1e6, median(ours.emulatorCpu) / o.smallFiles * 1e6,
            median(theirs.cpu) / o.smallFiles * 1e6, median(theirs.emulatorCpu) / o.smallFiles * 1e6);
        std::printf("   %-13s Qt's network manager alone, same requests as curl: %.0f files/s (ratio %.2f), "
                    "CPU a file %.0f us\n",
                    "", o.smallFiles / median(bareQt.wall), o.smallFiles / median(bareQt.wall) / theirRate,
                    median(bareQt.cpu) / o.smallFiles * 1e6);
        std::printf("   %-13s HTTP by hand on one Qt socket, same requests: %.0f files/s (ratio %.2f), "
                    "CPU a file %.0f us\n",
                    "", o.smallFiles / median(bareSocket.wall),
                    o.smallFiles / median(bareSocket.wall) / theirRate,
                    median(bareSocket.cpu) / o.smallFiles * 1e6);
    }
    QDir(dir).removeRecursively();
}

// --- 3. the rate limit ---

void rateLimit(QList<Side>& sides, BandwidthLimiter& limiter, const QString& work) {
    std::printf("\n3. a %.0f bytes/s limit over a %lld-byte upload\n", limitBytesPerSecond,
                limitedUploadBytes);
    const QString file = work + QStringLiteral("/limited.bin");
    writeRandomFile(file, limitedUploadBytes, 2);
    warmPageCache(file);

    for (Side& side : sides) {
        if (!side.failure.isEmpty())
            continue;
        // Progress reports, to tell the steady pace from the bucket's opening allowance.
        std::vector<std::pair<double, qint64>> reports;
        QElapsedTimer clock;
        auto progress = [&](qint64 sent) { reports.emplace_back(clock.nsecsElapsed() / 1e9, sent); };
        limiter.configure(limitBytesPerSecond);
        clock.start();
        try {
            runTask(uploadOne(*side.provider, file, QStringLiteral("limited/limited.bin"), progress));
        } catch (...) {
            limiter.configure(0);
            std::printf("   %-13s failed: %s\n", qPrintable(side.label), qPrintable(describeCurrent()));
            continue;
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        limiter.configure(0);
        const double rate = limitedUploadBytes / seconds;
        const double deviation = (rate / limitBytesPerSecond - 1) * 100;
        std::printf("   %-13s %.2f s   %.3f MB/s   deviation %+.1f%% (target within 5%%) %s\n",
                    qPrintable(side.label), seconds, rate / mb, deviation, verdict(std::abs(deviation) <= 5));
        if (reports.size() >= 2 && reports.back().first > reports.front().first) {
            const double steady = (reports.back().second - reports.front().second) /
                                  (reports.back().first - reports.front().first);
            std::printf("   %-13s between the first and last of %zu progress reports: %.3f MB/s (%+.1f%%)\n",
                        "", reports.size(), steady / mb, (steady / limitBytesPerSecond - 1) * 100);
            // A burst: bytes reported at once, in seconds of the limit.
            qint64 step = reports.front().second;
            for (size_t i = 1; i < reports.size(); ++i)
                step = std::max(step, reports[i].second - reports[i - 1].second);
            const double burst = double(step) / limitBytesPerSecond;
            std::printf("   %-13s largest step of progress: %.2f s worth (target <= 1) %s\n", "", burst,
                        verdict(burst <= 1));
        }
    }

    // Two accounts at once share the limit: their sum keeps to it.
    if (sides.size() == 2 && sides[0].failure.isEmpty() && sides[1].failure.isEmpty()) {
        const QString half = work + QStringLiteral("/limited-half.bin");
        writeRandomFile(half, limitedUploadBytes / 2, 3);
        warmPageCache(half);
        limiter.configure(limitBytesPerSecond);
        QElapsedTimer clock;
        clock.start();
        try {
            auto first = uploadOne(*sides[0].provider, half, QStringLiteral("limited/both.bin"));
            auto second = uploadOne(*sides[1].provider, half, QStringLiteral("limited/both.bin"));
            runTask(std::move(first));
            runTask(std::move(second));
            const double rate = double(limitedUploadBytes / 2 * 2) / (clock.nsecsElapsed() / 1e9);
            const double deviation = (rate / limitBytesPerSecond - 1) * 100;
            std::printf("   %-13s %.3f MB/s together   deviation %+.1f%% (target within 5%%) %s\n",
                        "Both at once", rate / mb, deviation, verdict(std::abs(deviation) <= 5));
        } catch (...) {
            std::printf("   %-13s failed: %s\n", "Both at once", qPrintable(describeCurrent()));
        }
        limiter.configure(0);
        QFile::remove(half);
    }
    QFile::remove(file);
}

// --- 4. memory ---

// In a child process so that the high-water mark holds nothing from the other measurements.
int memoryChild(const QString& kindId, const QString& baseUrl, const QString& file) {
    try {
        const std::optional<ProviderKind> kind = ProviderKinds::fromId(kindId);
        BandwidthLimiter limiter;
        const auto linked =
            ProviderKinds::linkedProviders(*kind, ServiceEndpoints::sandbox(QUrl(baseUrl)), limiter);
        if (linked.isEmpty())
            throw NorvelaError(QStringLiteral("no linked account"));
        CloudProvider& provider = *linked.first();
        runTask(provider.authService().validAccessToken()); // the network stack is up from here
        const qint64 idleKb = peakResidentKb();
        const double seconds = timedUpload(provider, file, QStringLiteral("memory/big.bin"));
        std::printf("%lld %lld %.3f\n", idleKb, peakResidentKb(), seconds);
        return 0;
    } catch (...) {
        std::printf("error %s\n", qPrintable(describeCurrent()));
        return 1;
    }
}

void memory(QList<Side>& sides, const EmulatorProcess& sim, const Options& o, const QString& work) {
    std::printf(
        "\n4. peak resident memory of a process uploading %lld MiB, and of the emulator receiving it\n",
        o.memoryBytes / mib);
    const QString file = work + QStringLiteral("/memory.bin");
    writeRandomFile(file, o.memoryBytes, 3);
    const qint64 earlierEmulatorPeakKb = sim.peakResidentKb();
    for (Side& side : sides) {
        if (!side.failure.isEmpty())
            continue;
        const bool emulatorReset = sim.resetPeakResident();
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--memory-child"), ProviderKinds::id(side.kind), sim.baseUrl(), file});
        child.waitForFinished(-1);
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (child.exitCode() != 0 || fields.size() != 3) {
            std::printf("   %-13s failed: %s\n", qPrintable(side.label),
                        qPrintable(QString::fromUtf8(fields.join(' '))));
            continue;
        }
        const double idle = fields[0].toLongLong() * 1024 / mb, peak = fields[1].toLongLong() * 1024 / mb;
        const double seconds = fields[2].toDouble();
        std::printf(
            "   %-13s idle %.1f MB   peak %.1f MB   growth %+.1f MB (target <= +32) %s   (%.0f MB/s)\n",
            qPrintable(side.label), idle, peak, peak - idle, verdict(peak - idle <= 32),
            o.memoryBytes / seconds / mb);
        const double emulatorPeak = sim.peakResidentKb() * 1024 / mb;
        std::printf("   %-13s emulator peak %.1f MB%s (target <= 100) %s\n", "", emulatorPeak,
                    emulatorReset ? "" : " since it started", verdict(emulatorPeak <= 100));
    }
    std::printf("   (VmHWM; before this part the emulator peaked at %.0f MB)\n",
                earlierEmulatorPeakKb * 1024 / mb);
    QFile::remove(file);
}

Options parse(const QStringList& args) {
    Options o;
    auto value = [&](const char* name) -> QString {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? args[i + 1] : QString();
    };
    if (const QString v = value("--dir"); !v.isEmpty())
        o.dir = v;
    if (const QString v = value("--reps"); !v.isEmpty())
        o.reps = std::max(1, v.toInt());
    o.only = value("--only");
    if (const QString v = value("--parts"); !v.isEmpty())
        o.parts = v;
    if (const QString v = value("--big-mib"); !v.isEmpty())
        o.bigBytes = v.toLongLong() * mib;
    if (const QString v = value("--files"); !v.isEmpty())
        o.smallFiles = v.toInt();
    if (const QString v = value("--memory-mib"); !v.isEmpty())
        o.memoryBytes = v.toLongLong() * mib;
    return o;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--memory-child"))
        return memoryChild(args[2], args[3], args[4]);
    const Options o = parse(args);

    QTemporaryDir work(o.dir + QStringLiteral("/norvela-bench-upload-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "bench_upload: can't make a folder in %s\n", qPrintable(o.dir));
        return 2;
    }
    // Credentials of the accounts linked here go to the scratch folder, never the user's own.
    qputenv("NORVELA_APP_SUPPORT_DIR", (work.path() + QStringLiteral("/support")).toUtf8());

    EmulatorProcess sim;
    QString error;
    // On disk, as a real service keeps uploads: 1 GiB could not stay in the emulator's memory.
    if (!sim.start(work.path() + QStringLiteral("/emulator"), &error)) {
        std::fprintf(stderr, "bench_upload: the emulator did not start: %s\n", qPrintable(error));
        return 2;
    }
    std::printf("emulator: %s (its own process)   scratch: %s\n", qPrintable(sim.baseUrl()),
                qPrintable(work.path()));

    const ServiceEndpoints endpoints = ServiceEndpoints::sandbox(QUrl(sim.baseUrl()));
    BandwidthLimiter limiter;
    CurlBaseline curl(sim.baseUrl(), work.path());
    QtBaseline qt(sim.baseUrl(), QtBaseline::Transport::networkManager);
    QtBaseline socket(sim.baseUrl(), QtBaseline::Transport::socket);
    QList<Side> sides;
    for (const ProviderKind kind : ProviderKinds::all) {
        if (!o.only.isEmpty() && o.only != ProviderKinds::id(kind))
            continue;
        Side side{kind, {}, ProviderKinds::makeProvider(kind, std::nullopt, endpoints, limiter), {}};
        side.label = side.provider->displayName();
        try {
            linkThroughEmulator(*side.provider);
            const QString token = runTask(side.provider->authService().validAccessToken());
            if (kind == ProviderKind::dropbox) {
                curl.setDropboxToken(token);
                qt.setDropboxToken(token);
                socket.setDropboxToken(token);
            } else {
                curl.setDriveToken(token);
                qt.setDriveToken(token);
                socket.setDriveToken(token);
            }
            // One small upload first: connections, folder lookups and tokens are warm from here.
            const QString probe = work.path() + QStringLiteral("/warm.bin");
            writeRandomFile(probe, 1024, 0);
            runTask(uploadOne(*side.provider, probe, QStringLiteral("big/warm.bin")));
        } catch (...) {
            side.failure = describeCurrent();
            std::printf("%s: not measured: %s\n", qPrintable(side.label), qPrintable(side.failure));
        }
        sides.append(side);
    }

    try {
        if (o.parts.contains(QLatin1Char('1')))
            bigFile(sides, curl, sim, o, work.path());
        // Before the tens of thousands of small files part 2 leaves in the emulator, whose
        // records would count in its peak while it receives the large upload.
        if (o.parts.contains(QLatin1Char('4')))
            memory(sides, sim, o, work.path());
        if (o.parts.contains(QLatin1Char('2')))
            smallFiles(sides, curl, qt, socket, sim, o, work.path());
        if (o.parts.contains(QLatin1Char('3')))
            rateLimit(sides, limiter, work.path());
    } catch (...) {
        std::fprintf(stderr, "bench_upload: %s\n", qPrintable(describeCurrent()));
        return 1;
    }
    return 0;
}
