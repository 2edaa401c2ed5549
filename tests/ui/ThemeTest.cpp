#include "views/Theme.h"
#include "TestSupport.h"
#include "platform/AppearanceWatcher.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(NorvelaPlugin)

using namespace norvela;
using namespace norvela::test;

namespace {

// A view's way of using the theme: plain bindings, nothing refreshed by hand.
const QByteArray swatch = "import QtQuick\n"
                          "import Norvela\n"
                          "Rectangle { color: Theme.panelBackground; property color line: Theme.hairline\n"
                          "            property bool dark: Theme.dark }\n";

std::unique_ptr<QObject> load(QQmlEngine& engine) {
    QQmlComponent component(&engine);
    component.setData(swatch, QUrl(QStringLiteral("qrc:/Swatch.qml")));
    std::unique_ptr<QObject> item(component.create());
    EXPECT_TRUE(item) << component.errorString().toStdString();
    return item;
}

QColor colorOf(const QObject& item, const char* name = "color") {
    return item.property(name).value<QColor>();
}

} // namespace

TEST(Theme, BindingsRecolourLiveWhenTheDesktopAppearanceFlips) {
    const QPalette previous = QGuiApplication::palette();
    const QPalette light(QColor(0xef, 0xef, 0xef));
    QGuiApplication::setPalette(light);
    Theme& theme = Theme::instance();

    // Wired as the application wires it: the watcher drives the theme.
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/norvela-test-bus"), QStringLiteral("norvela-test-nowhere"));
    AppearanceWatcher watcher({.bus = nowhere});
    QObject::connect(&watcher, &AppearanceWatcher::darkChanged, &theme, &Theme::setDark);
    theme.setDark(watcher.isDark());
    const QColor lightPanel = theme.panelBackground();

    // Two engines, as two windows loaded at different times; one goes away first and must not
    // take the shared theme with it.
    auto first = std::make_unique<QQmlEngine>();
    QQmlEngine second;
    auto gone = load(*first);
    auto item = load(second);
    ASSERT_TRUE(gone && item);
    EXPECT_EQ(colorOf(*item), lightPanel);
    gone.reset();
    first.reset();

    QGuiApplication::setPalette(QPalette(QColor(0x2b, 0x2b, 0x2b)));
    ASSERT_TRUE(waitFor([&] { return item->property("dark").toBool(); }));
    EXPECT_EQ(colorOf(*item), theme.panelBackground());
    EXPECT_NE(colorOf(*item), lightPanel);
    EXPECT_EQ(colorOf(*item, "line"), theme.hairline()); // translucent colours keep their alpha

    QGuiApplication::setPalette(light);
    ASSERT_TRUE(waitFor([&] { return !item->property("dark").toBool(); }));
    EXPECT_EQ(colorOf(*item), lightPanel);
    QGuiApplication::setPalette(previous);
    QDBusConnection::disconnectFromBus(QStringLiteral("norvela-test-nowhere"));
}
