#include "ScanCommands.h"

namespace norvela::cli {

QCoro::Task<int> scanCommand(QStringList, Io io) {
    io.err << "norvela: scan is not available yet\n";
    co_return 1;
}

QCoro::Task<int> checkIgnoreCommand(QStringList, Io io) {
    io.err << "norvela: check-ignore is not available yet\n";
    co_return 1;
}

} // namespace norvela::cli
