#pragma once

#include <QDateTime>
#include <QString>

namespace norvela {

// One stored version of a file in the cloud.
struct FileRevision {
    QString id; // Dropbox "rev" or Drive revision id
    QDateTime modified;
    qint64 size = 0;

    bool operator==(const FileRevision&) const = default;
};

} // namespace norvela
