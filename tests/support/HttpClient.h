#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace norvela::test {

// Plain HTTP for tests that check a server without going through Norvela's own clients.
struct HttpReply {
    int status = 0; // 0 when no HTTP reply came (connection dropped, refused)
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    QString error;

    QByteArray header(const QByteArray& name) const;
};

HttpReply httpRequest(const QByteArray& method, const QString& url, const QByteArray& body = {},
                      const QList<QPair<QByteArray, QByteArray>>& headers = {}, int timeoutMs = 30000);

// Raw bytes over a fresh TCP connection; returns whatever the server sent until it closed
// the connection or `timeoutMs` passed.
QByteArray rawExchange(quint16 port, const QByteArray& bytes, int timeoutMs = 5000);

} // namespace norvela::test
