#include "BlockReader.h"

#include "sync/LocalFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvela {

std::optional<BlockReader> BlockReader::open(const QString& filePath, qint64 blockSize) {
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return BlockReader(fd, true, blockSize);
}

BlockReader::BlockReader(const LocalFile& file, qint64 blockSize)
    : BlockReader(file.descriptor(), false, blockSize) {}

BlockReader::BlockReader(int fd, bool owned, qint64 blockSize)
    : m_fd(fd), m_owned(owned), m_buffer(new unsigned char[static_cast<size_t>(blockSize)]),
      m_blockSize(static_cast<size_t>(blockSize)) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

BlockReader::BlockReader(BlockReader&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_owned(other.m_owned), m_offset(other.m_offset),
      m_buffer(std::move(other.m_buffer)), m_blockSize(other.m_blockSize) {}

BlockReader::~BlockReader() {
    if (m_fd >= 0 && m_owned)
        ::close(m_fd);
}

std::pair<const unsigned char*, size_t> BlockReader::next() {
    size_t filled = 0;
    while (m_fd >= 0 && filled < m_blockSize) {
        // Positioned reads: a descriptor shared with an upload keeps its own position.
        const ssize_t n = ::pread(m_fd, m_buffer.get() + filled, m_blockSize - filled, off_t(m_offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // The failed block is dropped whole and nothing after it is read.
            if (m_owned)
                ::close(m_fd);
            m_fd = -1;
            return {nullptr, 0};
        }
        if (n == 0)
            break;
        filled += static_cast<size_t>(n);
        m_offset += n;
    }
    return {m_buffer.get(), filled};
}

} // namespace norvela
