#include "Browser.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>

namespace norvela {

bool openInBrowser(const QUrl& url) {
    // The desktop services need a GUI application; the command-line tool has none.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QDesktopServices::openUrl(url);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

} // namespace norvela
