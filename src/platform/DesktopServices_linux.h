#pragma once

#include "DesktopServices.h"

#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

namespace norvela {

// The freedesktop services: the file manager over D-Bus (FileManager1), the folder chooser
// of the desktop portal, default applications through QDesktopServices or xdg-open, and
// the Qt clipboard.
class LinuxDesktopServices : public DesktopServices {
public:
    // Starts the default application for a URL; false when nothing could be started.
    using Opener = std::function<bool(const QUrl&)>;

    // `bus`: where the file manager and the portal are asked (none: the session bus at the time of asking).
    explicit LinuxDesktopServices(std::optional<QDBusConnection> bus = std::nullopt,
                                  Opener open = openWithDesktop,
                                  std::chrono::milliseconds revealTimeout = std::chrono::seconds(2));

    void revealFile(const QString& filePath) override;
    bool openPath(const QString& path) override;
    bool openUrl(const QUrl& url) override;
    void copyText(const QString& text) override;
    QCoro::Task<FolderChoice> chooseFolder(QString title, QString startFolder, QString parentWindow) override;

    // QDesktopServices inside a GUI application, a detached xdg-open otherwise.
    static bool openWithDesktop(const QUrl& url);

private:
    std::optional<QDBusConnection> m_bus;
    Opener m_open;
    std::chrono::milliseconds m_revealTimeout;
    // Owns the pending file-manager calls, so none outlives this object.
    QObject m_pendingCalls;
};

} // namespace norvela
