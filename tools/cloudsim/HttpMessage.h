#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QJsonDocument>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include <memory>

namespace cloudsim {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    QString path;      // decoded path without the query
    QUrlQuery query;
    HeaderList headers;       // names lower-cased
    QByteArray body;          // empty when the body went to a BodySink as it arrived
    qint64 contentLength = 0; // the body's length, as its head announced it
    quint64 connection = 0;

    QByteArray header(const QByteArray& lowerCaseName) const;
    bool hasHeader(const QByteArray& lowerCaseName) const;
};

// A request head as read from a connection, before its body.
struct RequestHead {
    HttpRequest request; // all but the body and the connection
    qint64 bodyLength = 0;
    bool keepAlive = true;
    int refusal = 0; // the status to refuse the request with (400, 411, 413), or 0

    // `head` is everything before the blank line that ends it.
    static RequestHead parse(const QByteArray& head, qint64 maxBodyBytes);
};

struct HttpResponse {
    int status = 200;
    HeaderList headers;
    QByteArray body;
    // A large body streamed from a device instead of `body` (downloads of stored files).
    std::shared_ptr<QIODevice> bodyDevice;
    qint64 bodyDeviceSize = 0;

    // Faults, applied by the server while answering.
    int delayMs = 0;             // wait before the first byte
    qint64 bytesPerSecond = 0;   // trickle the reply at this rate
    qint64 closeAfterBytes = -1; // drop the connection after this many reply bytes

    void setHeader(const QByteArray& name, const QByteArray& value);
    static HttpResponse json(int status, const QJsonDocument& doc);
    static HttpResponse json(int status, const QByteArray& compactJson);
    static HttpResponse text(int status, const QByteArray& text,
                             const QByteArray& contentType = "text/plain; charset=utf-8");
    static HttpResponse redirect(const QByteArray& location);
    static QByteArray reasonPhrase(int status);
};

} // namespace cloudsim
