#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela hash dropbox|md5 FILE...: "HASH  FILE" per file, as sha256sum prints.
QCoro::Task<int> hashCommand(QStringList args, Io io);

} // namespace norvela::cli
