#pragma once

#include "DropboxContentHash.h"
#include "FileHasher.h"

namespace norvela {

class DropboxFileHasher : public FileHasher {
public:
    std::optional<QString> hash(const QString& filePath) const override {
        return DropboxContentHash::hash(filePath);
    }
};

} // namespace norvela
