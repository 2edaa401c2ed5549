// Times FolderScanner::scan (with the folder's .mignore) against
// `find FOLDER -type f -printf '%s %T@\n'` over the same tree and prints the median of each
// and the ratio ours/find. Both run warm and interleaved in the same process run.
//
// Usage: bench_scan [folder] [--reps N]
// Without a folder, a tree of 100,000 small files in 5,000 folders is made in the temp folder
// and removed at the end. A folder given is scanned as it is; if it is empty, the tree is
// made there and left in place for later runs.

#include "sync/FolderScanner.h"
#include "sync/MignoreRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr double targetRatio = 1.5;

// Ten rules of the kinds people write; together they leave out about 3% of the files.
const char* const ignoreFile = "# build output and editor litter\n"
                               "*.tmp\n"
                               "*.o\n"
                               "node_modules/\n"
                               "/proj07/mod3/pkg9\n"
                               "**/*.log\n"
                               "!important.log\n"
                               ".cache/\n"
                               "docs/*.md\n"
                               "build/\n"
                               "*.sw?\n";

const char* const extensions[] = {"c",   "h",  "txt", "md",   "json", "png", "jpg", "py",  "js",  "cpp",
                                  "hpp", "rs", "go",  "java", "html", "css", "svg", "pdf", "csv", "tmp"};

// 50 projects x 9 modules x 10 packages (plus the 500 folders above them) = 5,000 folders of
// 20 files each. Every 17th project keeps a node_modules module, pruned whole; odd-numbered
// packages swap their ".tmp" file for a ".txt", so about 2.5% of the files are ".tmp".
bool makeTree(const QString& root) {
    QByteArray content(64, 'x');
    int folders = 0, files = 0;
    const auto fill = [&](const QString& dir, int salt) {
        if (!QDir().mkpath(dir))
            return false;
        ++folders;
        for (int i = 0; i < 20; ++i) {
            const char* ext = extensions[i];
            if (i == 19 && salt % 2)
                ext = "txt";
            QFile file(dir + QStringLiteral("/file%1.%2").arg(i).arg(QLatin1String(ext)));
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
                return false;
            ++files;
        }
        return true;
    };
    for (int p = 0; p < 50; ++p) {
        const QString project = root + QStringLiteral("/proj%1").arg(p, 2, 10, QLatin1Char('0'));
        if (!fill(project, p))
            return false;
        for (int m = 0; m < 9; ++m) {
            const QString module = project + (m == 8 && p % 17 == 0 ? QStringLiteral("/node_modules")
                                                                    : QStringLiteral("/mod%1").arg(m));
            if (!fill(module, m))
                return false;
            for (int k = 0; k < 10; ++k) {
                if (!fill(module + QStringLiteral("/pkg%1").arg(k), k))
                    return false;
            }
        }
    }
    QFile mignore(root + QStringLiteral("/.mignore"));
    if (!mignore.open(QIODevice::WriteOnly) || mignore.write(ignoreFile) < 0)
        return false;
    std::printf("made %d files in %d folders\n", files, folders);
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Ours {
    double seconds;
    qsizetype files;
};

Ours timeOurs(const QString& root) {
    QElapsedTimer timer;
    timer.start();
    const norvela::MignoreRules rules =
        std::get<norvela::MignoreRules>(norvela::MignoreRules::fromRoot(root));
    const qsizetype files = norvela::FolderScanner::scan(root, &rules).size();
    return {double(timer.nsecsElapsed()) / 1e9, files};
}

double timeFind(const QString& root) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f"),
                                           QStringLiteral("-printf"), QStringLiteral("%s %T@\\n")});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int reps = 7;
    if (const auto at = args.indexOf(QStringLiteral("--reps")); at >= 0 && at + 1 < args.size()) {
        reps = std::max(1, args[at + 1].toInt());
        args.remove(at, 2);
    }

    QString root;
    std::unique_ptr<QTemporaryDir> generated;
    if (!args.isEmpty()) {
        root = args.first();
        if (!QDir(root).exists() && !QDir().mkpath(root)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(root));
            return 1;
        }
    } else {
        generated = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/bench_scan-XXXXXX"));
        root = generated->path();
    }
    if (QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        std::printf("making the tree in %s ...\n", qPrintable(root));
        std::fflush(stdout);
        if (!makeTree(root)) {
            std::fprintf(stderr, "cannot write the tree in %s\n", qPrintable(root));
            return 1;
        }
    }

    // Warm the caches for both sides before anything is timed.
    if (timeFind(root) < 0) {
        std::fprintf(stderr, "find failed on %s\n", qPrintable(root));
        return 1;
    }
    const qsizetype synced = timeOurs(root).files;

    std::vector<double> ours, find;
    for (int rep = 0; rep < reps; ++rep) {
        ours.push_back(timeOurs(root).seconds);
        find.push_back(timeFind(root));
    }
    const double oursMedian = median(ours), findMedian = median(find);
    const double ratio = oursMedian / findMedian;
    std::printf("folder: %s, %lld files would sync, median of %d runs\n", qPrintable(root),
                static_cast<long long>(synced), reps);
    std::printf("%-44s %8.1f ms\n", "FolderScanner::scan (with .mignore)", oursMedian * 1e3);
    std::printf("%-44s %8.1f ms\n", "find -type f -printf '%s %T@\\n'", findMedian * 1e3);
    std::printf("ratio scan / find: %.3f  (target <= %.2f: %s)\n", ratio, targetRatio,
                ratio <= targetRatio ? "ok" : "ABOVE TARGET");
    return 0;
}
