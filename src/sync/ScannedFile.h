#pragma once

#include <QDateTime>
#include <QString>

namespace norvela {

// One regular file a scan found.
struct ScannedFile {
    QString relativePath; // components joined by "/", no leading "/"
    QString path;         // absolute path as the walk reached it
    qint64 size = 0;      // 0 when not reported
    QDateTime mtime;      // content modification time (UTC); distantPast() when not reported

    static QDateTime distantPast();
};

} // namespace norvela
