#pragma once

#include "common/SyncStatus.h"

#include <QString>

// The texts people read for an engine's status.
namespace norvela::StatusText {

// The account's sub-line: "Up to date", "Can't reach Dropbox", "Sync paused — on battery", …
// `accountName` tells two accounts of one service apart where the user must act on one.
QString subLine(const SyncStatus& status, const QString& providerName, const QString& accountName);
// What holds the uploads when something other than the user does ("on battery", "outside
// 09:00–18:00", the service's own words for a full account, …); none otherwise. The sub-line
// of such a status reads "Sync paused — " + this.
std::optional<QString> pauseReason(const SyncStatus& status);
// "2.5 MB/s" (decimal megabytes), or empty while no rate is known.
QString rate(const std::optional<double>& bytesPerSecond);

} // namespace norvela::StatusText
