#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>

class QLocalServer;

namespace norvela {

// Answers requests from the command-line tool on "<runtime directory>/control.sock" (see
// ControlProtocol.h). Only processes of this user are served; others are dropped unread.
class ControlServer : public QObject {
    Q_OBJECT
public:
    // Gets the request as sent ("cmd" and its arguments) and returns the reply's payload; the
    // server adds v, id and ok:true. Whatever it throws becomes ok:false with the error's text.
    // Each request holds its own copy of the handler until it ends, so a capturing lambda
    // coroutine stays valid even when the server is gone first.
    using Handler = std::function<QCoro::Task<QJsonObject>(QJsonObject request)>;

    explicit ControlServer(Handler handler, QObject* parent = nullptr);
    ~ControlServer() override; // stops listening and removes the socket file

    // Listens; false with the reason in *error when the runtime directory is refused or another
    // instance answers on the socket. A socket file nobody answers on is replaced, so call this
    // while holding the InstanceLock.
    bool listen(QString* error);

    QString socketPath() const; // empty until listening

private:
    void accept();

    Handler m_handler;
    QLocalServer* m_server;
};

} // namespace norvela
