#pragma once

#include "ControlServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

class QLocalSocket;

namespace norvela {

// One client of the ControlServer: splits what it sends into lines and answers them one at a
// time, in order. Deletes itself (and the socket) when the client goes.
class ControlConnection : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the connected `socket`.
    ControlConnection(QLocalSocket* socket, ControlServer::Handler handler, QObject* parent);

private:
    void pump();
    void handle(const QByteArray& line);
    void send(const QJsonValue& id, QJsonObject reply);
    static QCoro::Task<> answer(QPointer<ControlConnection> self, ControlServer::Handler handler,
                                QJsonObject request);

    QLocalSocket* m_socket;
    ControlServer::Handler m_handler;
    QByteArray m_buffer; // read but not yet answered; at most one line over the limit
    bool m_busy = false;
};

} // namespace norvela
