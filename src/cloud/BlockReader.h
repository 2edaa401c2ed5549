#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace norvela {

class LocalFile;

// Reads a file in whole blocks (short only at the end), for the hashers. A read error ends
// the file just like end-of-file does, so a partly read block is never handed out.
class BlockReader {
public:
    // Opens `filePath` (following links, as for a file someone names) without waiting on a
    // FIFO; none unless it is a regular file that can be read.
    static std::optional<BlockReader> open(const QString& filePath, qint64 blockSize);
    // Reads an opened file from its start through its own descriptor, which stays the file's.
    BlockReader(const LocalFile& file, qint64 blockSize);
    BlockReader(BlockReader&&) noexcept;
    ~BlockReader();

    // The next block, or an empty span at the end or on a read error.
    std::pair<const unsigned char*, size_t> next();

private:
    BlockReader(int fd, bool owned, qint64 blockSize);

    int m_fd = -1;
    bool m_owned = false;
    qint64 m_offset = 0;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_blockSize = 0;
};

} // namespace norvela
