#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

namespace norvela {

// How a folder chooser ended.
struct FolderChoice {
    enum class Outcome { chosen, cancelled, unavailable };
    Outcome outcome = Outcome::unavailable;
    QString path; // the chosen folder
};

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
    // The desktop's own folder chooser (folders only, new ones may be made) starting in
    // `startFolder`, kept above `parentWindow` (a portal window handle such as "x11:3a00007",
    // or empty). `unavailable` when the desktop offers none: the caller shows its own.
    virtual QCoro::Task<FolderChoice> chooseFolder(QString title, QString startFolder,
                                                   QString parentWindow) = 0;

    // The running platform's services.
    static DesktopServices& system();
};

} // namespace norvela
