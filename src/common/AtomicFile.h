#pragma once

#include <QByteArray>
#include <QString>

namespace norvela::AtomicFile {

// Writes `data` to a temporary file beside `path`, flushes it to disk, gives it `mode`
// and renames it over `path`, so readers see the old file or the new one, never a mix.
// The temporary file has `mode` from the start: a credential is never readable by others,
// not even for a moment. Returns false (and leaves `path` alone) on any failure.
bool write(const QString& path, const QByteArray& data, int mode = 0644);

// Renames a damaged file to "<path>.<tag>-<UTC time>[-n]" (never over another file) and
// makes it owner-only, so it can be repaired later instead of being written over.
void moveAside(const QString& path, const QString& tag);

} // namespace norvela::AtomicFile
