#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela folder ACCOUNT_KEY [PATH]: shows or sets the account's local folder.
QCoro::Task<int> folderCommand(QStringList args, Io io);

} // namespace norvela::cli
