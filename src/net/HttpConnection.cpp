#include "HttpConnection.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

namespace norvela {

namespace {

// A reply's status line and headers together; real ones are a few hundred bytes.
constexpr qsizetype maxHeadBytes = 64 * 1024;
// How much of a body waits in the socket's buffer: enough to keep the link busy between
// two "written" notices, little enough that an 8 MiB piece is not copied whole.
constexpr qint64 writeWindow = 512 * 1024;
constexpr qint64 writeSlice = 256 * 1024;

// Digits only, and few enough to fit: a sign, a space or a suffix is no length.
std::optional<qint64> parseLength(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return text.toLongLong();
}

bool hasToken(const QByteArray& list, const char* token) {
    for (const QByteArray& item : list.split(','))
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

HttpConnection::HttpConnection(const QUrl& origin, QObject* parent) : QObject(parent) {
    const bool secure = origin.scheme() == QLatin1String("https");
    const quint16 port = quint16(origin.port(secure ? 443 : 80));
    m_inactivity.setSingleShot(true);
    m_deadline.setSingleShot(true);
    connect(&m_inactivity, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("The server stopped responding (nothing for %1 s).")
                 .arg(QString::number(double(m_bounds.inactivity.count()) / 1000.0, 'g', 4)));
    });
    connect(&m_deadline, &QTimer::timeout, this, [this] { finish(Outcome::tooSlow); });

    // The proxy the system names for this address, as a browser would take; one that only
    // speaks HTTP to fetch pages for us cannot carry our own connection.
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    for (const QNetworkProxy& candidate : QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(origin)))
        if (candidate.capabilities() & QNetworkProxy::TunnelingCapability) {
            proxy = candidate;
            break;
        }
    if (secure) {
        auto* socket = new QSslSocket(this);
        m_socket = socket;
        socket->setProxy(proxy);
        connect(socket, &QSslSocket::encrypted, this, &HttpConnection::onReady);
        if (QSslSocket::supportsSsl())
            socket->connectToHostEncrypted(origin.host(), port);
    } else {
        m_socket = new QTcpSocket(this);
        m_socket->setProxy(proxy);
        connect(m_socket, &QAbstractSocket::connected, this, &HttpConnection::onReady);
        m_socket->connectToHost(origin.host(), port);
    }
    // The last segment of a body must not wait for the acknowledgement of the ones before.
    connect(m_socket, &QAbstractSocket::connected, this,
            [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(m_socket, &QIODevice::bytesWritten, this, [this] {
        if (m_outcome != Outcome::pending)
            return;
        m_inactivity.start();
        sendMore();
    });
    connect(m_socket, &QIODevice::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpConnection::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &HttpConnection::onClosed);
}

QString HttpConnection::originOf(const QUrl& url) {
    const bool secure = url.scheme() == QLatin1String("https");
    return QStringLiteral("%1://%2:%3").arg(url.scheme(), url.host()).arg(url.port(secure ? 443 : 80));
}

bool HttpConnection::reusable() const {
    return m_outcome == Outcome::replied && m_keepAlive && m_in.isEmpty() &&
           m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0;
}

void HttpConnection::start(QByteArray head, QByteArray body, Bounds bounds) {
    ++m_exchanges;
    m_head = std::move(head);
    m_body = std::move(body);
    m_headSent = false;
    m_bodySent = 0;
    m_bounds = bounds;
    m_reading = Reading::head;
    m_in.clear();
    m_received = 0;
    m_keepAlive = false;
    m_outcome = Outcome::pending;
    m_failure.clear();
    m_result = {};
    const auto timerMax = std::chrono::milliseconds(std::numeric_limits<int>::max());
    m_inactivity.start(std::clamp(bounds.inactivity, std::chrono::milliseconds(1), timerMax));
    m_deadline.start(std::clamp(bounds.deadline, std::chrono::milliseconds(0), timerMax));
    if (qobject_cast<QSslSocket*>(m_socket) && !QSslSocket::supportsSsl())
        fail(QStringLiteral("Secure connections are not available: no TLS library was found."));
    else if (m_ready)
        sendMore();
    else if (m_socket->state() == QAbstractSocket::UnconnectedState)
        onClosed();
}

void HttpConnection::abandon() {
    m_waiter = {};
}

void HttpConnection::onReady() {
    m_ready = true;
    if (m_outcome == Outcome::pending && m_reading != Reading::done)
        sendMore();
}

void HttpConnection::sendMore() {
    if (!m_ready || m_outcome != Outcome::pending)
        return;
    const bool first = !m_headSent;
    if (first) {
        m_socket->write(m_head);
        m_headSent = true;
    }
    while (m_bodySent < m_body.size() && m_socket->bytesToWrite() < writeWindow) {
        const qint64 n = std::min(writeSlice, qint64(m_body.size()) - m_bodySent);
        m_socket->write(m_body.constData() + m_bodySent, n);
        m_bodySent += n;
    }
    // Out now rather than at the next turn of the event loop: most requests are one write.
    if (first)
        m_socket->flush();
}

void HttpConnection::onReadyRead() {
    if (m_outcome != Outcome::pending || m_reading == Reading::done) {
        // Bytes nobody asked for: this connection's framing can no longer be trusted.
        m_socket->readAll();
        m_keepAlive = false;
        return;
    }
    m_inactivity.start();
    const QByteArray data = m_socket->readAll();
    m_received += data.size();
    m_in += data;
    parse();
}

void HttpConnection::onClosed() {
    if (m_outcome != Outcome::pending || m_reading == Reading::done)
        return;
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (m_outcome != Outcome::pending)
        return;
    if (m_reading == Reading::bodyToClose) {
        m_reading = Reading::done;
        finish(Outcome::replied);
        return;
    }
    const QAbstractSocket::SocketError error = m_socket->error();
    const bool dropped =
        error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::UnknownSocketError;
    if (m_received == 0)
        finish(Outcome::lostBeforeReply,
               dropped ? QStringLiteral("The connection was lost before the service answered.")
                       : m_socket->errorString());
    else
        fail(QStringLiteral("The connection closed before the whole reply arrived."));
}

void HttpConnection::parse() {
    while (m_outcome == Outcome::pending) {
        switch (m_reading) {
        case Reading::head: {
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_in.size() > maxHeadBytes)
                    fail(QStringLiteral("The service's reply headers were too large."));
                return;
            }
            if (!parseHead(end))
                return;
            break;
        }
        case Reading::lengthBody:
        case Reading::chunkData:
            takeBody(std::min<qint64>(m_remaining, m_in.size()));
            if (m_outcome != Outcome::pending || m_remaining > 0)
                return;
            if (m_reading == Reading::chunkData) {
                m_reading = Reading::chunkEnd;
            } else {
                m_reading = Reading::done;
                finish(Outcome::replied);
            }
            break;
        case Reading::chunkSize: {
            const qsizetype end = m_in.indexOf("\r\n");
            if (end < 0) {
                if (m_in.size() > 1024)
                    fail(QStringLiteral("The service's reply was garbled (a chunk size line)."));
                return;
            }
            QByteArray line = m_in.left(end);
            m_in.remove(0, end + 2);
            if (const qsizetype extension = line.indexOf(';'); extension >= 0)
                line.truncate(extension);
            line = line.trimmed();
            bool ok = !line.isEmpty() && line.size() <= 15;
            const qint64 size = ok ? line.toLongLong(&ok, 16) : 0;
            if (!ok || size < 0) {
                fail(QStringLiteral("The service's reply was garbled (a chunk size line)."));
                return;
            }
            m_remaining = size;
            m_reading = size == 0 ? Reading::trailer : Reading::chunkData;
            break;
        }
        case Reading::chunkEnd:
            if (m_in.size() < 2)
                return;
            if (!m_in.startsWith("\r\n")) {
                fail(QStringLiteral("The service's reply was garbled (a chunk's end)."));
                return;
            }
            m_in.remove(0, 2);
            m_reading = Reading::chunkSize;
            break;
        case Reading::trailer: {
            const qsizetype end = m_in.indexOf("\r\n");
            if (end < 0)
                return;
            m_in.remove(0, end + 2);
            if (end == 0) {
                m_reading = Reading::done;
                finish(Outcome::replied);
            }
            break;
        }
        case Reading::bodyToClose:
            takeBody(m_in.size());
            return;
        case Reading::done:
            return;
        }
    }
}

bool HttpConnection::parseHead(qsizetype end) {
    const QByteArray head = m_in.left(end);
    m_in.remove(0, end + 4);
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray statusLine = lines.first().trimmed();
    bool ok = statusLine.startsWith("HTTP/1.") && statusLine.size() >= 12 && statusLine[8] == ' ';
    const int status = ok ? statusLine.mid(9, 3).toInt(&ok) : 0;
    if (!ok || status < 100 || status > 599) {
        fail(QStringLiteral("The service's reply was not HTTP."));
        return false;
    }
    QList<QPair<QByteArray, QByteArray>> headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            fail(QStringLiteral("The service's reply was garbled (a header line)."));
            return false;
        }
        headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    // "Continue" and other interim answers come before the real one.
    if (status < 200)
        return true;

    m_result.status = status;
    m_result.headers = std::move(headers);
    const QByteArray connection = m_result.header("Connection");
    m_keepAlive = statusLine[7] == '1' ? !hasToken(connection, "close") : hasToken(connection, "keep-alive");
    const QByteArray encoding = m_result.header("Content-Encoding");
    if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0) {
        // We ask for none, so a body in one is not the reply its caller expects.
        fail(QStringLiteral("The service's reply came in an encoding not asked for (%1).")
                 .arg(QString::fromLatin1(encoding.left(40))));
        return false;
    }
    if (!m_bounds.replyHasBody || status == 204 || status == 304) {
        m_reading = Reading::done;
        finish(Outcome::replied);
        return false;
    }
    const QByteArray transfer = m_result.header("Transfer-Encoding");
    if (!transfer.isEmpty()) {
        if (transfer.trimmed().toLower().endsWith("chunked")) {
            m_reading = Reading::chunkSize;
        } else {
            m_reading = Reading::bodyToClose;
            m_keepAlive = false;
        }
        return true;
    }
    QByteArray lengthText;
    for (const auto& [name, value] : m_result.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        if (!lengthText.isNull() && lengthText != value) {
            fail(QStringLiteral("The service's reply announced two lengths."));
            return false;
        }
        lengthText = value;
    }
    if (lengthText.isNull()) {
        m_reading = Reading::bodyToClose;
        m_keepAlive = false;
        return true;
    }
    const std::optional<qint64> length = parseLength(lengthText);
    if (!length) {
        fail(QStringLiteral("The service's reply announced an impossible length."));
        return false;
    }
    if (*length > m_bounds.maxReplyBytes) {
        finish(Outcome::tooLarge);
        return false;
    }
    m_result.body.reserve(*length);
    m_remaining = *length;
    m_reading = Reading::lengthBody;
    return true;
}

void HttpConnection::takeBody(qint64 count) {
    if (m_result.body.size() + count > m_bounds.maxReplyBytes) {
        finish(Outcome::tooLarge);
        return;
    }
    if (count == m_in.size()) {
        m_result.body += m_in;
        m_in.clear();
    } else {
        m_result.body.append(m_in.constData(), count);
        m_in.remove(0, count);
    }
    m_remaining -= count;
}

void HttpConnection::fail(const QString& failure) {
    finish(Outcome::failed, failure);
}

void HttpConnection::finish(Outcome outcome, const QString& failure) {
    if (m_outcome != Outcome::pending)
        return;
    m_outcome = outcome;
    m_failure = failure;
    m_inactivity.stop();
    m_deadline.stop();
    // A reply that came before the whole request went out leaves the request's tail unsent.
    if (m_bodySent < m_body.size() || !m_in.isEmpty())
        m_keepAlive = false;
    m_head = QByteArray();
    m_body = QByteArray();
    if (outcome != Outcome::replied) {
        m_keepAlive = false;
        m_reading = Reading::done;
        m_socket->abort();
    }
    if (m_waiter)
        // Resumed from the event loop, not from inside this socket's signal.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (const std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
                    waiter.resume();
            },
            Qt::QueuedConnection);
}

} // namespace norvela
