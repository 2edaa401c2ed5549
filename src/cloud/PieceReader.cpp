#include "PieceReader.h"

#include "common/NorvelaError.h"
#include "sync/LocalFile.h"

#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace norvela {

namespace {

// A read this small costs less than its trip to the pool and back (half a dozen wake-ups of
// the calling thread for a 1 KiB file): a block or a few, as the open before it was.
constexpr qint64 readInPlaceUpTo = 64 * 1024;

// The bytes, or the errno of the failed read; `bytes` is memory to reuse when it is large enough.
PieceReader::Piece readPiece(const LocalFile& file, qint64 offset, qint64 length, QByteArray bytes) {
    if (bytes.isDetached() && bytes.capacity() >= length)
        bytes.resize(length);
    else
        bytes = QByteArray(length, Qt::Uninitialized);
    const qint64 n = file.read(offset, bytes.data(), length);
    if (n < 0)
        return errno;
    bytes.resize(n);
    return bytes;
}

} // namespace

PieceReader::PieceReader(std::shared_ptr<const LocalFile> file) : m_file(std::move(file)) {}

QFuture<PieceReader::Piece> PieceReader::start(qint64 offset, qint64 length) {
    // Into the memory of the piece handed out last when nobody holds that any more (its
    // exchange ended): two allocations an upload instead of one a piece, which the allocator
    // would keep long after.
    QByteArray spare;
    if (m_handedOut.isDetached())
        spare = std::move(m_handedOut);
    m_handedOut = QByteArray();
    // The read holds the file itself: a piece read ahead and then dropped (the upload
    // failed) may still be running when the upload and this reader are gone.
    if (length <= readInPlaceUpTo)
        return QtFuture::makeReadyFuture(readPiece(*m_file, offset, length, std::move(spare)));
    return QtConcurrent::run([file = m_file, offset, length, bytes = std::move(spare)]() mutable {
        return readPiece(*file, offset, length, std::move(bytes));
    });
}

QCoro::Task<QByteArray> PieceReader::read(qint64 offset, qint64 length) {
    QFuture<Piece> reading;
    if (m_ahead && m_ahead->offset == offset && m_ahead->length == length)
        reading = m_ahead->piece;
    else
        reading = start(offset, length);
    m_ahead.reset();
    // A piece read in place is there already: no trip through the event loop for it.
    Piece piece;
    if (reading.isFinished())
        piece = reading.takeResult();
    else
        piece = co_await reading;
    if (const int* error = std::get_if<int>(&piece))
        throw NorvelaError(m_file->path() + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(*error)));
    QByteArray bytes = std::get<QByteArray>(std::move(piece));
    const qint64 next = offset + bytes.size();
    if (bytes.size() == length && next < m_file->size()) {
        const qint64 nextLength = std::min(length, m_file->size() - next);
        m_ahead = Ahead{next, nextLength, start(next, nextLength)};
    }
    m_handedOut = bytes;
    co_return bytes;
}

} // namespace norvela
