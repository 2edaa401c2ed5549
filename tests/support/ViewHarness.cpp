#include "ViewHarness.h"

#include "TestSupport.h"

#include <QQmlComponent>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

// Every program that shows views links the module statically.
Q_IMPORT_QML_PLUGIN(NorvelaPlugin)

namespace norvela::test {

namespace {

// Qt's own messages about QML arrive through the message handler, not the engine's signal.
QStringList* activeWarnings = nullptr;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (activeWarnings && type >= QtWarningMsg)
        activeWarnings->append(message);
    if (previousHandler)
        previousHandler(type, context, message);
}

void visit(QQuickItem* item, const std::function<void(QQuickItem*)>& f) {
    if (!item || !item->isVisible())
        return;
    f(item);
    const auto children = item->childItems();
    for (QQuickItem* child : children)
        visit(child, f);
}

} // namespace

ViewHarness::ViewHarness() {
    activeWarnings = &m_warnings;
    // A harness made while another lives (a test replacing its harness) must not chain the
    // handler to itself.
    if (const QtMessageHandler old = qInstallMessageHandler(collect); old != collect)
        previousHandler = old;
    m_engine.setOutputWarningsToStandardError(false);
    QObject::connect(&m_engine, &QQmlEngine::warnings, [this](const QList<QQmlError>& errors) {
        for (const QQmlError& e : errors)
            m_warnings.append(e.toString());
    });
}

ViewHarness::~ViewHarness() {
    delete m_window.data();
    // The newest harness collects until it goes.
    if (activeWarnings != &m_warnings)
        return;
    qInstallMessageHandler(previousHandler);
    activeWarnings = nullptr;
}

QQuickWindow* ViewHarness::show(const QString& type, const QVariantMap& properties) {
    return showQml(QStringLiteral("import Norvela\n%1 {}\n").arg(type).toUtf8(), properties);
}

QQuickWindow* ViewHarness::showQml(const QByteArray& source, const QVariantMap& properties) {
    QQmlComponent component(&m_engine);
    component.setData(source, QUrl(QStringLiteral("qrc:/test/Host.qml")));
    QObject* object = component.createWithInitialProperties(properties);
    if (!object) {
        m_warnings.append(component.errorString());
        return nullptr;
    }
    m_window = qobject_cast<QQuickWindow*>(object);
    if (!m_window) {
        m_warnings.append(QStringLiteral("not a window: ") + QString::fromUtf8(source));
        delete object;
        return nullptr;
    }
    m_window->show();
    (void)QTest::qWaitForWindowExposed(m_window);
    settle();
    return m_window;
}

QQuickItem* ViewHarness::find(const QString& objectName) const {
    const auto all = findAll(objectName);
    return all.isEmpty() ? nullptr : all.first();
}

QList<QQuickItem*> ViewHarness::findAll(const QString& objectName) const {
    QList<QQuickItem*> found;
    if (m_window)
        visit(m_window->contentItem(), [&](QQuickItem* item) {
            if (item->objectName() == objectName)
                found.append(item);
        });
    return found;
}

QString ViewHarness::text(const QString& objectName) const {
    const QQuickItem* item = find(objectName);
    return item ? item->property("text").toString() : QString();
}

QStringList ViewHarness::texts(const QString& objectName) const {
    QStringList all;
    for (const QQuickItem* item : findAll(objectName))
        all.append(item->property("text").toString());
    return all;
}

bool ViewHarness::click(const QString& objectName, Qt::MouseButton button) {
    return click(find(objectName), button);
}

bool ViewHarness::click(QQuickItem* item, Qt::MouseButton button) {
    if (!item || !m_window)
        return false;
    const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    QTest::mouseClick(m_window, button, Qt::NoModifier, centre);
    settle();
    return true;
}

void ViewHarness::key(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(m_window, Qt::Key(key), modifiers);
    settle();
}

void ViewHarness::type(const QString& text) {
    for (const QChar c : text)
        QTest::keyClick(m_window, c.toLatin1());
    settle();
}

void ViewHarness::settle(int ms) {
    QTest::qWait(ms);
}

QImage ViewHarness::grab() {
    // The first grab of a fresh scene can come back blank: let a few frames pass.
    for (int i = 0; i < 3; ++i) {
        m_window->requestUpdate();
        settle(30);
    }
    return m_window->grabWindow();
}

QStringList ViewHarness::takeWarnings() {
    return std::exchange(m_warnings, {});
}

} // namespace norvela::test
