#pragma once

#include "SyncState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

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
    // Files and folders whose names no service takes (never uploaded under those names):
    // how many, and the first unsendableListLimit of their relative paths, sorted.
    int unsendableCount = 0;
    QStringList unsendable;
    static constexpr int unsendableListLimit = 100;

    bool operator==(const SyncStatus&) const = default;

    // Why the account does not upload right now, as a stable machine word ("user",
    // "schedule", "battery", "unsafe-folder", "large-folder", "network"), or none.
    std::optional<QString> reasonKey() const;
    // "idle", "syncing", "paused" or "error" (failing uploads that are being retried).
    QString stateKey() const;
};

} // namespace norvela
