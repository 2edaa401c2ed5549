#include "LoopbackCallbackServer.h"

#include "common/NorvelaError.h"

#include <QStringDecoder>

namespace norvela {

LoopbackCallbackServer::LoopbackCallbackServer(quint16 port, QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path)) {
    // Browsers may reach "localhost" over IPv4 or IPv6; IPv4 is the one that must work.
    for (const QHostAddress& address :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        auto* server = new QTcpServer(this);
        if (!server->listen(address, port)) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                throw NorvelaError(QStringLiteral("Couldn't listen for the browser on port %1: %2")
                                       .arg(port)
                                       .arg(server->errorString()));
            delete server;
            continue;
        }
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
        m_servers.append(server);
    }
}

LoopbackCallbackServer::~LoopbackCallbackServer() {
    stop();
}

void LoopbackCallbackServer::stop() {
    for (QTcpServer* server : m_servers) {
        if (!server->isListening())
            continue;
        server->pauseAccepting();
        while (QTcpSocket* pending = server->nextPendingConnection()) {
            pending->abort();
            delete pending;
        }
        server->close();
    }
    for (const QPointer<QTcpSocket>& socket : m_connections) {
        if (!socket)
            continue;
        if (socket->property("answered").toBool()) {
            socket->flush(); // the page goes out before the connection closes
            socket->disconnectFromHost();
        } else {
            socket->abort();
        }
    }
    m_connections.clear();
}

void LoopbackCallbackServer::accept(QTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        m_connections.removeIf([](const QPointer<QTcpSocket>& s) { return s.isNull(); });
        if (m_connections.size() >= maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this);
        m_connections.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handle(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackCallbackServer::handle(QTcpSocket* socket) {
    // Only the first chunk counts: one read, then the socket is answered or left alone.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QByteArray chunk = socket->read(16384);
    if (chunk.isEmpty())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(chunk);
    if (decoder.hasError())
        return; // not a browser request; no reply
    const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString target = pieces.size() >= 2 ? pieces.at(1) : QString();
    const QUrl url(QStringLiteral("http://localhost") + target, QUrl::StrictMode);
    if (!target.startsWith(m_path) || !url.isValid()) {
        respond(socket, "404 Not Found", "Not found");
        return;
    }
    respond(socket, "200 OK", successPage());
    if (!m_reported) {
        m_reported = true;
        Q_EMIT callbackReceived(url);
    }
}

void LoopbackCallbackServer::respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& body) {
    socket->setProperty("answered", true);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
}

QByteArray LoopbackCallbackServer::successPage() {
    return QByteArrayLiteral(
        "<html><head><title>Norvela</title></head>\n"
        "<body style=\"font-family:-apple-system;display:flex;align-items:center;justify-content:center;"
        "height:90vh\">\n"
        "<div style=\"text-align:center\"><h2>Account linked to Norvela</h2>\n"
        "<p>You can close this window and return to the app.</p></div>\n"
        "</body></html>");
}

} // namespace norvela
