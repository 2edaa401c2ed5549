#include "cli/Cli.h"
#include "TestSupport.h"
#include "auth/CloudTokenStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

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

TEST(Cli, VersionHelpAndUsageErrors) {
    EXPECT_EQ(norvelaCli({"--version"}).out, QStringLiteral("norvela " NORVELA_VERSION "\n"));
    const Result help = norvelaCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("hash dropbox|md5 FILE..."));
    EXPECT_EQ(norvelaCli({}).status, 2);
    const Result unknown = norvelaCli({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.contains("frobnicate"));
    EXPECT_EQ(norvelaCli({"hash", "sha1", "x"}).status, 2);
    EXPECT_EQ(norvelaCli({"hash", "md5"}).status, 2);
}

TEST(Cli, HashPrintsLikeSha256sumAndNamesUnreadableFiles) {
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty file");
    test::writeFile(empty, {});
    const Result ok = norvelaCli({"hash", "dropbox", empty});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  " + empty + "\n");

    const QString missing = dir.filePath("missing");
    const Result mixed = norvelaCli({"hash", "md5", empty, missing, dir.path()});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.out, "d41d8cd98f00b204e9800998ecf8427e  " + empty + "\n");
    EXPECT_TRUE(mixed.err.contains(missing + ": No such file or directory"));
    EXPECT_TRUE(mixed.err.contains(dir.path() + ": Is a directory"));
}

TEST(Cli, AccountsListsDropboxFirstWithDashForUnknownEmail) {
    QTemporaryDir support;
    qputenv("NORVELA_APP_SUPPORT_DIR", support.path().toUtf8());
    EXPECT_EQ(norvelaCli({"accounts"}).out, "");

    CloudTokenStore::googleDrive().upsert("g@example.com", "g@example.com", "r1");
    test::writeFile(support.filePath("dropbox-credentials.json"), R"({"refreshToken":"legacy"})");
    CloudTokenStore::dropbox().upsert("dbid:2", "two@example.com", "r2");
    const Result listed = norvelaCli({"accounts"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "dropbox         dropbox  -\n"
                          "dropbox-dbid-2  dropbox  two@example.com\n"
                          "gdrive          gdrive   g@example.com\n");
    qunsetenv("NORVELA_APP_SUPPORT_DIR");
}

TEST(CliScan, ListsSyncingFilesSortedByTheirBytes) {
    Folder folder;
    const Result listed = norvelaCli({"scan", folder.path()});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, QString::fromUtf8("Z.txt\na.txt\nb.txt\ndir/x.txt\né.txt\n"));
    const Result counted = norvelaCli({"scan", "--count", folder.path()});
    EXPECT_EQ(counted.status, 0);
    EXPECT_EQ(counted.out, "5\n");

    // A name that is not UTF-8 never syncs: said, not listed.
    const QByteArray odd = QFile::encodeName(folder.path()) + "/caf\xe9.txt";
    ::close(::open(odd.constData(), O_CREAT | O_WRONLY, 0644));
    const Result withOdd = norvelaCli({"scan", folder.path()});
    EXPECT_EQ(withOdd.out, listed.out);
    EXPECT_EQ(withOdd.err, "norvela: not sent: caf\\xE9.txt (name is not valid UTF-8)\n");
    ::remove(odd.constData());

    const QString missing = folder.dir.filePath("missing");
    const Result failed = norvelaCli({"scan", missing});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "norvela: " + missing + ": No such file or directory\n");
    EXPECT_EQ(norvelaCli({"scan"}).status, 2);
    EXPECT_EQ(norvelaCli({"scan", folder.path(), "other"}).status, 2);
    EXPECT_EQ(norvelaCli({"scan", "--all", folder.path()}).status, 2);

    // Rules that cannot be read give no answer rather than one that ignores nothing.
    QFile::remove(folder.dir.filePath(".mignore"));
    QDir(folder.path()).mkdir(".mignore");
    for (const QStringList& args :
         {QStringList{"scan", folder.path()}, {"check-ignore", folder.path(), "x.tmp"}}) {
        const Result refused = norvelaCli(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, "norvela: " + folder.path() + "/.mignore: is not a regular file\n");
    }
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
