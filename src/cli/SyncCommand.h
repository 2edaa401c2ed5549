#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela sync [--once]: runs every linked account's engine without any window, printing
// progress; with --once it ends after the first full pass of every account.
QCoro::Task<int> syncCommand(QStringList args, Io io);

} // namespace norvela::cli
