#pragma once

#include "SyncState.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace norvela {

// Everything an upload engine reports about its account, as one value. The engine decides
// the state and why; the account model turns this into the texts people read, so nothing
// downstream ever has to interpret a display text.
struct SyncStatus {
    // What the account's sub-line speaks of.
    enum class Note {
        connecting,   // no engine has reported yet
        connected,    // started, nothing finished yet
        upToDate,     // the last batch finished
        unreachable,  // the last upload failed; it will be tried again
        unsafeFolder, // the folder is home, an ancestor of it or "/": nothing runs
        largeFolder,  // more files than the limit and not approved: nothing uploads
        outsideHours, // the schedule holds uploads
        onBattery,    // the schedule holds uploads until mains power returns
        relink,       // the service no longer accepts the account's grant: only a new link helps
        quotaFull,    // the account is full (serviceMessage says so in the service's words)
        // The folder's .mignore is there but cannot be read: nothing uploads.
        mignoreUnreadable,
        // The folder is gone, or another filesystem is in its place: nothing uploads.
        folderMissing,
    };

    // A file that will not be tried again until it changes.
    struct ParkedFile {
        QString relativePath;
        QString reason;
        bool operator==(const ParkedFile&) const = default;
    };

    SyncState state = SyncState::idle;
    Note note = Note::connecting;
    bool userPaused = false;
    int filesDone = 0;  // in the current batch, failures included
    int filesTotal = 0; // queued in the current batch
    QString currentFile;
    std::optional<double> bytesPerSecond; // of the upload in flight, once measurable
    std::optional<QString> lastError;     // diagnostic text of the last failure
    int largeFolderFiles = 0;             // with Note::largeFolder
    int holdStartHour = 0;                // with Note::outsideHours
    int holdEndHour = 0;
    QString serviceMessage; // with Note::quotaFull
    // Files not uploaded until they change (refused by the service, still failing after the
    // allowed attempts, or named as no service takes), sorted by path: the first
    // parkedListLimit of them, and how many there are.
    QList<ParkedFile> parked;
    int parkedCount = 0;
    static constexpr int parkedListLimit = 100;

    bool operator==(const SyncStatus&) const = default;

    // Why the account does not upload right now, as a stable machine word ("user",
    // "schedule", "battery", "unsafe-folder", "large-folder", "network", "authorization",
    // "quota", "mignore", "folder-missing"), or none.
    std::optional<QString> reasonKey() const;
    // "idle", "syncing", "paused" or "error" (failing uploads that are being retried).
    QString stateKey() const;
};

} // namespace norvela
