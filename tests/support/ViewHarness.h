#pragma once

#include <QImage>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace norvela::test {

// Creates one of the Norvela module's windows offscreen with real models as its properties,
// finds its controls by objectName, clicks and types into them, and collects every QML
// warning (an unknown symbol, a broken binding), which the tests treat as failures.
class ViewHarness {
public:
    ViewHarness();
    ~ViewHarness();

    // `type` is a Window type of the module ("DropdownPanel"). Shown at once; null (with the
    // reason in warnings()) when it cannot be made.
    QQuickWindow* show(const QString& type, const QVariantMap& properties = {});
    // The same for a window written inline (a test's own host for a kit component).
    QQuickWindow* showQml(const QByteArray& source, const QVariantMap& properties = {});
    QQuickWindow* window() const { return m_window; }

    // The visible item with this objectName, or null. With several, the first in tree order.
    QQuickItem* find(const QString& objectName) const;
    // Every visible item with this objectName, in tree order.
    QList<QQuickItem*> findAll(const QString& objectName) const;
    // The "text" property of the named item ("" when it has none or is not shown).
    QString text(const QString& objectName) const;
    // The "text" of every visible item with this objectName, in tree order.
    QStringList texts(const QString& objectName) const;

    // Clicks the centre of the named item; false when it is not shown.
    bool click(const QString& objectName, Qt::MouseButton button = Qt::LeftButton);
    bool click(QQuickItem* item, Qt::MouseButton button = Qt::LeftButton);
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Types `text` into the focused item, a key at a time.
    void type(const QString& text);
    // Lets bindings, animations and deferred deletions run.
    void settle(int ms = 50);
    // Waits for the scene to be drawn, then grabs it.
    QImage grab();

    // QML warnings since creation (or the last take), and forgets them.
    QStringList takeWarnings();

private:
    QQmlEngine m_engine;
    QPointer<QQuickWindow> m_window;
    QStringList m_warnings;
};

} // namespace norvela::test
