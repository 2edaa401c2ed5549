#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

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

// The one awaitable request helper: sends HTTP/1.1 over connections kept alive per origin
// (see ConnectionPool), owns the time-outs and the size of what it accepts, and turns transport failures (no
// HTTP reply at all, a reply over its size, an exchange over its deadline) into a NetworkError. Any HTTP
// status is returned, not thrown: callers judge it.
namespace Http {

// Every JSON reply a service sends us is a few kilobytes; anything near this is not one.
constexpr qint64 defaultMaxReplyBytes = 1024 * 1024;
// The slowest link a transfer is given time for (128 kbit/s), when the deadline is derived.
constexpr qint64 slowestBytesPerSecond = 16 * 1024;

// What one exchange may cost beyond the inactivity time-out.
struct Limits {
    // A reply announcing or delivering more body bytes than this is cut off.
    qint64 maxReplyBytes = defaultMaxReplyBytes;
    // From sending to the last byte of the reply; unset: deadlineFor() the exchange.
    std::optional<std::chrono::milliseconds> deadline;
};

// The reply cap for downloading a file the service reported as `size` bytes: the size plus
// room for a file that grew a little since it was listed.
qint64 downloadLimit(qint64 size);
// Twice the inactivity time-out plus the time the request body and the largest accepted
// reply take at slowestBytesPerSecond: a reply trickling a byte now and then, which never
// trips the inactivity time-out, still ends.
std::chrono::milliseconds deadlineFor(std::chrono::milliseconds timeout, qint64 bodyBytes,
                                      qint64 maxReplyBytes);

// Requests sent and not yet finished, on any thread; lets shutdown wait for replies.
int inFlight();

// `timeout` is the inactivity time-out: the longest wait for the next byte either way.
QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QByteArray body,
                             std::chrono::milliseconds timeout, Limits limits = {});

// For a request the service must not carry out twice (one that creates something): when a
// kept connection drops as the request goes out, send() sends it again on a new one, though
// the service may already have acted on the first copy. Here that failure reaches the caller
// as a NetworkError instead, whose outcome it must find out.
QCoro::Task<HttpResult> sendOnce(QNetworkRequest request, QByteArray method, QByteArray body,
                                 std::chrono::milliseconds timeout, Limits limits = {});

// Letters and digits kept, every other byte of the UTF-8 text as %XX (upper-case hex).
QByteArray formEncode(const QString& value);

} // namespace Http
} // namespace norvela
