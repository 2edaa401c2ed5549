#include "sync/FolderScanner.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace norvela;

namespace {

void makeFile(const QString& root, const QString& relative, const QByteArray& data = "x") {
    QDir(root).mkpath(QFileInfo(relative).path());
    test::writeFile(root + "/" + relative, data);
}

QStringList relativePaths(const QList<ScannedFile>& files) {
    QStringList paths;
    for (const ScannedFile& file : files)
        paths << file.relativePath;
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

TEST(FolderScanner, ReturnsOnlyVisibleRegularFilesTheRulesKeep) {
    QTemporaryDir dir;
    const QString root = dir.path();
    makeFile(root, "keep.txt", "12345");
    // A directory named like the icon file is still entered.
    for (const char* name : {"a/b/c.txt", ".hidden", ".DS_Store", "Icon\r", ".git/config", "x.tmp",
                             "src/node_modules/x/y.js", "build/keep.txt", "a/Icon\r/inside.txt"})
        makeFile(root, name);
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ::utimensat(AT_FDCWD, QFile::encodeName(root + "/keep.txt").constData(), times, 0);
    QFile::link(root + "/keep.txt", root + "/link-to-file");
    QFile::link(root + "/a", root + "/link-to-dir");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe").constData(), 0600), 0);

    const MignoreRules rules({"*.tmp", "node_modules/", "build/", "!build/keep.txt"});
    const QList<ScannedFile> files = FolderScanner::scan(root, &rules);
    EXPECT_EQ(relativePaths(files), QStringList({"a/Icon\r/inside.txt", "a/b/c.txt", "keep.txt"}));

    const auto keep =
        std::find_if(files.begin(), files.end(), [](auto& f) { return f.relativePath == "keep.txt"; });
    ASSERT_NE(keep, files.end());
    EXPECT_EQ(keep->path, root + "/keep.txt");
    EXPECT_EQ(keep->size, 5);
    EXPECT_EQ(keep->mtime, QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC));
    EXPECT_EQ(keep->mtime.timeSpec(), Qt::UTC);

    EXPECT_EQ(relativePaths(FolderScanner::scan(root, nullptr)),
              QStringList({"a/Icon\r/inside.txt", "a/b/c.txt", "build/keep.txt", "keep.txt",
                           "src/node_modules/x/y.js", "x.tmp"}));
}

// inotify reports every opening of a watched directory, so a pruned one must stay silent.
TEST(FolderScanner, NeverOpensAnIgnoredDirectory) {
    QTemporaryDir dir;
    makeFile(dir.path(), "cache/deep/file.bin");
    makeFile(dir.path(), "docs/a.md");
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify, 0);
    const int pruned =
        ::inotify_add_watch(inotify, QFile::encodeName(dir.filePath("cache")).constData(), IN_OPEN);
    const int walked =
        ::inotify_add_watch(inotify, QFile::encodeName(dir.filePath("docs")).constData(), IN_OPEN);

    const MignoreRules rules({"/cache"});
    EXPECT_EQ(relativePaths(FolderScanner::scan(dir.path(), &rules)), QStringList({"docs/a.md"}));

    alignas(inotify_event) char buffer[4096];
    bool sawPruned = false, sawWalked = false;
    for (ssize_t n; (n = ::read(inotify, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            sawPruned = sawPruned || event->wd == pruned;
            sawWalked = sawWalked || event->wd == walked;
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(inotify);
    EXPECT_FALSE(sawPruned);
    EXPECT_TRUE(sawWalked);
}

TEST(FolderScanner, RootsThatAreMissingLinkedOrUnusual) {
    QTemporaryDir dir;
    EXPECT_TRUE(FolderScanner::scan(dir.filePath("missing"), nullptr).isEmpty());
    EXPECT_TRUE(FolderScanner::scan(QString(), nullptr).isEmpty());

    makeFile(dir.filePath("real"), "sub/f.txt");
    QFile::link(dir.filePath("real"), dir.filePath("alias"));
    const QList<ScannedFile> linked = FolderScanner::scan(dir.filePath("alias") + "/sub/..", nullptr);
    ASSERT_EQ(linked.size(), 1);
    EXPECT_EQ(linked[0].relativePath, "sub/f.txt");
    EXPECT_EQ(linked[0].path, dir.filePath("alias/sub/f.txt")); // the link is kept, not resolved

    const QByteArray latin1 = QFile::encodeName(dir.filePath("real")) + "/caf\xe9.txt";
    const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(relativePaths(FolderScanner::scan(dir.filePath("real"), nullptr)),
              QStringList({QFile::decodeName("caf\xe9.txt"), "sub/f.txt"}));
    ::unlink(latin1.constData()); // its decoded name leads nowhere, so QTemporaryDir could not remove it
}

TEST(FolderScanner, SkipsAnUnreadableFolderAndGoesOn) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    QTemporaryDir dir;
    makeFile(dir.path(), "locked/secret.txt");
    makeFile(dir.path(), "open.txt");
    ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0);
    EXPECT_EQ(relativePaths(FolderScanner::scan(dir.path(), nullptr)), QStringList({"open.txt"}));
    ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0700);
}
