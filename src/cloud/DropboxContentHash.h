#pragma once

#include <QString>

#include <optional>

namespace norvela {
class BlockReader;
}

namespace norvela::DropboxContentHash {

// Block size of the content hash, and of every hashing read.
inline constexpr qint64 blockSize = 4 * 1024 * 1024;

// SHA-256 over the SHA-256 digests of the file's 4 MiB blocks, as 64 lower-case hex digits.
// Holds one block in memory at most. None when the file cannot be opened.
std::optional<QString> hash(const QString& filePath);
// The same over whatever `reader` yields (blocks of blockSize).
QString digest(BlockReader& reader);

} // namespace norvela::DropboxContentHash
