#include "platform/AppearanceWatcher.h"
#include "PrivateBus.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDebug>
#include <QGuiApplication>
#include <QPalette>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;
using Scheme = AppearanceWatcher::ColorScheme;

namespace {

QVariant wrapped(QVariant value, int levels) {
    for (int i = 0; i < levels; ++i)
        value = QVariant::fromValue(QDBusVariant(value));
    return value;
}

QDBusMessage readCall() {
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
}

// A desktop portal on the test's own bus that answers Read as real portals do (two levels).
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 0;

public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString&) { return QDBusVariant(wrapped(scheme, 1)); }
Q_SIGNALS:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

// Puts a palette in place for one test and the previous one back after it.
class PaletteScope {
public:
    explicit PaletteScope(const QPalette& palette) { QGuiApplication::setPalette(palette); }
    ~PaletteScope() { QGuiApplication::setPalette(m_previous); }

private:
    QPalette m_previous = QGuiApplication::palette();
};

const QPalette darkPalette{QColor(0x2b, 0x2b, 0x2b)};
const QPalette lightPalette{QColor(0xef, 0xef, 0xef)};

QDBusConnection nowhere() {
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/norvela-test-bus"),
                                         QStringLiteral("norvela-test-nowhere"));
}

} // namespace

TEST(PortalReply, UnwrapsAnyNestingAndKnowsOnlyZeroOneAndTwo) {
    const QDBusMessage call = readCall();
    const struct {
        QVariant value;
        Scheme expected;
    } cases[] = {
        {wrapped(1u, 2), Scheme::Dark},                          // Read: a variant inside a variant, uint32
        {wrapped(2u, 2), Scheme::Light},                         //
        {wrapped(0u, 2), Scheme::NoPreference},                  //
        {wrapped(1u, 1), Scheme::Dark},                          // ReadOne: one level
        {wrapped(2, 1), Scheme::Light},                          // int32 from a portal that sends `i`
        {wrapped(1, 4), Scheme::Dark},                           // deeper than any portal goes
        {wrapped(3u, 2), Scheme::NoPreference},                  // out of range
        {wrapped(-1, 2), Scheme::NoPreference},                  //
        {wrapped(-4294967295LL, 1), Scheme::NoPreference},       // would be 1 as a uint32
        {wrapped(4294967297ULL, 1), Scheme::NoPreference},       //
        {wrapped(QStringLiteral("1"), 2), Scheme::NoPreference}, // a number in the wrong type
        {wrapped(1.0, 2), Scheme::NoPreference},
        {QVariant(), Scheme::NoPreference},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QDebug::toString(c.value).toStdString());
        EXPECT_EQ(AppearanceWatcher::schemeFromReply(call.createReply(c.value)), c.expected);
    }
    EXPECT_EQ(AppearanceWatcher::schemeFromReply(call.createReply()), Scheme::NoPreference);
    const QDBusMessage error = call.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                                     QStringLiteral("Requested setting not found"));
    EXPECT_EQ(AppearanceWatcher::schemeFromReply(error), Scheme::NoPreference);
}

TEST(PaletteFallback, FollowsTheApplicationPaletteLiveUnlessForced) {
    EXPECT_TRUE(AppearanceWatcher::paletteIsDark(darkPalette));
    EXPECT_FALSE(AppearanceWatcher::paletteIsDark(lightPalette));
    QPalette grey = lightPalette; // a darkish window with darker text is still a light theme
    grey.setColor(QPalette::Window, QColor(0x60, 0x60, 0x60));
    grey.setColor(QPalette::WindowText, Qt::black);
    EXPECT_FALSE(AppearanceWatcher::paletteIsDark(grey));

    PaletteScope light(lightPalette);
    AppearanceWatcher watcher({.bus = nowhere()});
    AppearanceWatcher forced({.forcedDark = true, .bus = nowhere()});
    QList<bool> changes;
    QObject::connect(&watcher, &AppearanceWatcher::darkChanged, [&](bool dark) { changes.append(dark); });
    EXPECT_FALSE(watcher.isDark());
    QGuiApplication::setPalette(darkPalette);
    EXPECT_TRUE(waitFor([&] { return watcher.isDark(); }));
    QGuiApplication::setPalette(lightPalette);
    EXPECT_TRUE(waitFor([&] { return !watcher.isDark(); }));
    EXPECT_EQ(changes, (QList<bool>{true, false}));
    EXPECT_TRUE(forced.isDark());
    QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-nowhere"));
}

TEST(Portal, ReadAtStartThenFollowsSettingChangedAndFallsBackOnZero) {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QTemporaryDir dir;
    PrivateBus bus;
    ASSERT_TRUE(bus.start(dir.path()));
    PaletteScope light(lightPalette);
    {
        // No portal yet: the palette decides, and nothing waits for an answer.
        AppearanceWatcher before(
            {.bus = QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-early"))});
        EXPECT_FALSE(before.isDark());

        FakePortal portal;
        portal.scheme = 1;
        QDBusConnection served =
            QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-portal"));
        ASSERT_TRUE(
            served.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(served.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

        AppearanceWatcher watcher(
            {.bus = QDBusConnection::connectToBus(bus.address, QStringLiteral("norvela-test-watcher"))});
        QList<bool> changes;
        QObject::connect(&watcher, &AppearanceWatcher::darkChanged, [&](bool dark) { changes.append(dark); });
        EXPECT_TRUE(waitFor([&] { return watcher.isDark(); }));

        auto change = [&](const QString& key, uint value) {
            Q_EMIT portal.SettingChanged(QStringLiteral("org.freedesktop.appearance"), key,
                                         QDBusVariant(value));
        };
        const QString scheme = QStringLiteral("color-scheme");
        change(QStringLiteral("accent-color"), 2); // another setting: ignored
        change(scheme, 1);
        change(scheme, 2);
        EXPECT_TRUE(waitFor([&] { return !watcher.isDark(); }));
        EXPECT_EQ(changes, (QList<bool>{true, false}));

        // The early watcher subscribed before the portal existed, and hears it too.
        change(scheme, 1);
        EXPECT_TRUE(waitFor([&] { return watcher.isDark() && before.isDark(); }));
        QGuiApplication::setPalette(darkPalette); // the portal's "light" outranks the palette
        change(scheme, 2);
        EXPECT_TRUE(waitFor([&] { return !watcher.isDark() && !before.isDark(); }));
        change(scheme, 0); // no preference: the palette again
        EXPECT_TRUE(waitFor([&] { return watcher.isDark(); }));
        QGuiApplication::setPalette(lightPalette);
        EXPECT_TRUE(waitFor([&] { return !watcher.isDark(); }));
    }
    for (const char* name : {"norvela-test-early", "norvela-test-portal", "norvela-test-watcher"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
}

#include "AppearanceWatcherTest.moc"
