#pragma once

#include "DropboxContentHash.h"
#include "FileHasher.h"

namespace norvela {

class DropboxFileHasher : public FileHasher {
protected:
    QString digest(BlockReader& reader) const override { return DropboxContentHash::digest(reader); }
};

} // namespace norvela
