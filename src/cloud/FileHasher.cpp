#include "FileHasher.h"

#include "BlockReader.h"
#include "DropboxContentHash.h"

namespace norvela {

std::optional<QString> FileHasher::hash(const QString& filePath) const {
    auto reader = BlockReader::open(filePath, DropboxContentHash::blockSize);
    if (!reader)
        return std::nullopt;
    return digest(*reader);
}

QString FileHasher::hash(const LocalFile& file) const {
    BlockReader reader(file, DropboxContentHash::blockSize);
    return digest(reader);
}

} // namespace norvela
