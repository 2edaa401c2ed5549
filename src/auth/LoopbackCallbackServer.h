#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <chrono>
#include <memory>

namespace norvela {

// Receives the one OAuth redirect of a linking attempt from the user's browser on a fixed
// loopback port, answers it with a page and reports the redirect's URL. Anything else that
// reaches the port (another method or path, a redirect with another state, a client that
// never finishes its request) is answered or dropped and changes nothing: the attempt
// keeps waiting for its own redirect.
class LoopbackCallbackServer : public QObject {
    Q_OBJECT
public:
    // Too many open connections means something other than a browser is talking to us.
    static constexpr int maxConnections = 64;
    // A request head larger than this is no browser's redirect.
    static constexpr qsizetype maxHeadBytes = 16 * 1024;

    // Listens on 127.0.0.1 (and ::1 where available) for GET `path` with `state` in its
    // query. Throws NorvelaError when the port cannot be bound, e.g. because it is in use.
    LoopbackCallbackServer(quint16 port, QString path, QString state, QObject* parent = nullptr);
    ~LoopbackCallbackServer() override;

    // A connection without a complete request head after this long is closed, so silent
    // clients cannot hold the connection slots (10 seconds unless a test says otherwise).
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }

    // Closes the listeners and every connection.
    void stop();
    int openConnections() const;

    static QByteArray successPage();
    // For a redirect carrying another attempt's state.
    static QByteArray stalePage();
    // For the redirect of a user who refused access.
    static QByteArray deniedPage();

Q_SIGNALS:
    // The first redirect with the right path and state; later ones get the page but are
    // not reported.
    void callbackReceived(const QUrl& url);

private:
    void accept(QTcpServer* server);
    void handle(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& body,
                 const QByteArray& extraHeaders = {});

    QString m_path;
    QString m_state;
    std::chrono::milliseconds m_idleTimeout = std::chrono::seconds(10);
    QList<QTcpServer*> m_servers;
    QList<QPointer<QTcpSocket>> m_connections;
    bool m_reported = false;
};

} // namespace norvela
