// Runs every test binary inside a Qt application object with a private, throw-away HOME, so no test reads or
// writes the real user's settings, credentials or diagnostic files.
#include <QCoreApplication>
#ifdef NORVELA_TEST_GUI
#include <QApplication>
#endif
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    // The instance lock and control socket too: never the user's, never another test's.
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    for (const char* name : {"NORVELA_AUTOLINK", "NORVELA_DUMP_STATE", "NORVELA_APP_SUPPORT_DIR",
                             "NORVELA_STATIC_RENDER", "NORVELA_SANDBOX_URL"})
        qunsetenv(name);

#ifdef NORVELA_TEST_GUI
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleMock(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The test's own HTTP helper uses Qt's network manager, whose kept-alive connections live
    // in Qt's network thread: closed while the application object stands, that thread cannot
    // race its teardown.
    for (QNetworkAccessManager* network : app.findChildren<QNetworkAccessManager*>())
        network->clearConnectionCache();
    QDeadlineTimer settle(50);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result;
}
