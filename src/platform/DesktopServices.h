#pragma once

#include <QString>
#include <QUrl>

namespace norvela {

// What the application asks of the desktop it runs on: the file manager, default
// applications, the clipboard. One implementation per platform, chosen at build time;
// tests hand the models a recording stand-in instead.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // A file-manager window with `filePath` selected; the parent folder when no file
    // manager answers the request.
    virtual void revealFile(const QString& filePath) = 0;
    // A folder or a file in its default application; false when nothing could be started.
    virtual bool openPath(const QString& path) = 0;
    // A web page, or a mailto: address in the mail handler.
    virtual bool openUrl(const QUrl& url) = 0;
    // Plain text on the system clipboard, replacing what was there.
    virtual void copyText(const QString& text) = 0;

    // The running platform's services.
    static DesktopServices& system();
};

} // namespace norvela
