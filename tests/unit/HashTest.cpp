#include "cloud/DropboxContentHash.h"
#include "cloud/DropboxFileHasher.h"
#include "cloud/MD5FileHasher.h"
#include "sync/LocalFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <latch>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace norvela {
namespace {

constexpr qsizetype block = 4 * 1024 * 1024;
const QString emptySha256 =
    QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
const QString emptyMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");

// Worked out here from whole-buffer digests, independently of the block reader.
QString referenceContentHash(const QByteArray& data) {
    QCryptographicHash overall(QCryptographicHash::Sha256);
    for (qsizetype at = 0; at < data.size(); at += block)
        overall.addData(QCryptographicHash::hash(data.mid(at, block), QCryptographicHash::Sha256));
    return QString::fromLatin1(overall.result().toHex());
}

QString referenceMd5(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QByteArray pseudoRandom(qsizetype size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return data;
}

class HashTest : public ::testing::Test {
protected:
    // Written in odd-sized pieces so no write ends on a block boundary.
    QString write(const QString& name, const QByteArray& data) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        for (qsizetype at = 0; at < data.size(); at += 1'000'003)
            EXPECT_GT(file.write(data.constData() + at, std::min<qsizetype>(1'000'003, data.size() - at)), 0);
        return file.fileName();
    }

    QTemporaryDir dir;
    DropboxFileHasher dropbox;
    MD5FileHasher md5;
};

TEST_F(HashTest, MatchesReferenceAroundBlockBoundaries) {
    for (const qsizetype size : {qsizetype(0), qsizetype(1), block - 1, block, block + 1, 2 * block,
                                 2 * block + block / 2 + 12'345}) {
        SCOPED_TRACE(size);
        const QByteArray data = pseudoRandom(size, quint32(size));
        const QString path = write(QStringLiteral("data"), data);
        EXPECT_EQ(DropboxContentHash::hash(path), referenceContentHash(data));
        EXPECT_EQ(md5.hash(path), referenceMd5(data));
    }
}

// A published vector, so the reference above cannot share a misreading of the scheme.
TEST_F(HashTest, KnownVector) {
    // Two blocks, the second a single byte.
    const QString as = write(QStringLiteral("as"), QByteArray(block + 1, 'A'));
    EXPECT_EQ(dropbox.hash(as),
              QStringLiteral("8f553da8d00d0bf509d8470e242888be33019c20c0544811f5b2b89e98360b92"));
}

// Missing, a folder, no path, unreadable, or a FIFO (without waiting for a writer).
TEST_F(HashTest, NothingForWhatCannotBeOpenedAsAFile) {
    QStringList refused{dir.filePath(QStringLiteral("missing")), dir.path(), QString()};
    if (::geteuid() != 0) { // root reads files whatever their permissions
        refused << write(QStringLiteral("locked"), "secret");
        ASSERT_TRUE(QFile::setPermissions(refused.last(), {}));
    }
    for (const QString& path : refused) {
        EXPECT_EQ(dropbox.hash(path), std::nullopt) << path.toStdString();
        EXPECT_EQ(md5.hash(path), std::nullopt) << path.toStdString();
    }
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto hashing =
        std::async(std::launch::async, [&] { return std::pair(dropbox.hash(fifo), md5.hash(fifo)); });
    if (hashing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the stuck reader go before failing, so the test ends.
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        ::close(writer);
        FAIL() << "hashing a FIFO waited for a writer";
    }
    EXPECT_EQ(hashing.get(), std::pair(std::optional<QString>(), std::optional<QString>()));
}

// What would be uploaded: the opened file from its start, through its own descriptor, even
// when the upload moved the descriptor's position and the path now leads to another file.
TEST_F(HashTest, AnOpenedFileHashesWhatItHoldsNotWhatItsPathLeadsTo) {
    const QByteArray data = pseudoRandom(block + 17, 5);
    write(QStringLiteral("data"), data);
    const auto file =
        std::get<std::shared_ptr<const LocalFile>>(LocalFile::open(dir.path(), QStringLiteral("data")));
    ASSERT_EQ(::lseek(file->descriptor(), 1000, SEEK_SET), 1000);
    const QString other = write(QStringLiteral("other"), "swapped in");
    ASSERT_EQ(
        ::rename(QFile::encodeName(other).constData(), QFile::encodeName(dir.filePath("data")).constData()),
        0);

    EXPECT_EQ(dropbox.hash(*file), referenceContentHash(data));
    EXPECT_EQ(md5.hash(*file), referenceMd5(data));
    EXPECT_EQ(dropbox.hash(*file), referenceContentHash(data)); // again: nothing was consumed
    EXPECT_EQ(md5.hash(dir.filePath("data")), referenceMd5("swapped in"));
}

// A read that fails ends the file like end-of-file does: a hash of what came before, here
// nothing. Reading our own memory at address 0 opens fine and then fails on the first read.
TEST_F(HashTest, ReadFailureEndsTheInput) {
    const int fd = ::open("/proc/self/mem", O_RDONLY);
    if (fd < 0)
        GTEST_SKIP() << "no /proc/self/mem";
    ::close(fd);
    EXPECT_EQ(dropbox.hash(QStringLiteral("/proc/self/mem")), emptySha256);
    EXPECT_EQ(md5.hash(QStringLiteral("/proc/self/mem")), emptyMd5);
}

TEST_F(HashTest, SameAnswersFromManyThreadsAtOnce) {
    struct Case {
        QString path, contentHash, md5;
    };
    std::vector<Case> cases;
    for (const qsizetype size : {qsizetype(100), block + 1, 2 * block + block / 2}) {
        const QByteArray data = pseudoRandom(size, quint32(size) * 7);
        cases.push_back({write(QString::number(size), data), referenceContentHash(data), referenceMd5(data)});
    }
    constexpr int threadCount = 4;
    std::latch start(threadCount);
    std::atomic<int> mismatches = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int round = 0; round < 3; ++round)
                for (size_t i = 0; i < cases.size(); ++i) {
                    const Case& c = cases[(i + size_t(t)) % cases.size()];
                    mismatches += dropbox.hash(c.path) != c.contentHash;
                    mismatches += md5.hash(c.path) != c.md5;
                }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}

} // namespace
} // namespace norvela
