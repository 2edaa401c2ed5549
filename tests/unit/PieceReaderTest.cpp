#include "cloud/PieceReader.h"
#include "common/NorvelaError.h"
#include "support/TestSupport.h"
#include "sync/LocalFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace norvela;
using norvela::test::await;

namespace {

class PieceReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<const LocalFile> open(const QByteArray& content) {
        QFile file(dir.filePath("data"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        return std::get<std::shared_ptr<const LocalFile>>(LocalFile::open(dir.path(), "data"));
    }

    QTemporaryDir dir;
};

QByteArray numbered(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

} // namespace

// Pieces come out as asked whether the piece read ahead fits the request or not (the service
// took less than was sent, a retry asks for the same piece again), and a piece the caller
// keeps never changes under it while the reader reuses memory for later ones. Small pieces
// are read in place, large ones on the pool.
TEST_F(PieceReaderTest, EveryPieceHoldsItsBytesWhateverIsAskedNext) {
    for (const qint64 p : {1000, 100 * 1000}) {
        SCOPED_TRACE(p);
        const QByteArray content = numbered(int(10 * p + 123));
        PieceReader reader(open(content));

        const QByteArray first = await(reader.read(0, p));
        EXPECT_EQ(first, content.mid(0, p));
        QByteArray kept = await(reader.read(p, p)); // the piece read ahead
        EXPECT_EQ(kept, content.mid(p, p));
        EXPECT_EQ(await(reader.read(p + p / 2, p)), content.mid(p + p / 2, p)); // less was taken
        EXPECT_EQ(await(reader.read(p + p / 2, p)), content.mid(p + p / 2, p)); // the same again
        for (qint64 at = 2 * p + p / 2; at < content.size(); at += p) {
            EXPECT_EQ(await(reader.read(at, p)), content.mid(at, p)) << at;
            EXPECT_EQ(first, content.mid(0, p));
            EXPECT_EQ(kept, content.mid(p, p));
        }
        EXPECT_EQ(await(reader.read(content.size(), p)), QByteArray()); // past the end
    }
}

// What is read is the file as it is when the piece is read: one that shrank ends early, and a
// read that fails names the file.
TEST_F(PieceReaderTest, AShrunkenFileEndsEarlyAndAFailedReadNamesTheFile) {
    const QByteArray content = numbered(4000);
    const auto file = open(content);
    PieceReader reader(file);
    EXPECT_EQ(await(reader.read(0, 1500)), content.left(1500));
    ASSERT_TRUE(QFile::resize(dir.filePath("data"), 2000));
    // The piece read ahead may hold bytes from before the cut; a piece asked for afresh cannot.
    EXPECT_EQ(await(reader.read(1000, 1500)), content.mid(1000, 1000));
    EXPECT_EQ(await(reader.read(2000, 1500)), QByteArray());

    const auto unreadable = open(content);
    // Its descriptor now leads to a folder, which cannot be read as a file.
    const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(::dup2(folder, unreadable->descriptor()), 0);
    ::close(folder);
    PieceReader failing(unreadable);
    try {
        await(failing.read(0, 100));
        FAIL() << "a failed read went unnoticed";
    } catch (const NorvelaError& e) {
        EXPECT_TRUE(e.description().contains(unreadable->path())) << e.what();
    }
}
