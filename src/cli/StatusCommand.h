#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela status [--json]: each account's state in the running Norvela, or what the files
// say when none runs (exit 3).
QCoro::Task<int> statusCommand(QStringList args, Io io);

} // namespace norvela::cli
