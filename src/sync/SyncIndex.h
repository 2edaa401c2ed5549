#pragma once

#include "FileStamp.h"
#include "common/AccountIdentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace norvela {

// What was uploaded for one relative path.
struct SyncIndexEntry {
    qint64 size = 0;
    // The file as it was when its content was known to be `contentHash` (its size is `size`).
    // None where only hashing can tell: entries from before stamps were kept, and files
    // changed too shortly before they were read, or while they were being uploaded.
    std::optional<FileStamp> stamp;
    QString contentHash;
    std::optional<QString> rev;
    QDateTime syncedAt;
    // False when the stamp was taken so soon after the file's last change that a write just
    // after it could have left it as it was: then an equal stamp proves nothing until hashed.
    bool stampSettled = true;

    bool operator==(const SyncIndexEntry&) const = default;
};

// The per-account record of uploads, written through to
// <app support>/index/<folderName>.json on every change (atomically), together with the
// account it was written for. A missing or damaged file loads as empty; a damaged one is
// moved aside by the first write rather than written over, so it can still be looked at.
class SyncIndex {
public:
    using Entries = QHash<QString, SyncIndexEntry>;
    // How the file was found.
    enum class Origin { loaded, missing, damaged };

    explicit SyncIndex(const QString& folderName);

    Origin origin() const { return m_origin; }
    // The account the file was written for; empty in files from before that was recorded.
    const AccountIdentity& owner() const { return m_owner; }
    // Records who the account is, with the next write.
    void setOwner(const AccountIdentity& owner) { m_owner = owner; }
    // Moves the file aside (named with `tag`) and starts empty: for an index that turns out
    // to be another account's.
    void setAside(const QString& tag);

    std::optional<SyncIndexEntry> entry(const QString& relativePath) const;
    // Stores the entry and persists the whole index at once.
    void set(const QString& relativePath, const SyncIndexEntry& entry);
    // Stores every entry of `changed`, persisting once.
    void set(const Entries& changed);
    const Entries& entries() const { return m_entries; }
    const QString& fileURL() const { return m_fileURL; }

    // The file format: one compact JSON object
    //   {"format":2,"owner":{"uid":…,"email":…},"files":{"<path>":{"size":…,"mtimeNs":…,
    //    "ctimeNs":…,"unsettled":true,"contentHash":…,"rev":…,"syncedAt":…}}}
    // with the stamp's times in nanoseconds since the Unix epoch (both absent without a
    // stamp; "unsettled" only with an unsettled one) and syncedAt in seconds since
    // 2001-01-01T00:00:00Z. The first format, the "files"
    // object alone with "mtime" in seconds since 2001, still loads, its entries unstamped.
    static QByteArray encode(const Entries& entries, const AccountIdentity& owner = {});
    // Strict: one bad entry fails the whole decode.
    static std::optional<Entries> decode(const QByteArray& json, AccountIdentity* owner = nullptr);

private:
    void store(const QString& relativePath, const SyncIndexEntry& entry);
    void persist();

    QString m_fileURL;
    Origin m_origin = Origin::missing;
    AccountIdentity m_owner;
    // Set while the file on disk must be moved aside (under this tag) before it is replaced.
    std::optional<QString> m_asideTag;
    Entries m_entries;
    // Each entry's `"path":{...}` member as written to the file, so a set re-encodes one
    // entry and persisting is a concatenation rather than a walk over every string.
    QHash<QString, QByteArray> m_members;
};

} // namespace norvela
