#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPair>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>

namespace norvela {

// One finished HTTP exchange.
struct HttpResult {
    int status = 0;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray& name) const;
    // The body as text, or empty when it is not valid UTF-8.
    QString bodyText() const;
    bool utf8Body() const;
};

// The one awaitable request helper: sends on the main thread's network manager, owns the
// time-out and turns transport failures (no HTTP reply at all) into a NetworkError with
// the platform's text. Any HTTP status is returned, not thrown: callers judge it.
namespace Http {

QNetworkAccessManager& manager();

// Requests sent and not yet finished, on any thread; lets shutdown wait for replies.
int inFlight();

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QByteArray body,
                             std::chrono::milliseconds timeout);
// The body streams from `body`, which must stay open until the call returns.
QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QIODevice* body,
                             std::chrono::milliseconds timeout);

// For a request the service must not carry out twice (one that creates something): the
// network stack cannot send the body again by itself after a dropped connection, as it
// otherwise does even when the service may already have acted on the first copy. Such a
// failure reaches the caller as a NetworkError instead, whose outcome it must find out.
QCoro::Task<HttpResult> sendOnce(QNetworkRequest request, QByteArray method, QByteArray body,
                                 std::chrono::milliseconds timeout);

// Letters and digits kept, every other byte of the UTF-8 text as %XX (upper-case hex).
QByteArray formEncode(const QString& value);

} // namespace Http
} // namespace norvela
