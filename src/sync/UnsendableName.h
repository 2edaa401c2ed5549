#pragma once

#include "FileStamp.h"

#include <QString>

namespace norvela {

// A file or folder a scan found whose name no service takes. It never syncs under that
// name; the user is told instead.
struct UnsendableName {
    QString relativePath; // for people: bytes that are not UTF-8 appear as "\xNN"
    QString reason;       // "name is not valid UTF-8", "name is longer than 255 bytes"
    FileStamp stamp;      // to tell when it changed

    bool operator==(const UnsendableName&) const = default;
};

} // namespace norvela
