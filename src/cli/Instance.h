#pragma once

#include <QJsonObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>

namespace norvela::cli {

// What became of a request to Norvela.
struct Answer {
    enum class Kind {
        answered,   // `reply` holds the result
        refused,    // the request failed; `error` says why in a person's words
        notRunning, // it needs a running Norvela and none runs
    };
    Kind kind = Kind::refused;
    QJsonObject reply;
    QString error;
    bool fromRunningInstance = false;
};

// Sends `request` ({"cmd": …, arguments}) to the running Norvela. With `orHere`, and nothing
// running, this process answers it on a model of its own instead, holding the instance lock
// while it does when `lockHere` says so (for requests that write the index).
QCoro::Task<Answer> ask(QJsonObject request, std::chrono::milliseconds timeout, bool orHere,
                        bool lockHere = false);

// Prints the error of an answer that is not `answered` and returns the exit status for it.
int reportFailure(const Answer& answer, QTextStream& err);

} // namespace norvela::cli
