#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela scan FOLDER [--count]: what would sync, sorted bytewise.
QCoro::Task<int> scanCommand(QStringList args, Io io);
// norvela check-ignore FOLDER PATH...: the PATHs the rules ignore; 0 when any is, 1 when none.
QCoro::Task<int> checkIgnoreCommand(QStringList args, Io io);

} // namespace norvela::cli
