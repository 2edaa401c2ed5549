#pragma once

#include <QJsonObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>

namespace norvela {

// Sends one request to the running instance's ControlServer and waits for its reply.
class ControlClient {
public:
    struct Result {
        enum class Kind {
            notRunning, // no instance listens (no socket file, or nobody accepts on it)
            replied,    // the instance answered; `reply` says ok or not
            failed,     // no usable answer: time-out, dropped connection, garbled reply, refused folder
        };
        Kind kind = Kind::failed;
        QJsonObject reply; // the whole reply line when replied
        QString error;     // why, when failed or when the reply is ok:false

        bool ok() const { return kind == Kind::replied && reply.value(QStringLiteral("ok")).toBool(); }
    };

    // `request` holds "cmd" and its arguments; v and id are added. `timeout` covers connecting
    // and the answer, so commands that take long (share, restore) should pass a longer one;
    // a negative one waits for ever.
    static QCoro::Task<Result> request(QJsonObject request,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
};

} // namespace norvela
