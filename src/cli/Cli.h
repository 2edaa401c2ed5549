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

// One entry of the `norvela` command table.
struct Command {
    QString name;
    QString synopsis; // arguments after the name, for usage lines
    QString summary;
    std::function<QCoro::Task<int>(QStringList args, Io io)> run;
};

const QList<Command>& commands();

// Runs `norvela ARGS...` (without the program name). Exit status: 0 success, 1 failure,
// 2 usage error.
QCoro::Task<int> run(QStringList args, Io io);

} // namespace norvela::cli
