#include "PrivateBus.h"
#include "TestSupport.h"
#include "platform/DesktopServices_linux.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
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

// A desktop portal's file chooser that answers every request with `response` and `uris`,
// on the request path the caller's token names, as real portals do.
class FakeFileChooser : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")
public:
    uint response = 0;
    QStringList uris;
    QStringList parents;
    QStringList titles;
    QList<QVariantMap> options;

public Q_SLOTS:
    QDBusObjectPath OpenFile(const QString& parent, const QString& title, const QVariantMap& given) {
        parents += parent;
        titles += title;
        options += given;
        QString sender = message().service().mid(1);
        sender.replace('.', '_');
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, given.value("handle_token").toString());
        QDBusMessage answer =
            QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"), "Response");
        answer << response << QVariantMap{{QStringLiteral("uris"), uris}};
        QDBusConnection bus = connection();
        QMetaObject::invokeMethod(
            this, [bus, answer]() mutable { bus.send(answer); }, Qt::QueuedConnection);
        return QDBusObjectPath(path);
    }
};

class DesktopOnBus : public ::testing::Test {
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
        QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-portal"));
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
    void servePortal() {
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-portal"));
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &chooser,
                                              QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
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
    FakeFileChooser chooser;
    QString file;
    QList<QUrl> opened;
};

} // namespace

TEST_F(DesktopOnBus, AsksTheFileManagerAndFallsBackToTheFolderOnAnErrorOrNoAnswer) {
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

TEST_F(DesktopOnBus, TheFolderChooserIsThePortalsWhenOneAnswers) {
    auto desktop = services();
    using Outcome = FolderChoice::Outcome;
    const QString start = dir.path() + QStringLiteral("/Grüße");
    // No portal on the bus: the caller shows its own chooser.
    EXPECT_EQ(await(desktop.chooseFolder("Choose", start, QString())).outcome, Outcome::unavailable);

    servePortal();
    const QString chosen = dir.path() + QStringLiteral("/Work #2");
    chooser.uris = {QUrl::fromLocalFile(chosen).toString(QUrl::FullyEncoded)};
    const FolderChoice choice = await(desktop.chooseFolder("Choose a folder", start, "x11:3a00007"));
    EXPECT_EQ(choice.outcome, Outcome::chosen);
    EXPECT_EQ(choice.path, chosen);
    EXPECT_EQ(chooser.parents, QStringList{"x11:3a00007"});
    EXPECT_EQ(chooser.titles, QStringList{"Choose a folder"});
    const QVariantMap options = chooser.options.value(0);
    EXPECT_TRUE(options.value("directory").toBool());
    EXPECT_EQ(options.value("current_folder").toByteArray(), start.toUtf8() + '\0');

    // Cancelled, or a choice that is not a local folder: nothing changes.
    chooser.response = 1;
    EXPECT_EQ(await(desktop.chooseFolder("Choose", start, QString())).outcome, Outcome::cancelled);
    chooser.response = 0;
    chooser.uris = {QStringLiteral("sftp://host/folder")};
    EXPECT_EQ(await(desktop.chooseFolder("Choose", start, QString())).outcome, Outcome::cancelled);
    ASSERT_EQ(chooser.options.size(), 3);
    EXPECT_NE(chooser.options[1].value("handle_token"), chooser.options[2].value("handle_token"));
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
