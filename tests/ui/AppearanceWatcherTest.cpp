#include "platform/AppearanceWatcher.h"
#include "PrivateBus.h"
#include "TestSupport.h"

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

// A desktop portal on the test's own bus that answers Read as real portals do (two levels).
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString&) { return QDBusVariant(wrapped(1u, 1)); }
Q_SIGNALS:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

} // namespace

TEST(AppearanceWatcher, ParsesPortalRepliesOfAnyNestingAndKnowsOnlyZeroOneAndTwo) {
    const QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/", "", "Read");
    const std::pair<QVariant, Scheme> cases[] = {
        {wrapped(1u, 2), Scheme::Dark}, // Read: a variant in a variant, uint32
        {wrapped(2u, 2), Scheme::Light},
        {wrapped(0u, 2), Scheme::NoPreference},
        {wrapped(1u, 1), Scheme::Dark}, // ReadOne: one level
        {wrapped(2, 1), Scheme::Light}, // int32
        {wrapped(1, 4), Scheme::Dark},
        {wrapped(3u, 2), Scheme::NoPreference},
        {wrapped(-1, 2), Scheme::NoPreference},
        {wrapped(-4294967295LL, 1), Scheme::NoPreference}, // 1 when cut to 32 bits
        {wrapped(QStringLiteral("1"), 2), Scheme::NoPreference},
        {QVariant(), Scheme::NoPreference},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(QDebug::toString(value).toStdString());
        EXPECT_EQ(AppearanceWatcher::schemeFromReply(call.createReply(value)), expected);
    }
    EXPECT_EQ(AppearanceWatcher::schemeFromReply(call.createReply()), Scheme::NoPreference);
    EXPECT_EQ(AppearanceWatcher::schemeFromReply(
                  call.createErrorReply("org.freedesktop.portal.Error.NotFound", "")),
              Scheme::NoPreference);

    // Without a portal's preference, the palette: light text on a window means dark.
    EXPECT_TRUE(AppearanceWatcher::paletteIsDark(QPalette(QColor(0x2b, 0x2b, 0x2b))));
    EXPECT_FALSE(AppearanceWatcher::paletteIsDark(QPalette(QColor(0xef, 0xef, 0xef))));
    QPalette grey;
    grey.setColor(QPalette::Window, QColor(0x60, 0x60, 0x60));
    grey.setColor(QPalette::WindowText, Qt::black);
    EXPECT_FALSE(AppearanceWatcher::paletteIsDark(grey));
    EXPECT_TRUE(AppearanceWatcher({.forcedDark = true}).isDark());
}

TEST(AppearanceWatcher, ReadsThePortalThenFollowsSettingChangedAndFallsBackToThePalette) {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QTemporaryDir dir;
    PrivateBus bus;
    ASSERT_TRUE(bus.start(dir.path()));
    const QPalette previous = QGuiApplication::palette();
    QGuiApplication::setPalette(QPalette(QColor(0xef, 0xef, 0xef)));
    auto busNamed = [&](const char* name) { return QDBusConnection::connectToBus(bus.address, name); };
    {
        AppearanceWatcher early({.bus = busNamed("early")}); // before any portal: the palette
        EXPECT_FALSE(early.isDark());

        FakePortal portal;
        QDBusConnection served = busNamed("portal");
        ASSERT_TRUE(
            served.registerObject("/org/freedesktop/portal/desktop", &portal,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(served.registerService("org.freedesktop.portal.Desktop"));
        AppearanceWatcher watcher({.bus = busNamed("watcher")});
        QList<bool> changes;
        QObject::connect(&watcher, &AppearanceWatcher::darkChanged, [&](bool dark) { changes.append(dark); });
        EXPECT_TRUE(waitFor([&] { return watcher.isDark(); })); // Read answered 1

        auto change = [&](const char* key, uint value) {
            Q_EMIT portal.SettingChanged("org.freedesktop.appearance", key, QDBusVariant(value));
        };
        change("accent-color", 2); // not ours: ignored, else `changes` below would show it
        change("color-scheme", 1);
        change("color-scheme", 2);
        EXPECT_TRUE(waitFor([&] { return !watcher.isDark(); }));
        change("color-scheme", 1); // the early one subscribed before the portal existed
        EXPECT_TRUE(waitFor([&] { return watcher.isDark() && early.isDark(); }));
        EXPECT_EQ(changes, (QList<bool>{true, false, true}));
        change("color-scheme", 0);
        EXPECT_TRUE(waitFor([&] { return !watcher.isDark(); }));
        QGuiApplication::setPalette(QPalette(QColor(0x2b, 0x2b, 0x2b)));
        EXPECT_TRUE(waitFor([&] { return watcher.isDark(); }));
    }
    QGuiApplication::setPalette(previous);
    for (const char* name : {"early", "portal", "watcher"})
        QDBusConnection::disconnectFromBus(name);
}

#include "AppearanceWatcherTest.moc"
