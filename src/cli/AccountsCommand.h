#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela accounts: "KEY  KIND  EMAIL" per linked account, Dropbox accounts first.
QCoro::Task<int> accountsCommand(QStringList args, Io io);

} // namespace norvela::cli
