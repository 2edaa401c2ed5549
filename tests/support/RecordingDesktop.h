#pragma once

#include "platform/DesktopServices.h"

#include <QList>
#include <QStringList>

namespace norvela::test {

// Desktop services that only record what the application asked of them.
class RecordingDesktop : public DesktopServices {
public:
    void revealFile(const QString& filePath) override { revealed.append(filePath); }
    bool openPath(const QString& path) override {
        opened.append(path);
        return true;
    }
    bool openUrl(const QUrl& url) override {
        urls.append(url);
        return true;
    }
    void copyText(const QString& text) override { clipboard = text; }
    QCoro::Task<FolderChoice> chooseFolder(QString, QString startFolder, QString) override {
        chooserStarts.append(startFolder);
        co_return folderChoice;
    }

    QStringList revealed;
    QStringList opened;
    QList<QUrl> urls;
    QString clipboard;
    QStringList chooserStarts;
    FolderChoice folderChoice; // what every folder chooser ends with
};

} // namespace norvela::test
