#pragma once

#include "common/SyncStatus.h"

#include <QString>

// The texts people read for an engine's status.
namespace norvela::StatusText {

// The account's sub-line: "Up to date", "Can't reach Dropbox", "Sync paused — on battery", …
// `accountName` tells two accounts of one service apart where the user must act on one.
QString subLine(const SyncStatus& status, const QString& providerName, const QString& accountName);
// "2.5 MB/s" (decimal megabytes), or empty while no rate is known.
QString rate(const std::optional<double>& bytesPerSecond);

} // namespace norvela::StatusText
