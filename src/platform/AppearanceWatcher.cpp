#include "AppearanceWatcher.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace norvela {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString schemeKey = QStringLiteral("color-scheme");

int luma(const QColor& color) {
    return qGray(color.rgb());
}

} // namespace

AppearanceWatcher::AppearanceWatcher(Options options, QObject* parent)
    : QObject(parent), m_forcedDark(options.forcedDark), m_timeout(options.portalTimeout) {
    if (!m_forcedDark) {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installEventFilter(this);
        const QDBusConnection bus = options.bus ? *options.bus : QDBusConnection::sessionBus();
        if (bus.isConnected())
            askPortal(bus);
    }
    update();
}

AppearanceWatcher::ColorScheme AppearanceWatcher::schemeFromReply(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return ColorScheme::NoPreference;
    return schemeFromValue(reply.arguments().constFirst());
}

AppearanceWatcher::ColorScheme AppearanceWatcher::schemeFromValue(QVariant value) {
    // Read answers a variant inside a variant; ReadOne and SettingChanged one level.
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        break;
    default:
        return ColorScheme::NoPreference;
    }
    switch (value.toLongLong()) {
    case 1:
        return ColorScheme::Dark;
    case 2:
        return ColorScheme::Light;
    default:
        return ColorScheme::NoPreference;
    }
}

bool AppearanceWatcher::paletteIsDark(const QPalette& palette) {
    const int window = luma(palette.color(QPalette::Window));
    const int text = luma(palette.color(QPalette::WindowText));
    return window == text ? window < 128 : text > window;
}

bool AppearanceWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange && watched == QCoreApplication::instance())
        update();
    return QObject::eventFilter(watched, event);
}

void AppearanceWatcher::askPortal(const QDBusConnection& bus) {
    // Subscribed even when no portal runs yet: the bus delivers once one starts. The slot's
    // argument type must be known by name first, or the subscription silently fails.
    qRegisterMetaType<QDBusVariant>();
    QDBusConnection(bus).connect(portalService, portalPath, settingsInterface,
                                 QStringLiteral("SettingChanged"), this,
                                 SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    // Asked only when registered: asking an absent portal may start (and wait for) one.
    QDBusMessage hasOwner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    hasOwner << portalService;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(hasOwner, int(m_timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, bus](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<bool> registered = *call;
        if (registered.isValid() && registered.value())
            readScheme(bus);
    });
}

void AppearanceWatcher::readScheme(const QDBusConnection& bus) {
    QDBusMessage read =
        QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    read << appearanceGroup << schemeKey;
    read.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, int(m_timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        // A SettingChanged that came first is newer than this answer.
        if (!m_heardChange)
            setScheme(schemeFromReply(call->reply()));
    });
}

void AppearanceWatcher::onSettingChanged(const QString& group, const QString& key,
                                         const QDBusVariant& value) {
    if (group != appearanceGroup || key != schemeKey)
        return;
    m_heardChange = true;
    setScheme(schemeFromValue(value.variant()));
}

void AppearanceWatcher::setScheme(ColorScheme scheme) {
    m_scheme = scheme;
    update();
}

void AppearanceWatcher::update() {
    bool dark = false;
    if (m_forcedDark)
        dark = *m_forcedDark;
    else if (m_scheme != ColorScheme::NoPreference)
        dark = m_scheme == ColorScheme::Dark;
    else if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        dark = paletteIsDark(QGuiApplication::palette());
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT darkChanged(dark);
}

} // namespace norvela
