#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela share PATH: a shared link to a synced file.
QCoro::Task<int> shareCommand(QStringList args, Io io);
// norvela versions PATH [--json]: the file's versions in the cloud, newest first.
QCoro::Task<int> versionsCommand(QStringList args, Io io);
// norvela restore PATH VERSION_ID: that version in the cloud and in the folder.
QCoro::Task<int> restoreCommand(QStringList args, Io io);

} // namespace norvela::cli
