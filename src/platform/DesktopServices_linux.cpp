#include "DesktopServices_linux.h"

#include <QClipboard>
#include <QCoro/QCoroSignal>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QRandomGenerator>

namespace norvela {

namespace {

bool guiApplication() {
    // The desktop services and the clipboard need a GUI application; the command-line tool has none.
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Receives the portal's answer to one request, which comes as a signal on the request's own
// path, and keeps it: a quick answer may come before the request's handle does.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    std::optional<uint> response;
    QVariantMap results;
public Q_SLOTS:
    void onResponse(uint code, const QVariantMap& values) {
        response = code;
        results = values;
        Q_EMIT answered();
    }
Q_SIGNALS:
    void answered();
};

bool listen(QDBusConnection& bus, const QString& path, PortalRequest* request) {
    return bus.connect(portalService, path, QStringLiteral("org.freedesktop.portal.Request"),
                       QStringLiteral("Response"), request, SLOT(onResponse(uint, QVariantMap)));
}

} // namespace

DesktopServices& DesktopServices::system() {
    // Never destroyed: it may be used until the very end of main, after the application object.
    static auto* services = new LinuxDesktopServices;
    return *services;
}

LinuxDesktopServices::LinuxDesktopServices(std::optional<QDBusConnection> bus, Opener open,
                                           std::chrono::milliseconds revealTimeout)
    : m_bus(std::move(bus)), m_open(std::move(open)), m_revealTimeout(revealTimeout) {}

bool LinuxDesktopServices::openWithDesktop(const QUrl& url) {
    if (guiApplication())
        return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

void LinuxDesktopServices::revealFile(const QString& filePath) {
    const QString absolute = QFileInfo(filePath).absoluteFilePath();
    const QString parent = QFileInfo(absolute).absolutePath();
    const QDBusConnection bus = m_bus ? *m_bus : QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openPath(parent);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: a file manager that is slow to start must not freeze the caller's window.
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, int(m_revealTimeout.count())), &m_pendingCalls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_pendingCalls,
                     [this, parent](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError())
                             openPath(parent);
                     });
}

bool LinuxDesktopServices::openPath(const QString& path) {
    return m_open(QUrl::fromLocalFile(path));
}

bool LinuxDesktopServices::openUrl(const QUrl& url) {
    return m_open(url);
}

void LinuxDesktopServices::copyText(const QString& text) {
    if (!guiApplication())
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

QCoro::Task<FolderChoice> LinuxDesktopServices::chooseFolder(QString title, QString startFolder,
                                                             QString parentWindow) {
    QDBusConnection bus = m_bus ? *m_bus : QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return FolderChoice{};
    // The answer arrives on a path made of our bus name and a token of ours; listening
    // before asking means a fast answer cannot be missed.
    const QString token = QStringLiteral("norvela%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expectedPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    PortalRequest request;
    listen(bus, expectedPath, &request);

    QDBusMessage call = QDBusMessage::createMethodCall(
        portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.FileChooser"), QStringLiteral("OpenFile"));
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("directory"), true},
                        {QStringLiteral("modal"), true}};
    if (!startFolder.isEmpty()) // a NUL-terminated byte string, as the portal takes file names
        options.insert(QStringLiteral("current_folder"), QFile::encodeName(startFolder) + '\0');
    call << parentWindow << title << options;
    QDBusPendingCallWatcher watcher(bus.asyncCall(call));
    co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    const QDBusPendingReply<QDBusObjectPath> handle = watcher;
    if (handle.isError()) // no portal, or one without a file chooser
        co_return FolderChoice{};
    // Older portals answer on a path of their own choosing.
    if (const QString path = handle.value().path(); path != expectedPath) {
        bus.disconnect(portalService, expectedPath, QStringLiteral("org.freedesktop.portal.Request"),
                       QStringLiteral("Response"), &request, SLOT(onResponse(uint, QVariantMap)));
        listen(bus, path, &request);
    }

    if (!request.response)
        co_await qCoro(&request, &PortalRequest::answered);
    const QStringList uris = request.results.value(QStringLiteral("uris")).toStringList();
    if (request.response != 0u || uris.isEmpty())
        co_return FolderChoice{FolderChoice::Outcome::cancelled, {}};
    const QString path = QUrl(uris.first()).toLocalFile();
    if (path.isEmpty()) // not a local folder: nothing Norvela could sync
        co_return FolderChoice{FolderChoice::Outcome::cancelled, {}};
    co_return FolderChoice{FolderChoice::Outcome::chosen, path};
}

} // namespace norvela

#include "DesktopServices_linux.moc"
