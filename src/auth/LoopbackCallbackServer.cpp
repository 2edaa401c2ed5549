#include "LoopbackCallbackServer.h"

#include "CallbackRequest.h"
#include "common/NorvelaError.h"

#include <QTimer>

#include <algorithm>

namespace norvela {

LoopbackCallbackServer::LoopbackCallbackServer(quint16 port, QString path, QString state, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_state(std::move(state)) {
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

int LoopbackCallbackServer::openConnections() const {
    return int(std::count_if(m_connections.cbegin(), m_connections.cend(),
                             [](const QPointer<QTcpSocket>& s) { return !s.isNull(); }));
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
        // Counted from the connection, not from its last byte: trickling does not buy time.
        auto* idle = new QTimer(socket);
        idle->setObjectName(QStringLiteral("idle"));
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_idleTimeout);
    }
}

void LoopbackCallbackServer::handle(QTcpSocket* socket) {
    if (socket->property("answered").toBool()) {
        socket->readAll(); // the rest of an answered request, never looked at
        return;
    }
    QByteArray buffer = socket->property("head").toByteArray() + socket->read(maxHeadBytes + 1);
    const qsizetype length = CallbackRequest::headLength(buffer);
    if (length < 0) {
        if (buffer.size() > maxHeadBytes)
            respond(socket, "431 Request Header Fields Too Large", "Request too large");
        else
            socket->setProperty("head", buffer);
        return;
    }
    socket->setProperty("head", QVariant());

    const std::optional<CallbackRequest> request = CallbackRequest::parse(buffer.left(length));
    if (!request)
        return respond(socket, "400 Bad Request", "Bad request");
    if (request->path() != m_path)
        return respond(socket, "404 Not Found", "Not found");
    if (request->method != "GET")
        return respond(socket, "405 Method Not Allowed", "Method not allowed", "Allow: GET\r\n");
    // Only the attempt that sent the browser out may end it: a redirect with another state
    // (an old tab, a forged link) is turned away and the attempt keeps waiting.
    if (request->item(QStringLiteral("state")) != m_state)
        return respond(socket, "400 Bad Request", stalePage());
    const bool denied = request->item(QStringLiteral("error")).has_value();
    respond(socket, "200 OK", denied ? deniedPage() : successPage());
    if (!m_reported) {
        m_reported = true;
        Q_EMIT callbackReceived(request->url);
    }
}

void LoopbackCallbackServer::respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& body,
                                     const QByteArray& extraHeaders) {
    socket->setProperty("answered", true);
    // The answer gets as long again to drain as the request had to arrive.
    if (auto* idle = socket->findChild<QTimer*>(QStringLiteral("idle")))
        idle->start(m_idleTimeout);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n" + extraHeaders + "Connection: close\r\n\r\n" +
                  body);
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
}

namespace {

QByteArray page(const QByteArray& title, const QByteArray& text) {
    return "<html><head><title>Norvela</title></head>\n"
           "<body style=\"font-family:-apple-system;display:flex;align-items:center;justify-content:center;"
           "height:90vh\">\n"
           "<div style=\"text-align:center\"><h2>" +
           title + "</h2>\n<p>" + text + "</p></div>\n</body></html>";
}

} // namespace

QByteArray LoopbackCallbackServer::stalePage() {
    return page("This sign-in is not the one Norvela is waiting for",
                "It may come from an older window. Start linking again from Norvela.");
}

QByteArray LoopbackCallbackServer::deniedPage() {
    return page("Norvela was not given access", "You can close this window and return to the app.");
}

QByteArray LoopbackCallbackServer::successPage() {
    return page("Account linked to Norvela", "You can close this window and return to the app.");
}

} // namespace norvela
