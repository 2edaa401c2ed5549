#pragma once

#include "FileStamp.h"
#include "SyncIndexJournal.h"
#include "common/AccountIdentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

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

// The per-account record of uploads: <app support>/index/<folderName>.json, written whole
// now and then (atomically), together with the account it was written for, and every change
// since recorded at once in a journal beside it (see SyncIndexJournal). Loading applies the
// journal to the file; folding writes the file whole again and drops the journal. A missing
// or damaged file loads as empty; a damaged one is moved aside by the first fold rather than
// written over, so it can still be looked at.
class SyncIndex {
public:
    using Entries = QHash<QString, SyncIndexEntry>;
    // How the file was found.
    enum class Origin { loaded, missing, damaged };

    // Loads the file and its journal; writes nothing.
    explicit SyncIndex(const QString& folderName);

    Origin origin() const { return m_origin; }
    // The account the file was written for; empty in files from before that was recorded.
    const AccountIdentity& owner() const { return m_owner; }
    void setOwner(const AccountIdentity& owner);
    // Moves the file and its journal aside (named with `tag`) and starts empty: for an index
    // that turns out to be another account's. Not while a fold is under way.
    void setAside(const QString& tag);

    std::optional<SyncIndexEntry> entry(const QString& relativePath) const;
    // Stores the entry and journals it.
    void set(const QString& relativePath, const SyncIndexEntry& entry);
    // Stores every entry of `changed`, journaled together.
    void set(const Entries& changed);
    const Entries& entries() const { return m_entries; }
    const QString& fileURL() const { return m_fileURL; }

    // Writes the whole index to its file and drops the journal, here and now; nothing to do
    // without a journal. False when the file could not be written (the journal then stays).
    bool fold();

    // The same in steps, so that the writing runs on another thread while changes go on
    // being journaled here: beginFold() takes a snapshot (none with nothing to fold, or while
    // a fold is under way), run() writes it on any thread, and endFold() is told how it went.
    class Fold {
    public:
        // Once only.
        bool run();

    private:
        friend class SyncIndex;
        QString m_fileURL;
        std::optional<QString> m_asideTag;
        QByteArray m_head;
        QHash<QString, QByteArray> m_members;
        QStringList m_covered; // journals the snapshot holds: removed once it is written
        // Set when the snapshot covers only the folding journal: gone, it was folded by a
        // later load, whose file this one must not replace.
        bool m_needsCovered = false;
    };
    std::optional<Fold> beginFold();
    void endFold(bool written);

    // The file format: one compact JSON object
    //   {"format":2,"owner":{"uid":…,"email":…},"files":{"<path>":{"size":…,"mtimeNs":…,
    //    "ctimeNs":…,"unsettled":true,"contentHash":…,"rev":…,"syncedAt":…}}}
    // with the stamp's times in nanoseconds since the Unix epoch (both absent without a
    // stamp; "unsettled" only with an unsettled one) and syncedAt in seconds since
    // 2001-01-01T00:00:00Z. The first format, the "files"
    // object alone with "mtime" in seconds since 2001, still loads, its entries unstamped.
    // Each line of the journal is an object of this format holding the entries a change set
    // (none for a change of owner), written for the owner it names: lines naming another
    // account than the one loaded so far are not applied, and their journal is moved aside.
    static QByteArray encode(const Entries& entries, const AccountIdentity& owner = {});
    // Strict: one bad entry fails the whole decode.
    static std::optional<Entries> decode(const QByteArray& json, AccountIdentity* owner = nullptr);

private:
    // Returns the entry's member.
    QByteArray store(const QString& relativePath, const SyncIndexEntry& entry);
    // Appends one line of `members` (each a cached member) under the current owner.
    void journal(const QList<QByteArray>& members);
    // Journals found at load to be another account's go aside before anything is written.
    void settleForeign();
    Fold snapshot(QStringList covered) const;

    QString m_fileURL;
    Origin m_origin = Origin::missing;
    AccountIdentity m_owner;
    QByteArray m_head; // the file's text up to the first entry, for m_owner
    // Set while the file on disk must be moved aside (under this tag) before it is replaced.
    std::optional<QString> m_asideTag;
    Entries m_entries;
    // Each entry's `"path":{...}` member as written to the file, so a set encodes one entry
    // and a fold is a concatenation rather than a walk over every string.
    QHash<QString, QByteArray> m_members;
    // While a fold holds m_members, changed members wait here: a change then never has the
    // main thread copy all of them.
    QHash<QString, QByteArray> m_changedWhileFolding;
    SyncIndexJournal m_journal;
    QStringList m_foreign;
    bool m_folding = false;
};

} // namespace norvela
