#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>

namespace norvela {

// Receives the one OAuth redirect of a linking attempt from the user's browser on a fixed
// loopback port, answers it with the "account linked" page and reports the redirect's URL.
// It reads only the first chunk of each connection and looks only at the request target.
class LoopbackCallbackServer : public QObject {
    Q_OBJECT
public:
    // Too many open connections means something other than a browser is talking to us.
    static constexpr int maxConnections = 64;

    // Listens on 127.0.0.1 (and ::1 where available). Throws NorvelaError when the port
    // cannot be bound, e.g. because it is in use.
    LoopbackCallbackServer(quint16 port, QString path, QObject* parent = nullptr);
    ~LoopbackCallbackServer() override;

    // Closes the listeners and every connection.
    void stop();
    int openConnections() const { return int(m_connections.size()); }

    static QByteArray successPage();

Q_SIGNALS:
    // The first matching request; later ones get the page but are not reported.
    void callbackReceived(const QUrl& url);

private:
    void accept(QTcpServer* server);
    void handle(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& body);

    QString m_path;
    QList<QTcpServer*> m_servers;
    QList<QPointer<QTcpSocket>> m_connections;
    bool m_reported = false;
};

} // namespace norvela
