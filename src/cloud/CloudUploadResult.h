#pragma once

#include <QString>

namespace norvela {

// What an upload or a restore leaves in the cloud.
struct CloudUploadResult {
    QString ref;         // Dropbox "rev", or the Drive file id
    QString contentHash; // Dropbox content hash or Drive MD5; empty when Drive reports none
    qint64 size = 0;

    bool operator==(const CloudUploadResult&) const = default;
};

} // namespace norvela
