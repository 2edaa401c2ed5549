#include "cli/Cli.h"
#include "TestSupport.h"
#include "auth/CloudTokenStore.h"

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
