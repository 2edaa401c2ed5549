#pragma once

#include "common/SyncStatus.h"

#include <QString>

// The texts people read for an engine's status.
namespace norvela::StatusText {

// The account's sub-line: "Up to date", "Can't reach Dropbox", "Sync paused — on battery", …
QString subLine(const SyncStatus& status, const QString& providerName);
// "2.5 MB/s" (decimal megabytes), or empty while no rate is known.
QString rate(const std::optional<double>& bytesPerSecond);

} // namespace norvela::StatusText
