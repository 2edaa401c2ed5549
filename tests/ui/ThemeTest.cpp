#include "views/Theme.h"
#include "TestSupport.h"
#include "platform/AppearanceWatcher.h"

#include <QGuiApplication>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include <memory>

using namespace norvela;
using namespace norvela::test;

namespace {

std::unique_ptr<QObject> loadSwatch(QQmlEngine& engine) {
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Norvela\n"
                      "Rectangle { color: Theme.panelBackground; property color line: Theme.hairline }",
                      QUrl("qrc:/Swatch.qml"));
    std::unique_ptr<QObject> item(component.create());
    EXPECT_TRUE(item) << component.errorString().toStdString();
    return item;
}

QColor colorOf(const std::unique_ptr<QObject>& item, const char* name = "color") {
    return item->property(name).value<QColor>();
}

} // namespace

TEST(Theme, QmlBindingsRecolourLiveWhenTheDesktopAppearanceFlips) {
    const QPalette previous = QGuiApplication::palette();
    QGuiApplication::setPalette(QPalette(QColor(0xef, 0xef, 0xef)));
    // Wired as main wires it; no bus, so the palette decides.
    AppearanceWatcher watcher({.bus = QDBusConnection::connectToBus("unix:path=/nonexistent", "nowhere")});
    Theme& theme = Theme::instance();
    theme.setDark(watcher.isDark());
    QObject::connect(&watcher, &AppearanceWatcher::darkChanged, &theme, &Theme::setDark);
    const QColor lightPanel = theme.panelBackground();

    // Two windows' engines; the first to go must not take the shared theme with it.
    auto first = std::make_unique<QQmlEngine>();
    QQmlEngine second;
    ASSERT_TRUE(loadSwatch(*first));
    first.reset();
    auto item = loadSwatch(second);
    ASSERT_TRUE(item);
    EXPECT_EQ(colorOf(item), lightPanel);

    QGuiApplication::setPalette(QPalette(QColor(0x2b, 0x2b, 0x2b)));
    ASSERT_TRUE(waitFor([&] { return colorOf(item) != lightPanel; }));
    EXPECT_TRUE(theme.dark());
    EXPECT_EQ(colorOf(item), theme.panelBackground());
    EXPECT_EQ(colorOf(item, "line"), theme.hairline()); // alpha survives the trip through QML
    QGuiApplication::setPalette(QPalette(QColor(0xef, 0xef, 0xef)));
    EXPECT_TRUE(waitFor([&] { return colorOf(item) == lightPanel; }));
    QGuiApplication::setPalette(previous);
    QDBusConnection::disconnectFromBus("nowhere");
}
