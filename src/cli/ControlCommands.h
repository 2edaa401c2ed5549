#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela pause [KEY] / resume [KEY]: every account, or one, in the running Norvela.
QCoro::Task<int> pauseCommand(QStringList args, Io io);
QCoro::Task<int> resumeCommand(QStringList args, Io io);

} // namespace norvela::cli
