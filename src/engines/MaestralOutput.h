#pragma once

#include "common/AccountInfo.h"
#include "common/RecentFile.h"
#include "common/SyncState.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace norvela {

// What the external Dropbox client prints for "status" and "history", read into values.
// Pure functions of the text, so they can be tested and fuzzed without the client.
class MaestralOutput {
public:
    struct Status {
        SyncState state = SyncState::idle;
        // Present when the client named the account and its usage.
        std::optional<AccountInfo> account;
    };

    // "key: value" lines; unknown keys and lines without a value are ignored.
    static Status parseStatus(const QString& output);
    // The paths named on the last three lines (the newest), newest first, as files below
    // `root` synced `now`.
    static QList<RecentFile> parseHistory(const QString& output, const QString& root, const QDateTime& now);
    // "1.5 GB" -> 1500000000; units are powers of 1000.
    static qint64 parseBytes(const QString& text);
};

} // namespace norvela
