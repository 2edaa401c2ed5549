// Times the content hashers against `openssl dgst` over one large file and prints the
// throughput of each and the ratio ours/openssl. Both sides run in the same process run,
// interleaved, so machine load drifts affect them alike; medians damp the spikes.
//
// Usage: bench_hash [file] [--reps N]
// Without a file, a 1 GiB file of pseudo-random bytes is made in the temp folder and
// removed at the end.

#include "cloud/DropboxContentHash.h"
#include "cloud/MD5FileHasher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

constexpr qint64 generatedSize = qint64(1) << 30;
constexpr double targetRatio = 0.9;

bool writeRandomFile(QFile& file, qint64 size) {
    // Random rather than constant content, so no layer below can shortcut the reads.
    std::vector<std::uint64_t> chunk(1 << 17); // 1 MiB
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (qint64 written = 0; written < size;) {
        for (auto& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const qint64 n = std::min<qint64>(size - written, qint64(chunk.size() * sizeof(std::uint64_t)));
        if (file.write(reinterpret_cast<const char*>(chunk.data()), n) != n)
            return false;
        written += n;
    }
    return file.flush();
}

// Reads the file once so every timed run hashes from the page cache, not the disk.
bool warmPageCache(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::vector<char> buffer(1 << 20);
    while (file.read(buffer.data(), qint64(buffer.size())) > 0) {
    }
    return true;
}

// Seconds taken, and the hex digest printed (for a cross-check of the MD5 results).
struct Run {
    double seconds = 0;
    QString digest;
};

Run timeOurs(const std::function<std::optional<QString>()>& hash) {
    QElapsedTimer timer;
    timer.start();
    const auto digest = hash();
    return {double(timer.nsecsElapsed()) / 1e9, digest.value_or(QString())};
}

Run timeOpenssl(const QString& algorithm, const QString& path) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QStringLiteral("-") + algorithm, path});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    // "MD5(path)= <hex>"
    const QString out = QString::fromLatin1(process.readAllStandardOutput()).trimmed();
    return {seconds, out.section(QLatin1Char(' '), -1)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A generated file is 1 GiB of someone's temp space: remove it on Ctrl-C too.
char generatedPath[4096];

void removeGeneratedAndExit(int signal) {
    if (generatedPath[0])
        ::unlink(generatedPath);
    ::_exit(128 + signal);
}

double megabytesPerSecond(qint64 bytes, double seconds) {
    return double(bytes) / 1e6 / seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int reps = 5;
    if (const auto at = args.indexOf(QStringLiteral("--reps")); at >= 0 && at + 1 < args.size()) {
        reps = std::max(1, args[at + 1].toInt());
        args.remove(at, 2);
    }

    QString path;
    std::unique_ptr<QTemporaryFile> generated;
    if (!args.isEmpty()) {
        path = args.first();
    } else {
        generated = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/bench_hash-XXXXXX"));
        if (!generated->open()) {
            std::fprintf(stderr, "cannot create a file in %s\n", qPrintable(QDir::tempPath()));
            return 1;
        }
        const QByteArray nativePath = QFile::encodeName(generated->fileName());
        std::snprintf(generatedPath, sizeof generatedPath, "%s", nativePath.constData());
        std::signal(SIGINT, removeGeneratedAndExit);
        std::signal(SIGTERM, removeGeneratedAndExit);
        std::printf("writing %lld MiB to %s ...\n", generatedSize >> 20, qPrintable(QDir::tempPath()));
        std::fflush(stdout);
        if (!writeRandomFile(*generated, generatedSize)) {
            std::fprintf(stderr, "cannot write the test file in %s\n", qPrintable(QDir::tempPath()));
            return 1;
        }
        path = generated->fileName();
        generated->close(); // the file stays until `generated` goes out of scope
    }
    const qint64 size = QFileInfo(path).size();
    if (!QFileInfo(path).isFile() || size <= 0 || !warmPageCache(path)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }

    const norvela::MD5FileHasher md5;
    std::vector<double> oursSha, opensslSha, oursMd5, opensslMd5;
    bool md5Agrees = true;
    for (int rep = 0; rep < reps; ++rep) {
        const Run a = timeOurs([&] { return norvela::DropboxContentHash::hash(path); });
        const Run b = timeOpenssl(QStringLiteral("sha256"), path);
        const Run c = timeOurs([&] { return md5.hash(path); });
        const Run d = timeOpenssl(QStringLiteral("md5"), path);
        if (a.digest.isEmpty() || c.digest.isEmpty() || b.digest.isEmpty() || d.digest.isEmpty()) {
            std::fprintf(stderr, "a hash run failed (is `openssl` on PATH?)\n");
            return 1;
        }
        md5Agrees = md5Agrees && c.digest == d.digest;
        oursSha.push_back(a.seconds);
        opensslSha.push_back(b.seconds);
        oursMd5.push_back(c.seconds);
        opensslMd5.push_back(d.seconds);
    }

    const double shaOurs = megabytesPerSecond(size, median(oursSha));
    const double shaOpenssl = megabytesPerSecond(size, median(opensslSha));
    const double md5Ours = megabytesPerSecond(size, median(oursMd5));
    const double md5Openssl = megabytesPerSecond(size, median(opensslMd5));
    std::printf("file: %s (%lld bytes), median of %d runs\n", qPrintable(path), size, reps);
    std::printf("%-26s %10.1f MB/s\n", "DropboxContentHash", shaOurs);
    std::printf("%-26s %10.1f MB/s\n", "openssl dgst -sha256", shaOpenssl);
    std::printf("%-26s %10.1f MB/s\n", "MD5FileHasher", md5Ours);
    std::printf("%-26s %10.1f MB/s\n", "openssl dgst -md5", md5Openssl);
    const auto verdict = [](double ratio) { return ratio >= targetRatio ? "ok" : "BELOW TARGET"; };
    std::printf("ratio content hash / sha256: %.3f  (target >= %.2f: %s)\n", shaOurs / shaOpenssl,
                targetRatio, verdict(shaOurs / shaOpenssl));
    std::printf("ratio md5 / md5:             %.3f  (target >= %.2f: %s)\n", md5Ours / md5Openssl,
                targetRatio, verdict(md5Ours / md5Openssl));
    if (!md5Agrees) {
        std::fprintf(stderr, "MD5FileHasher and openssl disagree on the digest\n");
        return 1;
    }
    return 0;
}
