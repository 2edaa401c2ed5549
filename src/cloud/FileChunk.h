#pragma once

#include <QByteArray>
#include <QFile>

#include <QCoro/QCoroTask>

namespace norvela {
class LocalFile;
}

namespace norvela::FileChunk {

// Up to `max` bytes from the file's current position, short only at the end of the file.
// The read runs on the thread pool: a cold disk must not stall the main thread, and the
// caller awaits it, so the file is never used from two threads at once. A read error
// throws NorvelaError naming the file.
QCoro::Task<QByteArray> read(QFile& file, qint64 max);

// The file's first `size` bytes (what it gained since it was measured waits for the next
// upload), read on the thread pool. The caller keeps `file` open until the read returns. A
// read error throws NorvelaError.
QCoro::Task<QByteArray> content(const LocalFile* file, qint64 size);

} // namespace norvela::FileChunk
