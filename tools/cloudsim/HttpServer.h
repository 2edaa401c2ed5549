#pragma once

#include "HttpMessage.h"

#include <QObject>
#include <QTcpServer>

#include <functional>

namespace cloudsim {

// A small HTTP/1.1 server on the loopback interface: keep-alive, Content-Length bodies,
// replies streamed with back-pressure, and the fault hooks the emulator needs (delays,
// trickled replies, connections dropped mid-reply or mid-upload).
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Sees each request's head before its body; returns after how many body bytes to drop
    // the connection, or -1 to read the whole body.
    using HeadHook = std::function<qint64(const HttpRequest& head)>;
    // Sees a request whose connection died before its body was whole: the head and what
    // arrived of the body.
    using DropHook = std::function<void(const HttpRequest& partial)>;

    static constexpr qint64 maxHeaderBytes = 64 * 1024;
    static constexpr qint64 maxBodyBytes = 160LL * 1024 * 1024;

    explicit HttpServer(Handler handler, QObject* parent = nullptr);
    void setHeadHook(HeadHook hook) { m_headHook = std::move(hook); }
    void setDropHook(DropHook hook) { m_dropHook = std::move(hook); }

    bool listen(quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

private:
    friend class Connection;
    QTcpServer m_server;
    Handler m_handler;
    HeadHook m_headHook;
    DropHook m_dropHook;
    quint64 m_nextConnection = 1;
};

} // namespace cloudsim
