// Times SyncIndex::set() (one entry encoded and appended to the journal) on a 25,000-entry
// index, and prints the median and worst against a 20 ms target; then what folding the
// journal into the file costs, on the main thread (the snapshot, and the first set after it
// while the fold still runs) and on the pool (writing the file). For reference it also
// times, in the same run, our encode against a QJsonDocument encode of the same map (ratio
// ours/QJsonDocument), the atomic write with and without fsync, and loading the index back,
// from the file alone and from a journal of every entry (a first sync cut short).
//
// Usage: bench_index [--entries N] [--sets N]
// Works in a temporary folder (NORVELA_APP_SUPPORT_DIR points there) that is removed at the end.

#include "common/AtomicFile.h"
#include "sync/SyncIndex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <vector>

using norvela::SyncIndex;
using norvela::SyncIndexEntry;

namespace {

constexpr double targetMedianMs = 20.0;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double worst(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

std::vector<double> timeRuns(int runs, const std::function<void(int)>& body) {
    std::vector<double> ms;
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        body(i);
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return ms;
}

QString hexString(std::mt19937_64& rng, int length) {
    static const char digits[] = "0123456789abcdef";
    QString out(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        out[i] = QLatin1Char(digits[rng() % 16]);
    return out;
}

// Paths of 3-5 components drawn from folder and file names a user might have, a few with
// spaces and non-ASCII letters; hashes as 64 hex digits; revs as Dropbox-style hex strings.
SyncIndex::Entries makeEntries(int count) {
    static const char* const folders[] = {"Documents", "Photos",     "Projects", "Archive 2021",
                                          "Music",     "Rechnungen", "Été",      "src",
                                          "notes",     "Clients",    "drafts",   "Tax"};
    static const char* const stems[] = {"report",    "IMG",    "invoice", "meeting notes", "main",
                                        "Übersicht", "budget", "photo",   "draft",         "scan"};
    static const char* const extensions[] = {".pdf", ".jpg", ".txt", ".docx", ".cpp", ".md", ".png", ".xlsx"};
    std::mt19937_64 rng(20240601);
    const qint64 base = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    SyncIndex::Entries entries;
    entries.reserve(count);
    for (int i = 0; entries.size() < count; ++i) {
        const int depth = 3 + int(rng() % 3);
        QString path;
        for (int c = 0; c < depth - 1; ++c)
            path += QString::fromUtf8(folders[rng() % std::size(folders)]) + QLatin1Char('/');
        path += QString::fromUtf8(stems[rng() % std::size(stems)]) + QLatin1Char('_') + QString::number(i) +
                QLatin1String(extensions[rng() % std::size(extensions)]);
        SyncIndexEntry entry;
        entry.size = qint64(rng() % (qint64(1) << 32));
        const qint64 modifiedMs = base + qint64(rng() % (qint64(4) * 365 * 86400000));
        const qint64 modifiedNs = modifiedMs * 1'000'000 + qint64(rng() % 1'000'000);
        entry.stamp = norvela::FileStamp{entry.size, modifiedNs, modifiedNs + qint64(rng() % 1'000'000'000)};
        entry.contentHash = hexString(rng, 64);
        entry.rev = hexString(rng, 9 + int(rng() % 25));
        entry.syncedAt = QDateTime::fromMSecsSinceEpoch(modifiedMs, Qt::UTC).addSecs(qint64(rng() % 86400));
        entries.insert(path, entry);
    }
    return entries;
}

QByteArray encodeWithQJsonDocument(const SyncIndex::Entries& entries) {
    static const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QJsonObject files;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        QJsonObject object;
        object.insert(QLatin1String("size"), it->size);
        object.insert(QLatin1String("mtimeNs"), it->stamp->mtimeNs);
        object.insert(QLatin1String("ctimeNs"), it->stamp->ctimeNs);
        object.insert(QLatin1String("contentHash"), it->contentHash);
        if (it->rev)
            object.insert(QLatin1String("rev"), *it->rev);
        object.insert(QLatin1String("syncedAt"), (it->syncedAt.toMSecsSinceEpoch() - reference) / 1000.0);
        files.insert(it.key(), object);
    }
    const QJsonObject owner{{QLatin1String("uid"), QString()}, {QLatin1String("email"), QString()}};
    const QJsonObject root{
        {QLatin1String("format"), 2}, {QLatin1String("owner"), owner}, {QLatin1String("files"), files}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int entryCount = 25000;
    int sets = 80;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--entries"))
            entryCount = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--sets"))
            sets = std::max(1, std::atoi(argv[i + 1]));
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    qputenv("NORVELA_APP_SUPPORT_DIR", dir.path().toUtf8());

    const SyncIndex::Entries entries = makeEntries(entryCount);
    const QByteArray encoded = SyncIndex::encode(entries);
    if (SyncIndex::decode(encoded) != entries ||
        SyncIndex::decode(encodeWithQJsonDocument(entries)) != entries) {
        std::fprintf(stderr, "encode/decode round trip lost data\n");
        return 1;
    }

    // Seed the file directly; building it with 25,000 set() calls would rewrite it each time.
    const QString folder = QStringLiteral("bench-account");
    const QString file = SyncIndex(folder).fileURL();
    if (!norvela::AtomicFile::write(file, encoded)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }

    const std::vector<double> loadMs = timeRuns(15, [&](int) {
        SyncIndex loaded(folder);
        if (loaded.entries().size() != entries.size())
            std::fprintf(stderr, "load lost entries\n");
    });

    SyncIndex index(folder);
    const QStringList paths = entries.keys();
    // As after an upload: an existing path gets a fresh record.
    auto upload = [&](int i) {
        const QString& path = paths[(i * 7919) % paths.size()];
        SyncIndexEntry entry = index.entries().value(path);
        entry.size += 1;
        entry.syncedAt = entry.syncedAt.addMSecs(1500);
        index.set(path, entry);
    };
    const std::vector<double> setMs = timeRuns(sets, upload);
    if (SyncIndex(folder).entries() != index.entries()) {
        std::fprintf(stderr, "the persisted index differs from the one in memory\n");
        return 1;
    }

    // Folds as at the end of a batch, each after a few sets, with one more set while the
    // fold is being written (as an upload finishing then would).
    std::vector<double> beginMs, runMs, setDuringMs;
    for (int i = 0; i < 15; ++i) {
        for (int j = 0; j < 5; ++j)
            upload(sets + 6 * i + j);
        std::optional<SyncIndex::Fold> fold;
        beginMs.push_back(timeRuns(1, [&](int) { fold = index.beginFold(); })[0]);
        setDuringMs.push_back(timeRuns(1, [&](int) { upload(sets + 6 * i + 5); })[0]);
        bool written = false;
        runMs.push_back(timeRuns(1, [&](int) { written = fold->run(); })[0]);
        fold.reset();
        index.endFold(written);
    }
    QFile written(file);
    if (!written.open(QIODevice::ReadOnly) || SyncIndex::decode(written.readAll()) == index.entries()) {
        std::fprintf(stderr, "the set made during the last fold is in the file\n");
        return 1;
    }
    if (SyncIndex(folder).entries() != index.entries()) {
        std::fprintf(stderr, "a set made during a fold was lost\n");
        return 1;
    }

    // Reference numbers, interleaved so load drifts hit each side alike.
    std::vector<double> oursEncodeMs, qjsonEncodeMs, unsyncedWriteMs, syncedWriteMs;
    const QByteArray current = SyncIndex::encode(index.entries());
    for (int i = 0; i < 21; ++i) {
        oursEncodeMs.push_back(timeRuns(1, [&](int) { SyncIndex::encode(index.entries()); })[0]);
        qjsonEncodeMs.push_back(timeRuns(1, [&](int) { encodeWithQJsonDocument(index.entries()); })[0]);
        for (const auto durability :
             {norvela::AtomicFile::Durability::Unsynced, norvela::AtomicFile::Durability::Synced}) {
            auto& times =
                durability == norvela::AtomicFile::Durability::Synced ? syncedWriteMs : unsyncedWriteMs;
            times.push_back(
                timeRuns(1, [&](int) { norvela::AtomicFile::write(file, current, 0600, durability); })[0]);
        }
    }
    const std::vector<double> decodeMs = timeRuns(15, [&](int) { SyncIndex::decode(encoded); });

    // A first sync killed before its batch ended: every entry is in the journal alone.
    const QString cutShort = QStringLiteral("bench-cut-short");
    {
        SyncIndex journaled(cutShort);
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
            journaled.set(it.key(), it.value());
    }
    const std::vector<double> replayMs = timeRuns(5, [&](int) {
        if (SyncIndex(cutShort).entries().size() != entries.size())
            std::fprintf(stderr, "the journal lost entries\n");
    });

    std::printf("index: %lld entries, %.1f MB\n", static_cast<long long>(entries.size()),
                encoded.size() / 1e6);
    std::printf(
        "set, journaled (%d runs):      median %7.3f ms  worst %7.3f ms  (target median <= %.0f ms: %s)\n",
        sets, median(setMs), worst(setMs), targetMedianMs,
        median(setMs) <= targetMedianMs ? "met" : "MISSED");
    std::printf("fold, snapshot (main thread): median %7.3f ms  worst %7.3f ms\n", median(beginMs),
                worst(beginMs));
    std::printf("fold, a set meanwhile:        median %7.3f ms  worst %7.3f ms  (main thread)\n",
                median(setDuringMs), worst(setDuringMs));
    std::printf("fold, writing (pool):         median %7.2f ms  worst %7.2f ms\n", median(runMs),
                worst(runMs));
    std::printf("encode, ours:                  median %7.2f ms\n", median(oursEncodeMs));
    std::printf("encode, QJsonDocument:         median %7.2f ms  (ratio ours/QJsonDocument %.3f)\n",
                median(qjsonEncodeMs), median(oursEncodeMs) / median(qjsonEncodeMs));
    std::printf("atomic write, no fsync:        median %7.2f ms  worst %7.2f ms\n", median(unsyncedWriteMs),
                worst(unsyncedWriteMs));
    std::printf("atomic write with fsync:       median %7.2f ms  worst %7.2f ms  (for reference)\n",
                median(syncedWriteMs), worst(syncedWriteMs));
    std::printf("load (read + decode):          median %7.2f ms  worst %7.2f ms  (file in page cache)\n",
                median(loadMs), worst(loadMs));
    std::printf("decode only:                   median %7.2f ms\n", median(decodeMs));
    std::printf("load from a journal alone:     median %7.2f ms  worst %7.2f ms  (%lld lines)\n",
                median(replayMs), worst(replayMs), static_cast<long long>(entries.size()));
    return 0;
}
