#include "sync/LocalFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace norvela;
using namespace norvela::test;

namespace {

QString failure(const std::variant<std::shared_ptr<const LocalFile>, QString>& opened) {
    const QString* why = std::get_if<QString>(&opened);
    return why ? *why : QString();
}

} // namespace

TEST(LocalFile, OpensOnlyRegularFilesBelowTheRootWithoutFollowingLinks) {
    QTemporaryDir root, outside;
    writeFile(outside.filePath("secret.txt"), "secret");
    QDir(root.path()).mkpath("docs");
    writeFile(root.filePath("docs/plan.txt"), "plan");
    ASSERT_EQ(::symlink(qPrintable(outside.filePath("secret.txt")), qPrintable(root.filePath("link.txt"))),
              0);
    ASSERT_EQ(::symlink(qPrintable(outside.path()), qPrintable(root.filePath("away"))), 0);
    ASSERT_EQ(::symlink(qPrintable(root.filePath("docs")), qPrintable(root.filePath("docs2"))), 0);
    ASSERT_EQ(::mkfifo(qPrintable(root.filePath("pipe")), 0600), 0);

    const auto plan = LocalFile::open(root.path(), "docs/plan.txt");
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const LocalFile>>(plan))
        << failure(plan).toStdString();
    const auto& file = std::get<std::shared_ptr<const LocalFile>>(plan);
    char buffer[16] = {};
    EXPECT_EQ(file->read(1, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "lan");
    EXPECT_EQ(file->size(), 4);

    // A link anywhere below the root, even one that stays inside, is never followed; a FIFO
    // is refused without waiting for a writer.
    for (const char* refused :
         {"link.txt", "away/secret.txt", "docs2/plan.txt", "../x", "docs/../docs/plan.txt"})
        EXPECT_FALSE(failure(LocalFile::open(root.path(), refused)).isEmpty()) << refused;
    EXPECT_EQ(failure(LocalFile::open(root.path(), "pipe")), "is not a regular file");
    EXPECT_EQ(failure(LocalFile::open(root.path(), "docs")), "is not a regular file");
    EXPECT_FALSE(failure(LocalFile::open(root.path(), "gone.txt")).isEmpty());
}

TEST(LocalFile, NoticesAWriteThroughAnyPathAfterOpening) {
    QTemporaryDir root;
    writeFile(root.filePath("a.txt"), "same");
    const auto file = std::get<std::shared_ptr<const LocalFile>>(LocalFile::open(root.path(), "a.txt"));
    EXPECT_FALSE(file->changedSinceOpen());

    // Same size, same modification time put back: the change time still moves.
    struct stat before {};
    ASSERT_EQ(::stat(qPrintable(root.filePath("a.txt")), &before), 0);
    QFile f(root.filePath("a.txt"));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.write("SAME");
    f.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, qPrintable(root.filePath("a.txt")), times, 0), 0);
    EXPECT_TRUE(file->changedSinceOpen());
}
