#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <QCoro/QCoroTask>

#include <functional>

namespace norvela::cli {

// Where a command writes; tests hand in string-backed streams.
struct Io {
    QTextStream& out;
    QTextStream& err;
};

// Exit statuses of every command.
enum Exit : int {
    success = 0,
    failure = 1,
    usage = 2,
    notRunning = 3,     // the command needs a running Norvela and none runs
    alreadyRunning = 4, // `sync` while another Norvela runs
    notAllUploaded = 5, // `sync --once` ended with files it could not upload
};

// One entry of the `norvela` command table.
struct Command {
    QString name;
    QString synopsis; // arguments after the name, for usage lines
    QString summary;
    QString help; // what `norvela NAME --help` adds below the usage line
    std::function<QCoro::Task<int>(QStringList args, Io io)> run;
};

const QList<Command>& commands();

// Prints the command's usage line on stderr and returns Exit::usage.
int usageError(const QString& name, Io io);

// Runs `norvela ARGS...` (without the program name); `norvela NAME --help` prints that
// command's help.
QCoro::Task<int> run(QStringList args, Io io);

} // namespace norvela::cli
