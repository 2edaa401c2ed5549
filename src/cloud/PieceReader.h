#pragma once

#include <QByteArray>
#include <QFuture>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <variant>

namespace norvela {

class LocalFile;

// Reads an opened file in pieces on the thread pool (small ones in place), one piece ahead: when a piece is
// handed out, the one after it is already being read, so the disk works while the network sends instead of
// each waiting for the other. At most two pieces are held: the one handed out and the one being read; their
// memory is reused once the exchange that sent a piece has let go of it. A read error throws NorvelaError
// naming the file.
class PieceReader {
public:
    explicit PieceReader(std::shared_ptr<const LocalFile> file);
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // Up to `length` bytes from `offset`, short only at the end of the file as it is now. A
    // piece read ahead for another place or length (the service took less, the rate limit
    // changed the piece size) is dropped and this one read afresh.
    QCoro::Task<QByteArray> read(qint64 offset, qint64 length);

    // The bytes, or the errno of the failed read.
    using Piece = std::variant<QByteArray, int>;

private:
    struct Ahead {
        qint64 offset;
        qint64 length;
        QFuture<Piece> piece;
    };

    QFuture<Piece> start(qint64 offset, qint64 length);

    std::shared_ptr<const LocalFile> m_file;
    std::optional<Ahead> m_ahead;
    QByteArray m_handedOut;
};

} // namespace norvela
