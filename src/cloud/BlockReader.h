#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace norvela {

// Reads a file in whole blocks (short only at the end), for the hashers. A read error ends
// the file just like end-of-file does, so a partly read block is never handed out.
class BlockReader {
public:
    static std::optional<BlockReader> open(const QString& filePath, qint64 blockSize);
    BlockReader(BlockReader&&) noexcept;
    ~BlockReader();

    // The next block, or an empty span at the end or on a read error.
    std::pair<const unsigned char*, size_t> next();

private:
    BlockReader(int fd, qint64 blockSize);

    int m_fd = -1;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_blockSize = 0;
};

} // namespace norvela
