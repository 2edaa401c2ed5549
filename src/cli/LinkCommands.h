#pragma once

#include "Cli.h"

namespace norvela::cli {

// norvela link dropbox|gdrive [--no-browser]: links an account in the browser.
QCoro::Task<int> linkCommand(QStringList args, Io io);
// norvela unlink ACCOUNT_KEY: revokes and forgets one linked account.
QCoro::Task<int> unlinkCommand(QStringList args, Io io);

} // namespace norvela::cli
