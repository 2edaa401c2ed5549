#pragma once

#include "BodySink.h"
#include "HttpMessage.h"

#include <QObject>
#include <QTcpServer>

#include <functional>

namespace cloudsim {

// A small HTTP/1.1 server on the loopback interface: keep-alive, Content-Length bodies,
// request bodies streamed to a sink as they arrive or gathered whole, replies streamed with
// back-pressure, and the fault hooks the emulator needs (delays, trickled replies,
// connections dropped mid-reply or mid-upload).
class HttpServer : public QObject {
    Q_OBJECT
public:
    // Answers a request whose body was gathered whole.
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // What to do with a request's body, decided from its head.
    struct BodyPlan {
        qint64 dropAfter = -1; // drop the connection after this many body bytes (a fault)
        // Takes the body as it arrives and makes the reply; null: gather it for the handler.
        std::unique_ptr<BodySink> sink;
    };
    using HeadHook = std::function<BodyPlan(const HttpRequest& head)>;
    // Sees a request whose connection died before its body was whole, and how many body
    // bytes had arrived.
    using DropHook = std::function<void(const HttpRequest& head, qint64 bodyBytes)>;

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
