#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace norvela {

// What was uploaded for one relative path.
struct SyncIndexEntry {
    qint64 size = 0;
    QDateTime mtime;
    QString contentHash;
    std::optional<QString> rev;
    QDateTime syncedAt;

    bool operator==(const SyncIndexEntry&) const = default;
};

// The per-account record of uploads, written through to
// <app support>/index/<folderName>.json on every change (atomically). A missing or damaged
// file loads as empty and stays untouched until the next write replaces it.
class SyncIndex {
public:
    using Entries = QHash<QString, SyncIndexEntry>;

    explicit SyncIndex(const QString& folderName);

    std::optional<SyncIndexEntry> entry(const QString& relativePath) const;
    // Stores the entry and persists the whole index at once.
    void set(const QString& relativePath, const SyncIndexEntry& entry);
    const Entries& entries() const { return m_entries; }
    const QString& fileURL() const { return m_fileURL; }

    // The file format: one compact JSON object, dates as seconds since 2001-01-01T00:00:00Z.
    static QByteArray encode(const Entries& entries);
    // Strict: one bad entry fails the whole decode.
    static std::optional<Entries> decode(const QByteArray& json);

private:
    void persist() const;

    QString m_fileURL;
    Entries m_entries;
    // Each entry's `"path":{...}` member as written to the file, so a set re-encodes one
    // entry and persisting is a concatenation rather than a walk over every string.
    QHash<QString, QByteArray> m_members;
};

} // namespace norvela
