#include "common/AppSupport.h"

#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace norvela;

namespace {

void setMode(const QString& path, int mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

// A fresh data home, and the permissive umask under which private files must stay private.
struct AppSupportTest : ::testing::Test {
    void SetUp() override {
        m_previousUmask = ::umask(0);
        m_previousDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    }
    void TearDown() override {
        qputenv("XDG_DATA_HOME", m_previousDataHome);
        qunsetenv("NORVELA_APP_SUPPORT_DIR");
        qunsetenv("NORVELA_DUMP_STATE");
        ::umask(m_previousUmask);
    }

    QTemporaryDir root;
    QString dataHome = root.path() + "/data/share";

private:
    mode_t m_previousUmask = 022;
    QByteArray m_previousDataHome;
};

} // namespace

TEST_F(AppSupportTest, DataFoldersAreCreatedOwnerOnlyAndTightenedWhenFoundOpen) {
    const QString dir = AppSupport::devHookDirectory();
    EXPECT_EQ(dir, dataHome + "/Norvela");
    EXPECT_EQ(test::fileMode(dir), 0700);
    EXPECT_EQ(test::fileMode(dataHome), 0700); // folders made on the way too
    EXPECT_EQ(test::fileMode(root.path() + "/data"), 0700);

    setMode(dir, 0755);
    EXPECT_EQ(AppSupport::dataDirectory(), dir);
    EXPECT_EQ(test::fileMode(dir), 0700);

    const QString relocated = root.path() + "/elsewhere";
    qputenv("NORVELA_APP_SUPPORT_DIR", relocated.toUtf8());
    EXPECT_EQ(AppSupport::dataDirectory(), relocated);
    EXPECT_EQ(test::fileMode(relocated), 0700);
    setMode(relocated, 0777);
    AppSupport::dataDirectory();
    EXPECT_EQ(test::fileMode(relocated), 0700);
    // A path that is not a folder is left alone.
    test::writeFile(root.path() + "/file", "x");
    setMode(root.path() + "/file", 0644);
    AppSupport::ensurePrivateDirectory(root.path() + "/file");
    EXPECT_EQ(test::fileMode(root.path() + "/file"), 0644);
}

TEST_F(AppSupportTest, DiagnosticFilesAndBreadcrumbsAreOwnerOnly) {
    const QString dir = AppSupport::devHookDirectory();
    AppSupport::writeDiagnosticFile("auth-url.txt", "https://example.com/?state=secret");
    EXPECT_EQ(test::readFile(dir + "/auth-url.txt"), "https://example.com/?state=secret");
    EXPECT_EQ(test::fileMode(dir + "/auth-url.txt"), 0600);
    setMode(dir + "/auth-url.txt", 0644);
    AppSupport::writeDiagnosticFile("auth-url.txt", "again");
    EXPECT_EQ(test::fileMode(dir + "/auth-url.txt"), 0600);

    AppSupport::breadcrumb("not recorded");
    EXPECT_FALSE(QFile::exists(dir + "/breadcrumbs.txt"));
    qputenv("NORVELA_DUMP_STATE", "1");
    AppSupport::breadcrumb("first");
    EXPECT_EQ(test::fileMode(dir + "/breadcrumbs.txt"), 0600);
    setMode(dir + "/breadcrumbs.txt", 0644); // as an older version left it
    AppSupport::breadcrumb("second");
    EXPECT_EQ(test::readFile(dir + "/breadcrumbs.txt"), "first\nsecond\n");
    EXPECT_EQ(test::fileMode(dir + "/breadcrumbs.txt"), 0600);
}
