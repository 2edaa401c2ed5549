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

TEST(LoopbackCallbackServer, ReportsOnlyTheRedirectWithItsStateAndAnswersEverythingElse) {
    const quint16 port = freePort();
    LoopbackCallbackServer server(port, QStringLiteral("/oauth/callback"), QStringLiteral("s+1"));
    QList<QUrl> received;
    QObject::connect(&server, &LoopbackCallbackServer::callbackReceived,
                     [&](const QUrl& u) { received << u; });

    const QByteArray icon = rawExchange(port, "GET /favicon.ico HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_TRUE(icon.startsWith("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(icon.contains("Content-Length: 9\r\n"));
    EXPECT_TRUE(icon.endsWith("\r\n\r\nNot found"));

    // Turned away, and none of them ends the wait: another path, another method, another
    // attempt's state (or none, or the right one only second), a request that is not HTTP.
    const std::pair<QByteArray, QByteArray> ignored[] = {
        {"GET /oauth/callbackXYZ?code=abc&state=s%2B1 HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"POST /oauth/callback?code=abc&state=s%2B1 HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 405 Method Not Allowed\r\n"},
        {"HEAD /oauth/callback?code=abc&state=s%2B1 HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
        {"GET /oauth/callback?code=abc&state=forged HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /oauth/callback?code=abc HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /oauth/callback?state=other&state=s%2B1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /oauth/callback?code=abc&state=s%2B1\xff\xfe HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET //evil.example/oauth/callback?state=s%2B1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /oauth/callback?state=s%2B1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"\x16\x03\x01\x02\x01\x01\x02\x01\xfc\x03\x03\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
    };
    for (const auto& [request, answer] : ignored) {
        SCOPED_TRACE(request.constData());
        EXPECT_TRUE(rawExchange(port, request).startsWith(answer));
    }
    EXPECT_TRUE(rawExchange(port, "GET /oauth/callback?state=x HTTP/1.1\r\n\r\n")
                    .endsWith(LoopbackCallbackServer::stalePage()));
    EXPECT_TRUE(received.isEmpty());

    // The request head may arrive in pieces.
    QTcpSocket browser;
    browser.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(waitFor([&] { return browser.state() == QAbstractSocket::ConnectedState; }));
    browser.write("GET /oauth/callback?code=abc&state=s%2B1 HT");
    browser.flush();
    processEvents();
    browser.write("TP/1.1\r\nHost: localhost\r\n\r\n");
    QByteArray page;
    ASSERT_TRUE(waitFor([&] {
        page += browser.readAll();
        return browser.state() == QAbstractSocket::UnconnectedState;
    }));
    const QByteArray success = LoopbackCallbackServer::successPage();
    EXPECT_TRUE(
        page.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                        QByteArray::number(success.size()) + "\r\n"));
    EXPECT_TRUE(page.endsWith(success));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(QUrlQuery(received.first()).queryItemValue("code"), "abc");

    // Later matches get the page but report nothing.
    EXPECT_TRUE(rawExchange(port, "GET /oauth/callback?code=again&state=s%2B1 HTTP/1.1\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK"));
    EXPECT_EQ(received.size(), 1);
}

TEST(LoopbackCallbackServer, SilentTricklingOrOversizedClientsAreDropped) {
    const quint16 port = freePort();
    LoopbackCallbackServer server(port, QStringLiteral("/oauth/callback"), QStringLiteral("s"));
    server.setIdleTimeout(std::chrono::milliseconds(300));
    bool reported = false;
    QObject::connect(&server, &LoopbackCallbackServer::callbackReceived, [&] { reported = true; });

    QTcpSocket silent, trickling;
    for (QTcpSocket* socket : {&silent, &trickling})
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(waitFor([&] { return server.openConnections() == 2; }));
    // A byte now and then does not keep a connection that never completes its request.
    const QByteArray request = "GET /oauth/callback?state=s HTTP/1.1\r\n";
    qsizetype sent = 0;
    EXPECT_TRUE(waitFor([&] {
        if (trickling.state() == QAbstractSocket::ConnectedState && sent < request.size())
            trickling.write(request.mid(sent++, 1));
        return silent.state() == QAbstractSocket::UnconnectedState &&
               trickling.state() == QAbstractSocket::UnconnectedState;
    }));
    EXPECT_TRUE(waitFor([&] { return server.openConnections() == 0; }));

    const QByteArray huge =
        "GET /oauth/callback?state=s&pad=" + QByteArray(LoopbackCallbackServer::maxHeadBytes, 'a') +
        " HTTP/1.1\r\n\r\n";
    EXPECT_TRUE(rawExchange(port, huge).startsWith("HTTP/1.1 431 "));
    EXPECT_FALSE(reported);
    // The server still answers the browser afterwards.
    EXPECT_TRUE(rawExchange(port, "GET /oauth/callback?state=s&code=c HTTP/1.1\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK"));
    EXPECT_TRUE(reported);
}

TEST(LoopbackCallbackServer, FloodingClientsAreCappedAndStopClosesEveryConnection) {
    const quint16 port = freePort();
    LoopbackCallbackServer server(port, QStringLiteral("/oauth/google"), QStringLiteral("st"));
    QList<QUrl> received;
    QObject::connect(&server, &LoopbackCallbackServer::callbackReceived,
                     [&](const QUrl& u) { received << u; });
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
    // Answered afterwards; a refusal with the right state is reported, with its own page.
    EXPECT_TRUE(rawExchange(port, "GET /oauth/google?error=access_denied&state=st HTTP/1.1\r\n\r\n")
                    .endsWith(LoopbackCallbackServer::deniedPage()));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(QUrlQuery(received.first()).queryItemValue("error"), "access_denied");

    // Connections that never said anything are closed by stop() too.
    const auto silent = connectMany(5);
    // At least these five: stragglers from the flood may still be counted on a loaded machine.
    ASSERT_TRUE(waitFor([&] { return server.openConnections() >= 5; }));
    server.stop();
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(silent.begin(), silent.end(),
                           [](const auto& s) { return s->state() == QAbstractSocket::UnconnectedState; });
    }));
}
