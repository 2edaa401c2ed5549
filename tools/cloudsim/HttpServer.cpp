#include "HttpServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace cloudsim {

// One client connection; requests are answered one after the other.
class Connection : public QObject {
public:
    Connection(HttpServer& server, QTcpSocket* socket, quint64 id)
        : QObject(socket), m_server(server), m_socket(socket), m_id(id) {
        connect(socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &Connection::pump);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            if (m_state == State::body) // the client gave up mid-upload
                dropped();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    enum class State { head, body, responding };
    static constexpr qint64 headSlice = 16 * 1024;
    static constexpr qint64 bodySlice = 256 * 1024;

    void onReadyRead() {
        if (m_state == State::body)
            return readBody();
        if (m_state == State::responding) {
            m_buffer += m_socket->readAll();
            if (m_buffer.size() > HttpServer::maxHeaderBytes)
                m_socket->abort(); // a client flooding while it is being answered
            return;
        }
        // A slice at a time, so that a body behind the head stays in the socket for readBody.
        while (m_state == State::head && m_socket->bytesAvailable() > 0) {
            const qsizetype had = m_buffer.size();
            m_buffer.resize(had + headSlice);
            const qint64 n = m_socket->read(m_buffer.data() + had, headSlice);
            m_buffer.resize(had + std::max<qint64>(n, 0));
            if (n <= 0)
                break;
            parseHead();
        }
    }

    void fail(int status) {
        HttpResponse r = HttpResponse::text(status, HttpResponse::reasonPhrase(status));
        m_keepAlive = false;
        send(r);
    }

    void parseHead() {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > HttpServer::maxHeaderBytes)
                fail(431);
            return;
        }
        if (end > HttpServer::maxHeaderBytes)
            return fail(431);
        RequestHead head = RequestHead::parse(m_buffer.left(end), HttpServer::maxBodyBytes);
        m_buffer.remove(0, end + 4);
        m_keepAlive = head.keepAlive;
        if (head.refusal)
            return fail(head.refusal);
        m_request = std::move(head.request);
        m_request.connection = m_id;
        m_bodyLength = head.bodyLength;
        m_received = 0;
        HttpServer::BodyPlan plan =
            m_server.m_headHook ? m_server.m_headHook(m_request) : HttpServer::BodyPlan{};
        m_dropAfter = plan.dropAfter;
        m_sink = std::move(plan.sink);
        if (!m_sink)
            m_request.body.reserve(m_bodyLength);
        m_state = State::body;
        readBody();
    }

    // Moves what has arrived of the body to the sink, or to the request when it is gathered.
    void readBody() {
        const qint64 end = m_dropAfter >= 0 ? std::min(m_dropAfter, m_bodyLength) : m_bodyLength;
        if (m_received < end && !m_buffer.isEmpty()) {
            const qint64 n = std::min<qint64>(end - m_received, m_buffer.size());
            take(QByteArrayView(m_buffer).first(n));
            m_buffer.remove(0, n);
        }
        while (m_received < end && m_socket->bytesAvailable() > 0) {
            qint64 n = 0;
            if (m_sink) {
                if (m_slice.isEmpty())
                    m_slice.resize(bodySlice);
                n = m_socket->read(m_slice.data(), std::min(end - m_received, bodySlice));
                if (n > 0)
                    m_sink->write(QByteArrayView(m_slice).first(n));
            } else {
                const qsizetype had = m_request.body.size();
                m_request.body.resize(had + (end - m_received));
                n = m_socket->read(m_request.body.data() + had, end - m_received);
                m_request.body.resize(had + std::max<qint64>(n, 0));
            }
            if (n <= 0)
                break;
            m_received += n;
        }
        if (m_dropAfter >= 0 && m_received >= end) {
            dropped();
            m_socket->abort(); // a fault: the connection dies mid-upload
            return;
        }
        if (m_received < m_bodyLength)
            return;
        m_buffer += m_socket->readAll(); // a pipelined next request waits its turn
        m_state = State::responding;
        HttpResponse response = m_sink ? m_sink->finish() : m_server.m_handler(m_request);
        m_sink.reset();
        m_request.body = QByteArray();
        send(std::move(response));
    }

    void take(QByteArrayView bytes) {
        if (m_sink)
            m_sink->write(bytes);
        else
            m_request.body.append(bytes);
        m_received += bytes.size();
    }

    void dropped() {
        m_state = State::head; // reported once
        if (m_sink) {
            m_sink->abandon();
            m_sink.reset();
        }
        if (m_server.m_dropHook)
            m_server.m_dropHook(m_request, m_received);
    }

    void send(HttpResponse response) {
        m_state = State::responding;
        m_response = std::move(response);
        const qint64 bodySize = m_response.bodyDevice ? m_response.bodyDeviceSize : m_response.body.size();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' +
                          HttpResponse::reasonPhrase(m_response.status) + "\r\n";
        for (const auto& [name, value] : m_response.headers)
            head += name + ": " + value + "\r\n";
        head += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
        head += m_keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        m_pending = head + m_response.body;
        m_response.body.clear();
        m_deviceLeft = m_response.bodyDevice ? bodySize : 0;
        m_sent = 0;
        m_started = m_response.delayMs <= 0;
        if (!m_started)
            QTimer::singleShot(m_response.delayMs, this, [this] {
                m_started = true;
                pump();
            });
        else
            pump();
    }

    // Feeds the socket, keeping at most a few megabytes queued, at the reply's pace.
    void pump() {
        if (m_state != State::responding || !m_started || m_trickleWaiting)
            return;
        constexpr qint64 window = 2 * 1024 * 1024;
        while (m_socket->bytesToWrite() < window) {
            if (m_pending.isEmpty() && m_deviceLeft > 0) {
                m_pending = m_response.bodyDevice->read(std::min<qint64>(m_deviceLeft, 1024 * 1024));
                if (m_pending.isEmpty()) {
                    m_socket->abort(); // the stored bytes went missing
                    return;
                }
                m_deviceLeft -= m_pending.size();
            }
            if (m_pending.isEmpty())
                break;
            qint64 piece = m_pending.size();
            if (m_response.bytesPerSecond > 0)
                piece = std::min<qint64>(piece, std::max<qint64>(1, m_response.bytesPerSecond / 10));
            if (m_response.closeAfterBytes >= 0)
                piece = std::min<qint64>(piece, m_response.closeAfterBytes - m_sent);
            if (piece <= 0) {
                m_socket->flush();
                m_socket->abort(); // a fault: the connection dies mid-reply
                return;
            }
            m_socket->write(m_pending.constData(), piece);
            m_pending.remove(0, piece);
            m_sent += piece;
            if (m_response.bytesPerSecond > 0) {
                m_trickleWaiting = true;
                QTimer::singleShot(100, this, [this] {
                    m_trickleWaiting = false;
                    pump();
                });
                return;
            }
        }
        if (!m_pending.isEmpty() || m_deviceLeft > 0 || m_socket->bytesToWrite() > 0)
            return;
        m_response = HttpResponse{};
        if (!m_keepAlive) {
            m_socket->disconnectFromHost();
            return;
        }
        m_state = State::head;
        if (!m_buffer.isEmpty())
            QTimer::singleShot(0, this, &Connection::parseHead);
    }

    HttpServer& m_server;
    QTcpSocket* m_socket;
    quint64 m_id;
    State m_state = State::head;
    QByteArray m_buffer;
    HttpRequest m_request;
    qint64 m_bodyLength = 0;
    qint64 m_received = 0; // body bytes so far
    qint64 m_dropAfter = -1;
    std::unique_ptr<BodySink> m_sink;
    QByteArray m_slice; // what each read from the socket goes through on its way to the sink
    bool m_keepAlive = true;
    HttpResponse m_response;
    QByteArray m_pending;
    qint64 m_deviceLeft = 0;
    qint64 m_sent = 0;
    bool m_started = true;
    bool m_trickleWaiting = false;
};

HttpServer::HttpServer(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler)) {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection())
            new Connection(*this, socket, m_nextConnection++);
    });
}

bool HttpServer::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

} // namespace cloudsim
