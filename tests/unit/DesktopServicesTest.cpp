#include "PrivateBus.h"
#include "TestSupport.h"
#include "platform/DesktopServices_linux.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;

namespace {

// A file manager on the test's own bus that records what it is asked to show.
class RecordingFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    enum class Answer { show, fail, ignore };
    Answer answer = Answer::show;
    QStringList shown;
    QStringList startupIds;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        shown += uris;
        startupIds += startupId;
        if (answer == Answer::fail)
            sendErrorReply(QDBusError::Failed, QStringLiteral("no window"));
        else if (answer == Answer::ignore)
            setDelayedReply(true); // and never answer
    }
};

class Reveal : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(bus.start(dir.path()));
        file = dir.path() + QStringLiteral("/Reports 2026/summary #1.pdf");
        QDir().mkpath(dir.path() + QStringLiteral("/Reports 2026"));
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-caller"));
        QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-file-manager"));
    }

    QDBusConnection caller() {
        return QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-caller"));
    }
    void serveFileManager() {
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-file-manager"));
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                              QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }
    LinuxDesktopServices services(std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
        return LinuxDesktopServices(
            caller(),
            [this](const QUrl& url) {
                opened.append(url);
                return true;
            },
            timeout);
    }

    QTemporaryDir dir;
    PrivateBus bus;
    RecordingFileManager fileManager;
    QString file;
    QList<QUrl> opened;
};

} // namespace

TEST_F(Reveal, AsksTheFileManagerAndFallsBackToTheFolderOnAnErrorOrNoAnswer) {
    serveFileManager();
    auto desktop = services();
    desktop.revealFile(file);
    ASSERT_TRUE(waitFor([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
    EXPECT_EQ(fileManager.shown.front().left(8), "file:///");
    EXPECT_TRUE(fileManager.shown.front().contains("Reports%202026/summary%20%231.pdf"));
    EXPECT_EQ(fileManager.startupIds, QStringList{QString()});

    // Replies come back in order: once the second (failed) request falls back, the first
    // one's success has been seen, and it must not have opened anything. Any error reply, a
    // missing file manager's included, takes this way.
    fileManager.answer = RecordingFileManager::Answer::fail;
    const QString other = dir.path() + QStringLiteral("/other.txt");
    desktop.revealFile(other);
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});

    // A file manager that never answers: the parent folder once the wait is over.
    fileManager.answer = RecordingFileManager::Answer::ignore;
    opened.clear();
    auto impatient = services(std::chrono::milliseconds(200));
    impatient.revealFile(file);
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(fileManager.shown.size(), 3);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path() + QStringLiteral("/Reports 2026"))});
}

TEST(RevealWithoutBus, OpensTheParentFolderAtOnce) {
    QList<QUrl> opened;
    {
        const QDBusConnection nowhere =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/norvela-test-bus"),
                                          QStringLiteral("norvela-test-nowhere"));
        ASSERT_FALSE(nowhere.isConnected());
        LinuxDesktopServices desktop(nowhere, [&](const QUrl& url) {
            opened.append(url);
            return true;
        });
        desktop.revealFile(QStringLiteral("/srv/share/notes.txt"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-nowhere"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile("/srv/share")});
}

#include "DesktopServicesTest.moc"
