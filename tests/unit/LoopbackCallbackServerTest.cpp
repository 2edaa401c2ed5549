#include "auth/LoopbackCallbackServer.h"
#include "HttpClient.h"
#include "TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;

namespace {

// A free port for a server that tests create and drop.
quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(LoopbackCallbackServer, AnswersTheCallbackOnceAndEverythingElseWith404) {
    const quint16 port = freePort();
    LoopbackCallbackServer server(port, QStringLiteral("/oauth/callback"));
    QList<QUrl> received;
    QObject::connect(&server, &LoopbackCallbackServer::callbackReceived,
                     [&](const QUrl& u) { received << u; });

    const QByteArray icon = rawExchange(port, "GET /favicon.ico HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_TRUE(icon.startsWith("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(icon.contains("Content-Length: 9\r\n"));
    EXPECT_TRUE(icon.endsWith("\r\n\r\nNot found"));
    EXPECT_TRUE(received.isEmpty());

    const QByteArray page = rawExchange(port, "GET /oauth/callbackXYZ?code=abc&state=s%2B1 HTTP/1.1\r\n\r\n");
    const QByteArray success = LoopbackCallbackServer::successPage();
    EXPECT_TRUE(
        page.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                        QByteArray::number(success.size()) + "\r\n"));
    EXPECT_TRUE(page.endsWith(success));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(QUrlQuery(received.first()).queryItemValue("state", QUrl::FullyDecoded), "s+1");

    // Later matches get the page but report nothing; junk gets nothing at all.
    EXPECT_TRUE(
        rawExchange(port, "GET /oauth/callback?code=again HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK"));
    EXPECT_EQ(rawExchange(port, QByteArray("GET /oauth/callback\xff\xfe HTTP/1.1\r\n\r\n"), 300), "");
    EXPECT_EQ(received.size(), 1);
}

TEST(LoopbackCallbackServer, FloodingClientsAreCappedAndStopClosesEveryConnection) {
    const quint16 port = freePort();
    LoopbackCallbackServer server(port, QStringLiteral("/oauth/google"));
    bool reported = false;
    QObject::connect(&server, &LoopbackCallbackServer::callbackReceived, [&] { reported = true; });
    auto connectMany = [&](int n) {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < n; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
        }
        return sockets;
    };
    {
        const auto flood = connectMany(200);
        waitFor([&] { return server.openConnections() >= LoopbackCallbackServer::maxConnections; });
        EXPECT_LE(server.openConnections(), LoopbackCallbackServer::maxConnections);
    }
    waitFor([&] { return server.openConnections() == 0; });
    EXPECT_TRUE(rawExchange(port, "GET /oauth/google?code=1 HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK"));

    // Connections that never said anything are closed by stop() too.
    const auto silent = connectMany(5);
    // At least these five: stragglers from the flood may still be counted on a loaded machine.
    ASSERT_TRUE(waitFor([&] { return server.openConnections() >= 5; }));
    server.stop();
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(silent.begin(), silent.end(),
                           [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; });
    }));
    EXPECT_TRUE(reported);
}
