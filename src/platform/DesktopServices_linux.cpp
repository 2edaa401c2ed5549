#include "DesktopServices_linux.h"

#include <QClipboard>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>

namespace norvela {

namespace {

bool guiApplication() {
    // The desktop services and the clipboard need a GUI application; the command-line tool has none.
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
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

} // namespace norvela
