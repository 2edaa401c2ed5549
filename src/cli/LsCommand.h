#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela ls [KEY] [--json]: what the accounts' indexes record as uploaded.
QCoro::Task<int> lsCommand(QStringList args, Io io);

} // namespace norvela::cli
