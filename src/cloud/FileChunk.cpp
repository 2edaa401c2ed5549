#include "FileChunk.h"

#include "common/NorvelaError.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <optional>

namespace norvela::FileChunk {

namespace {

std::optional<QByteArray> readFully(QFile* file, qint64 max) {
    QByteArray chunk(max, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < max) {
        const qint64 n = file->read(chunk.data() + filled, max - filled);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += n;
    }
    chunk.resize(filled);
    return chunk;
}

} // namespace

QCoro::Task<QByteArray> read(QFile& file, qint64 max) {
    QFile* const source = &file;
    QFuture<std::optional<QByteArray>> reading =
        QtConcurrent::run([source, max] { return readFully(source, max); });
    std::optional<QByteArray> chunk = co_await reading;
    if (!chunk)
        throw NorvelaError(file.fileName() + QStringLiteral(": ") + file.errorString());
    co_return std::move(*chunk);
}

} // namespace norvela::FileChunk
