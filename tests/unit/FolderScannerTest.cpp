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
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(root + "/keep.txt").constData(), &st), 0);
    EXPECT_EQ(keep->stamp, (FileStamp{5, 1700000000123456789, FileStamp::of(st).ctimeNs}));

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
}

// A name that is not UTF-8 would be decoded into another name (U+FFFD for the odd bytes),
// which leads nowhere and fails at the service: such names are reported instead.
TEST(FolderScanner, ReportsNamesNoServiceTakesInsteadOfListingThem) {
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    makeFile(dir.path(), "fine/caf\u00e9.txt"); // UTF-8 proper
    ASSERT_EQ(::mkdir((root + "/Ordner \xc4").constData(), 0700), 0);
    for (const QByteArray& name : {QByteArray("fine/caf\xe9.txt"), QByteArray("ignored\xff.tmp"),
                                   QByteArray("Ordner \xc4/never walked.txt")}) {
        const int fd = ::open((root + "/" + name).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, "abc", 3), 3);
        ::close(fd);
    }

    const MignoreRules rules({"*.tmp"});
    QList<UnsendableName> unsendable;
    EXPECT_EQ(relativePaths(FolderScanner::scan(dir.path(), &rules, &unsendable)),
              QStringList({QString::fromUtf8("fine/caf\u00e9.txt")}));
    std::sort(unsendable.begin(), unsendable.end(),
              [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    ASSERT_EQ(unsendable.size(), 2);
    EXPECT_EQ(unsendable[0].relativePath, "Ordner \\xC4");
    EXPECT_EQ(unsendable[1].relativePath, "fine/caf\\xE9.txt");
    EXPECT_EQ(unsendable[1].reason, "name is not valid UTF-8");
    EXPECT_EQ(unsendable[1].stamp.size, 3);

    // Without a list to report to they are still left out.
    EXPECT_EQ(FolderScanner::scan(dir.path(), &rules).size(), 1);
    for (const QByteArray& name : {QByteArray("fine/caf\xe9.txt"), QByteArray("ignored\xff.tmp"),
                                   QByteArray("Ordner \xc4/never walked.txt"), QByteArray("Ordner \xc4")})
        ::remove((root + "/" + name).constData()); // their decoded names lead nowhere for QTemporaryDir
}

TEST(FolderScanner, NameProblemsAtTheirBoundaries) {
    EXPECT_EQ(FolderScanner::nameProblem(QByteArray(255, 'a')), std::nullopt);
    EXPECT_EQ(FolderScanner::nameProblem(QByteArray(256, 'a')), "name is longer than 255 bytes");
    EXPECT_EQ(FolderScanner::nameProblem(QByteArray(85, 'x').replace("x", "\xe6\x97\xa5")), std::nullopt);
    // Overlong forms and UTF-16 surrogates are not UTF-8 either, however they decode.
    for (const char* bad : {"\xc0\xaf", "a\xed\xa0\x80", "\xf8\x88\x80\x80\x80", "trail\xe6\x97"})
        EXPECT_EQ(FolderScanner::nameProblem(bad), "name is not valid UTF-8") << bad;
    EXPECT_EQ(FolderScanner::displayName("a\xe6\x97\xa5\xff\xc3"), QString::fromUtf8("a\u65e5\\xFF\\xC3"));
    EXPECT_EQ(FolderScanner::displayName("\xed\xa0\x80"), "\\xED\\xA0\\x80");
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
