#include "TestSupport.h"
#include "cli/Cli.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;

namespace {

struct Result {
    int status;
    QString out;
    QString err;
};

Result norvelaCli(const QStringList& args) {
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int status = test::await(cli::run(args, {outStream, errStream}));
    outStream.flush();
    errStream.flush();
    return {status, out, err};
}

// A folder with a .mignore of "*.tmp" and "build/", and files on both sides of it.
struct Folder {
    QTemporaryDir dir;
    Folder() {
        for (const char* name : {"b.txt", "a.txt", "Z.txt", "é.txt", "dir/x.txt", "skip.tmp", "build/out.o",
                                 "cache.tmp/in.txt", ".hidden"}) {
            const QString path = dir.filePath(QString::fromUtf8(name));
            QDir().mkpath(QFileInfo(path).path());
            test::writeFile(path, "x");
        }
        test::writeFile(dir.filePath(".mignore"), "*.tmp\nbuild/\n");
    }
    QString path() const { return dir.path(); }
};

} // namespace

TEST(CliScan, ListsSyncingFilesSortedByTheirBytes) {
    Folder folder;
    const Result listed = norvelaCli({"scan", folder.path()});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, QString::fromUtf8("Z.txt\na.txt\nb.txt\ndir/x.txt\né.txt\n"));
    const Result counted = norvelaCli({"scan", "--count", folder.path()});
    EXPECT_EQ(counted.status, 0);
    EXPECT_EQ(counted.out, "5\n");

    const QString missing = folder.dir.filePath("missing");
    const Result failed = norvelaCli({"scan", missing});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "norvela: " + missing + ": No such file or directory\n");
    EXPECT_EQ(norvelaCli({"scan"}).status, 2);
    EXPECT_EQ(norvelaCli({"scan", folder.path(), "other"}).status, 2);
    EXPECT_EQ(norvelaCli({"scan", "--all", folder.path()}).status, 2);
}

TEST(CliScan, CheckIgnoreAnswersWhetherEachPathWouldSync) {
    Folder folder;
    const QString root = folder.path();
    const Result some =
        norvelaCli({"check-ignore", root, "a.txt", "new.tmp", "build/out.o", "build", "dir/build",
                    "dir/build/", "cache.tmp/in.txt", "./dir/../skip.tmp", root + "/b.tmp", "dir"});
    EXPECT_EQ(some.status, 0);
    // "dir/build" does not exist, so it is tested as a file, which "build/" never matches.
    EXPECT_EQ(some.out, "new.tmp\nbuild/out.o\nbuild\ndir/build/\ncache.tmp/in.txt\n./dir/../skip.tmp\n" +
                            root + "/b.tmp\n");

    const Result none = norvelaCli({"check-ignore", root, "a.txt", "dir/x.txt"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");

    const Result missing = norvelaCli({"check-ignore", root + "/missing", "x.tmp"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(root + "/missing"));
    EXPECT_EQ(norvelaCli({"check-ignore", root}).status, 2);
    EXPECT_EQ(norvelaCli({"check-ignore", root, "../x.tmp"}).status, 2);
    EXPECT_TRUE(norvelaCli({"check-ignore", "--help"}).out.contains("Exit status"));
}
