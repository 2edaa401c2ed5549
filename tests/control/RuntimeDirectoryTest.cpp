#include "control/RuntimeDirectory.h"
#include "RuntimeDirFixture.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace norvela;

using RuntimeDirectoryTest = RuntimeDirFixture;

TEST_F(RuntimeDirectoryTest, CreatesAPrivateFolderAndTightensALooseOne) {
    const mode_t oldMask = ::umask(0);
    const auto created = RuntimeDirectory::ensure();
    ::umask(oldMask);
    ASSERT_TRUE(created);
    EXPECT_EQ(*created, runtimePath());
    EXPECT_EQ(test::fileMode(runtimePath()), 0700);

    ASSERT_EQ(::chmod(QFile::encodeName(runtimePath()).constData(), 0755), 0);
    QString error;
    EXPECT_EQ(RuntimeDirectory::ensure(&error), runtimePath()) << error.toStdString();
    EXPECT_EQ(test::fileMode(runtimePath()), 0700);
}

TEST_F(RuntimeDirectoryTest, RefusesASymlinkOrAFileInItsPlace) {
    const QString elsewhere = xdgPath() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, runtimePath()));
    QString error;
    EXPECT_FALSE(RuntimeDirectory::ensure(&error));
    EXPECT_TRUE(error.contains(runtimePath())) << error.toStdString();
    EXPECT_TRUE(QFileInfo(runtimePath()).isSymLink());

    ASSERT_TRUE(QFile::remove(runtimePath()));
    QFile file(runtimePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    error.clear();
    EXPECT_FALSE(RuntimeDirectory::ensure(&error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(RuntimeDirectoryTest, RefusesAFolderOfAnotherUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a folder to another user";
    ASSERT_TRUE(QDir().mkdir(runtimePath()));
    ASSERT_EQ(::chown(QFile::encodeName(runtimePath()).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(runtimePath()).constData(), 0777), 0);
    QString error;
    EXPECT_FALSE(RuntimeDirectory::ensure(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("another user"))) << error.toStdString();
    EXPECT_EQ(test::fileMode(runtimePath()), 0777); // left as it was
}

TEST_F(RuntimeDirectoryTest, FallsBackToTmpWhenXdgRuntimeDirIsUnusable) {
    const QString fallback = QStringLiteral("/tmp/norvela-%1").arg(::geteuid());
    for (const char* value : {"", "relative/dir", "/nonexistent/runtime"}) {
        qputenv("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(RuntimeDirectory::ensure(), fallback) << value;
    }
    EXPECT_EQ(test::fileMode(fallback), 0700);
}
