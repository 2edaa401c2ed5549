#include "control/InstanceLock.h"
#include "RuntimeDirFixture.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace norvela;
using namespace norvela::test;

namespace {

// The lock holder helper, started and waited on until it says what it got.
class Holder {
public:
    Holder() {
        m_process.start(QStringLiteral(NORVELA_LOCK_HOLDER), {});
        EXPECT_TRUE(waitFor([this] { return m_process.canReadLine() || finished(); }));
        m_line = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~Holder() {
        if (!finished()) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString line() const { return m_line; }
    pid_t pid() const { return pid_t(m_process.processId()); }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    int exitCode() const { return m_process.exitCode(); }
    // Lets it end by itself: it exits when its stdin closes.
    void release() { m_process.closeWriteChannel(); }
    void kill() { ::kill(pid(), SIGKILL); }

private:
    QProcess m_process;
    QString m_line;
};

} // namespace

using InstanceLockTest = RuntimeDirFixture;

TEST_F(InstanceLockTest, AnotherProcessHoldsItUntilItExitsOrIsKilled) {
    EXPECT_EQ(InstanceLock::holder(), std::nullopt);
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "exited");
        Holder holder;
        ASSERT_EQ(holder.line(), QStringLiteral("held %1").arg(holder.pid()));

        auto second = InstanceLock::acquire();
        const auto* held = std::get_if<InstanceLock::Held>(&second);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->pid, holder.pid());
        EXPECT_EQ(InstanceLock::holder(), holder.pid());

        killed ? holder.kill() : holder.release();
        ASSERT_TRUE(waitFor([&] { return holder.finished(); }));
        EXPECT_EQ(InstanceLock::holder(), std::nullopt);
        auto third = InstanceLock::acquire();
        ASSERT_TRUE(std::holds_alternative<InstanceLock>(third));
        EXPECT_EQ(InstanceLock::holder(), ::getpid());
    }
    EXPECT_EQ(fileMode(runtimePath() + "/instance.lock"), 0600);
}

TEST_F(InstanceLockTest, OursBlocksAnotherProcessUntilReleased) {
    {
        auto lock = InstanceLock::acquire();
        ASSERT_TRUE(std::holds_alternative<InstanceLock>(lock));
        // Moving it keeps the lock; only the last owner's end releases it.
        auto moved = std::move(std::get<InstanceLock>(lock));
        lock = QString();

        Holder other;
        EXPECT_EQ(other.line(), QStringLiteral("busy %1").arg(::getpid()));
        ASSERT_TRUE(waitFor([&] { return other.finished(); }));
        EXPECT_EQ(other.exitCode(), 1);
    }
    Holder after;
    EXPECT_EQ(after.line(), QStringLiteral("held %1").arg(after.pid()));
}

TEST_F(InstanceLockTest, AHolderThatLeftNoPidIsStillReported) {
    const QString path = runtimePath() + "/instance.lock";
    auto lock = InstanceLock::acquire();
    ASSERT_TRUE(std::holds_alternative<InstanceLock>(lock));
    ASSERT_TRUE(QFile::resize(path, 0));
    EXPECT_EQ(InstanceLock::holder(), 0);
    auto second = InstanceLock::acquire();
    ASSERT_TRUE(std::holds_alternative<InstanceLock::Held>(second));
    EXPECT_EQ(std::get<InstanceLock::Held>(second).pid, 0);
}

TEST_F(InstanceLockTest, ARefusedRuntimeFolderIsAnError) {
    QFile file(runtimePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    auto lock = InstanceLock::acquire();
    ASSERT_TRUE(std::holds_alternative<QString>(lock));
    EXPECT_TRUE(std::get<QString>(lock).contains(runtimePath()));
    EXPECT_EQ(InstanceLock::holder(), std::nullopt);
}
