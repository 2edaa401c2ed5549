#include "ControlConnection.h"

#include "ControlProtocol.h"
#include "common/NorvelaError.h"

#include <QLocalSocket>

namespace norvela {

ControlConnection::ControlConnection(QLocalSocket* socket, ControlServer::Handler handler, QObject* parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler)) {
    m_socket->setParent(this);
    connect(m_socket, &QLocalSocket::readyRead, this, &ControlConnection::pump);
    connect(m_socket, &QLocalSocket::bytesWritten, this, &ControlConnection::pump);
    connect(m_socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
    QMetaObject::invokeMethod(this, &ControlConnection::pump, Qt::QueuedConnection);
}

void ControlConnection::pump() {
    // Reads no further while a request is answered or replies pile up unread: a client that
    // floods waits on its own socket instead of growing our buffers.
    while (!m_busy && m_socket->bytesToWrite() <= ControlProtocol::maxLineBytes) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            handle(line);
            continue;
        }
        if (m_buffer.size() > ControlProtocol::maxLineBytes) {
            m_socket->abort();
            deleteLater();
            return;
        }
        const QByteArray more = m_socket->read(ControlProtocol::maxLineBytes + 1 - m_buffer.size());
        if (more.isEmpty())
            return;
        m_buffer += more;
    }
}

void ControlConnection::handle(const QByteArray& line) {
    auto request = ControlProtocol::decode(line);
    if (!request) {
        send(QJsonValue::Undefined,
             ControlProtocol::failure(QJsonValue::Undefined, QStringLiteral("not a JSON object")));
        return;
    }
    const QJsonValue id = request->value(QStringLiteral("id"));
    const QJsonValue version = request->value(QStringLiteral("v"));
    if (!version.isDouble() || version.toInt(-1) != ControlProtocol::version) {
        send(id, ControlProtocol::failure(
                     id, QStringLiteral("unsupported protocol version (this Norvela speaks %1)")
                             .arg(ControlProtocol::version)));
        return;
    }
    if (request->value(QStringLiteral("cmd")).toString().isEmpty()) {
        send(id, ControlProtocol::failure(id, QStringLiteral("the request names no \"cmd\"")));
        return;
    }
    m_busy = true;
    answer(this, m_handler, std::move(*request));
}

void ControlConnection::send(const QJsonValue& id, QJsonObject reply) {
    reply.insert(QStringLiteral("v"), ControlProtocol::version);
    if (!id.isUndefined())
        reply.insert(QStringLiteral("id"), id);
    m_socket->write(ControlProtocol::encode(reply));
}

QCoro::Task<> ControlConnection::answer(QPointer<ControlConnection> self, ControlServer::Handler handler,
                                        QJsonObject request) {
    const QJsonValue id = request.value(QStringLiteral("id"));
    QJsonObject reply;
    try {
        reply = co_await handler(std::move(request));
        reply.insert(QStringLiteral("ok"), true);
    } catch (...) {
        reply = ControlProtocol::failure(id, describe(std::current_exception()));
    }
    if (!self) // the client left, or the server closed, while the handler worked
        co_return;
    self->send(id, std::move(reply));
    self->m_busy = false;
    // Queued, so a run of requests whose handlers finish at once doesn't recurse.
    QMetaObject::invokeMethod(self.data(), &ControlConnection::pump, Qt::QueuedConnection);
}

} // namespace norvela
