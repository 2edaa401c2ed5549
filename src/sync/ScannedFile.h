#pragma once

#include "FileStamp.h"

#include <QString>

namespace norvela {

// One regular file a scan found.
struct ScannedFile {
    QString relativePath; // components joined by "/", no leading "/"
    QString path;         // absolute path as the walk reached it
    FileStamp stamp;      // as the walk saw it
};

} // namespace norvela
