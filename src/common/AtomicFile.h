#pragma once

#include <QByteArray>
#include <QString>

namespace norvela::AtomicFile {

enum class Durability {
    // fsync before the rename: after a power loss the file holds the old or the new data.
    Synced,
    // No fsync, for data that can be rebuilt and is rewritten often. Readers still never
    // see a half-written file, but a power loss shortly after may leave it empty or stale.
    Unsynced,
};

// Writes `data` to a temporary file beside `path`, flushes it to disk (unless
// `durability` says otherwise), gives it `mode` and renames it over `path`, so readers see
// the old file or the new one, never a mix.
// The temporary file has `mode` from the start: a credential is never readable by others,
// not even for a moment. Returns false (and leaves `path` alone) on any failure, with the
// system's reason in `error` when given.
bool write(const QString& path, const QByteArray& data, int mode = 0644,
           Durability durability = Durability::Synced, QString* error = nullptr);

// Renames a damaged file to "<path>.<tag>-<UTC time>[-n]" (never over another file) and
// makes it owner-only, so it can be repaired later instead of being written over.
void moveAside(const QString& path, const QString& tag);

} // namespace norvela::AtomicFile
