#include "FileChunk.h"

#include "common/NorvelaError.h"
#include "sync/LocalFile.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <cstring>
#include <optional>
#include <variant>

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

// The bytes, or the errno of the failed read.
std::variant<QByteArray, int> readStart(const LocalFile& file, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 n = file.read(0, bytes.data(), size);
    if (n < 0)
        return errno;
    bytes.resize(n);
    return bytes;
}

} // namespace

QCoro::Task<QByteArray> content(const LocalFile* file, qint64 size) {
    std::variant<QByteArray, int> got =
        co_await QtConcurrent::run([file, size] { return readStart(*file, size); });
    if (const int* error = std::get_if<int>(&got))
        throw NorvelaError(file->path() + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(*error)));
    co_return std::get<QByteArray>(std::move(got));
}

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
