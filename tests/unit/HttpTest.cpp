#include "net/Http.h"
#include "net/ConnectionPool.h"
#include "net/DecodeError.h"
#include "net/NetworkError.h"

#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QPointer>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <optional>
#include <sys/socket.h>

using namespace norvela;
using namespace std::chrono_literals;

namespace {

// A server that answers every request with fixed bytes and then, if asked, keeps the reply
// going one byte at a time for as long as the client listens.
class ScriptedServer : public QObject {
public:
    explicit ScriptedServer(QByteArray reply, bool drip = false) : m_reply(std::move(reply)), m_drip(drip) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/x").arg(m_server.serverPort()); }
    qint64 dripped() const { return m_dripped; }

private:
    void serve(QTcpSocket* socket) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            if (!socket->readAll().contains("\r\n\r\n") || socket->property("served").toBool())
                return;
            socket->setProperty("served", true);
            socket->write(m_reply);
            if (!m_drip) {
                socket->disconnectFromHost();
                return;
            }
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [this, socket] {
                socket->write("x");
                ++m_dripped;
            });
            timer->start(50);
        });
    }

    QTcpServer m_server;
    QByteArray m_reply;
    bool m_drip;
    qint64 m_dripped = 0;
};

// Answers each request with the SHA-1 of its body, keeping connections open. Asked to, it
// drops the first request to arrive on a connection already used (read whole, unanswered, the
// connection closed: what a server does that drops an idle connection just as a request
// comes in), or holds every answer until released.
class DigestServer : public QObject {
public:
    enum class Mode { answer, dropOneReused, hold };

    explicit DigestServer(Mode mode, std::unique_ptr<QTcpServer> server = std::make_unique<QTcpServer>())
        : m_server(std::move(server)), m_mode(mode) {
        m_server->listen(QHostAddress::LocalHost, 0);
        const auto accept = [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                ++m_connections;
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        };
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, accept);
    }
    QUrl url(const char* scheme = "http") const {
        return QUrl(
            QStringLiteral("%1://127.0.0.1:%2/x").arg(QLatin1String(scheme)).arg(m_server->serverPort()));
    }
    quint16 port() const { return m_server->serverPort(); }
    int dropped() const { return m_dropped; }
    int connections() const { return m_connections; }
    int requests() const { return m_requests; }
    int held() const { return int(m_held.size()); }
    void release() {
        m_mode = Mode::answer;
        for (const auto& [socket, reply] : std::exchange(m_held, {}))
            if (socket)
                socket->write(reply);
    }

private:
    void serve(QTcpSocket* socket) {
        QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        qint64 length = 0;
        for (const QByteArray& line : buffer.left(headEnd).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length) {
            socket->setProperty("buffer", buffer);
            return;
        }
        ++m_requests;
        socket->setProperty("buffer", QByteArray());
        const int served = socket->property("served").toInt();
        socket->setProperty("served", served + 1);
        if (m_mode == Mode::dropOneReused && served > 0 && m_dropped == 0) {
            ++m_dropped;
            socket->close();
            return;
        }
        const QByteArray reply =
            "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" +
            QCryptographicHash::hash(buffer.mid(headEnd + 4, length), QCryptographicHash::Sha1).toHex();
        if (m_mode == Mode::hold)
            m_held.emplace_back(socket, reply);
        else
            socket->write(reply);
    }

    std::unique_ptr<QTcpServer> m_server;
    Mode m_mode;
    int m_dropped = 0;
    int m_connections = 0;
    int m_requests = 0;
    std::vector<std::pair<QPointer<QTcpSocket>, QByteArray>> m_held;
};

// A key and a certificate for 127.0.0.1, signed by itself, made for the run.
std::pair<QSslKey, QSslCertificate> selfSigned() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* altName = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(cert, altName, -1);
    X509_EXTENSION_free(altName);
    X509_sign(cert, key, EVP_sha256());
    const auto pem = [](auto write) {
        BIO* bio = BIO_new(BIO_s_mem());
        write(bio);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        QByteArray out(data, size);
        BIO_free(bio);
        return out;
    };
    const QByteArray keyPem =
        pem([&](BIO* bio) { PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr); });
    const QByteArray certPem = pem([&](BIO* bio) { PEM_write_bio_X509(bio, cert); });
    X509_free(cert);
    EVP_PKEY_free(key);
    return {QSslKey(keyPem, QSsl::Ec), QSslCertificate(certPem)};
}

// Whether the client's end of every connection to `port` has Nagle's algorithm off.
std::optional<bool> noDelayTowards(quint16 port) {
    std::optional<bool> all;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != port)
            continue;
        int on = 0;
        socklen_t size = sizeof on;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size) != 0)
            continue;
        all = all.value_or(true) && on != 0;
    }
    return all;
}

QString failure(QCoro::Task<HttpResult> task) {
    try {
        test::await(std::move(task));
    } catch (const NetworkError& error) {
        return error.description();
    }
    return QStringLiteral("no failure");
}

QCoro::Task<HttpResult> get(const ScriptedServer& server, std::chrono::milliseconds timeout,
                            Http::Limits limits = {}) {
    return Http::send(QNetworkRequest(QUrl(server.url())), "GET", QByteArray(), timeout, limits);
}

} // namespace

TEST(Http, AReplyThatTricklesForeverEndsAtTheDeadline) {
    // A byte every 50 ms never lets the inactivity time-out fire.
    ScriptedServer endless("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", true);
    EXPECT_EQ(failure(get(endless, 1s, {.deadline = 700ms})),
              "The server took too long to answer (over 0.7 s).");
    EXPECT_GT(endless.dripped(), 3);

    // Without an explicit deadline one is derived from the time-out and the reply cap.
    ScriptedServer chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000\r\n", true);
    EXPECT_TRUE(failure(get(chunked, 400ms, {.maxReplyBytes = 2000}))
                    .startsWith("The server took too long to answer"));
    EXPECT_EQ(Http::inFlight(), 0);
}

TEST(Http, RepliesLargerThanTheCapAreRefusedWhateverTheyAnnounce) {
    const QByteArray twoKiB(2048, 'a');
    const QString tooLarge = QStringLiteral("The reply was too large (over 1 KB).");
    const Http::Limits oneKiB{.maxReplyBytes = 1024};

    ScriptedServer announced("HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n\r\n" + twoKiB);
    EXPECT_EQ(failure(get(announced, 5s, oneKiB)), tooLarge);
    // A length that fits no integer, or a negative one, is refused before any byte is read.
    for (const QByteArray length : {"1000000000000000000000000000000", "18446744073709551617", "-5"}) {
        SCOPED_TRACE(length.constData());
        ScriptedServer absurd("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\nabc");
        EXPECT_NE(failure(get(absurd, 5s, oneKiB)), "no failure");
    }
    // Unannounced: read until the connection closes, and counted as it comes.
    ScriptedServer unannounced("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + twoKiB);
    EXPECT_EQ(failure(get(unannounced, 5s, oneKiB)), tooLarge);
    ScriptedServer chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" + twoKiB +
                           "\r\n0\r\n\r\n");
    EXPECT_EQ(failure(get(chunked, 5s, oneKiB)), tooLarge);
    // Nothing is asked for compressed, so a compressed body is refused rather than handed on.
    ScriptedServer compressed("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(failure(get(compressed, 5s)),
              "The service's reply came in an encoding not asked for (deflate).");

    // Up to the cap is fine, and so is an error status with a body within it.
    ScriptedServer exact("HTTP/1.1 404 Not Found\r\nContent-Length: 1024\r\n\r\n" + QByteArray(1024, 'b'));
    const HttpResult reply = test::await(get(exact, 5s, oneKiB));
    EXPECT_EQ(reply.status, 404);
    EXPECT_EQ(reply.body.size(), 1024);
    // Downloads may take the size the service reported plus slack, whatever that size says.
    EXPECT_EQ(Http::downloadLimit(2048) - 2048, Http::downloadLimit(0));
    EXPECT_GT(Http::downloadLimit(std::numeric_limits<qint64>::max()), 0);
    EXPECT_GT(Http::downloadLimit(-1), 0);
    EXPECT_EQ(Http::inFlight(), 0);
}

TEST(Http, ABodyCutShortIsAFailureNotAShortReply) {
    // The status line came, the body did not: a download must never pass for the whole file.
    ScriptedServer dropped("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    EXPECT_EQ(failure(get(dropped, 5s)), "The connection closed before the whole reply arrived.");
    ScriptedServer chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789");
    EXPECT_NE(failure(get(chunked, 5s)), "no failure");

    // An error status is still a reply the caller reads, body and all.
    ScriptedServer refused(
        "HTTP/1.1 409 Conflict\r\nContent-Length: 25\r\n\r\n{\"error\":\"path/conflict\"}");
    const HttpResult reply = test::await(get(refused, 5s));
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body, "{\"error\":\"path/conflict\"}");
}

// Every way a reply may be framed gives the same body: chunks (with extensions and a
// trailer) after an interim "Continue", or an old-style reply that ends with its connection.
TEST(Http, RepliesAreReadWhateverTheirFraming) {
    ScriptedServer chunked(
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n"
        "\r\n5;name=x\r\nhello\r\n7\r\n, world\r\n0\r\nTrailer: yes\r\n\r\n");
    const HttpResult a = test::await(get(chunked, 5s));
    EXPECT_EQ(a.status, 201);
    EXPECT_EQ(a.body, "hello, world");
    ScriptedServer old("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil the end");
    const HttpResult b = test::await(get(old, 5s));
    EXPECT_EQ(b.body, "until the end");
    EXPECT_EQ(b.header("content-type"), "text/plain");
    ScriptedServer garbled("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(failure(get(garbled, 5s)), "The service's reply was garbled (a chunk size line).");
}

// A body the network stack may send again is rewound and sent whole on a fresh connection
// when the reused one drops; one sent once is never sent twice: the caller hears the
// connection was lost. Either way the connection gets TCP_NODELAY.
TEST(Http, ABodyIsResentWholeOnlyWhenAllowed) {
    QByteArray body(64 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i * 31 + i / 97);
    const QByteArray digest = QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex();
    const auto post = [&](const DigestServer& server, bool once) {
        QNetworkRequest request(server.url());
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
        return once ? Http::sendOnce(request, "POST", body, 5s) : Http::send(request, "POST", body, 5s);
    };

    DigestServer resent(DigestServer::Mode::dropOneReused);
    EXPECT_EQ(test::await(post(resent, false)).body, digest);
    EXPECT_EQ(noDelayTowards(resent.port()), true);
    const HttpResult again = test::await(post(resent, false));
    EXPECT_EQ(resent.dropped(), 1);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, digest);

    DigestServer once(DigestServer::Mode::dropOneReused);
    EXPECT_EQ(test::await(post(once, true)).body, digest);
    EXPECT_EQ(failure(post(once, true)), "The connection was lost before the service answered.");
    EXPECT_EQ(once.dropped(), 1);
    EXPECT_EQ(Http::inFlight(), 0);
}

// A secure connection is made only to a server whose certificate the system trusts, and is
// then kept for the next request like any other.
TEST(Http, SecureConnectionsAreVerifiedAndKept) {
    const auto [key, certificate] = selfSigned();
    auto tlsServer = std::make_unique<QSslServer>();
    QSslConfiguration serving = QSslConfiguration::defaultConfiguration();
    serving.setLocalCertificate(certificate);
    serving.setPrivateKey(key);
    tlsServer->setSslConfiguration(serving);
    DigestServer server(DigestServer::Mode::answer, std::move(tlsServer));
    const auto post = [&] { return Http::send(QNetworkRequest(server.url("https")), "POST", "abc", 5s); };

    EXPECT_TRUE(failure(post()).contains("self-signed", Qt::CaseInsensitive));
    EXPECT_EQ(server.requests(), 0);

    const QSslConfiguration system = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = system;
    trusting.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(system); });
    const QByteArray digest = QCryptographicHash::hash("abc", QCryptographicHash::Sha1).toHex();
    EXPECT_EQ(test::await(post()).body, digest);
    EXPECT_EQ(test::await(post()).body, digest);
    EXPECT_EQ(server.requests(), 2);
    EXPECT_EQ(server.connections(), 1); // the refused handshake never became one
}

// More requests to one origin than it gets connections wait their turn, then go out on the
// connections the first ones leave open.
TEST(Http, RequestsBeyondTheConnectionCapWaitForAFreeConnection) {
    DigestServer server(DigestServer::Mode::hold);
    std::vector<QCoro::Task<HttpResult>> requests;
    for (int i = 0; i < ConnectionPool::maxPerOrigin + 4; ++i)
        requests.push_back(Http::send(QNetworkRequest(server.url()), "POST", QByteArray::number(i), 5s));
    ASSERT_TRUE(test::waitFor([&] { return server.held() == ConnectionPool::maxPerOrigin; }));
    server.release();
    for (int i = 0; i < int(requests.size()); ++i)
        EXPECT_EQ(test::await(std::move(requests[i])).body,
                  QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha1).toHex());
    EXPECT_EQ(server.connections(), ConnectionPool::maxPerOrigin);
    EXPECT_EQ(server.requests(), ConnectionPool::maxPerOrigin + 4);
}

TEST(DecodeError, IntegersMustBeWholeAndExactlyRepresentable) {
    const QJsonObject o = DecodeError::object(
        R"({"exact":9007199254740992,"negative":-9007199254740992,"beyond":9007199254740993,)"
        R"("huge":1e30,"tiny":-1e300,"half":2.5,"text":"5"})");
    EXPECT_EQ(DecodeError::integer(o, "exact"), 9007199254740992LL);
    EXPECT_EQ(DecodeError::integer(o, "negative"), -9007199254740992LL);
    for (const char* key : {"beyond", "huge", "tiny", "half", "text", "absent"}) {
        SCOPED_TRACE(key);
        EXPECT_THROW(DecodeError::integer(o, key), DecodeError);
    }
}
