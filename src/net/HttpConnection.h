#pragma once

#include "Http.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <coroutine>

namespace norvela {

// One HTTP/1.1 connection to one origin, carrying one exchange at a time and kept alive
// between them. Everything runs on the thread that made it, driven by its socket's signals;
// the exchange's owner awaits finished() and then reads the outcome. Ours rather than Qt's
// network manager, which spends about half a millisecond of CPU on a request (most of what
// uploading a small file costs) and leaves Nagle's algorithm on.
class HttpConnection : public QObject {
public:
    enum class Outcome {
        pending,
        replied,
        // Dropped before a single byte of the reply came: the service may or may not have
        // received the request, which matters when it must not be carried out twice.
        lostBeforeReply,
        tooLarge, // over Bounds::maxReplyBytes, announced or delivered
        tooSlow,  // over Bounds::deadline
        failed,
    };

    // What the exchange may cost; see Http::Limits.
    struct Bounds {
        qint64 maxReplyBytes = 0;
        std::chrono::milliseconds inactivity{0};
        std::chrono::milliseconds deadline{0};
        bool replyHasBody = true; // false for HEAD
    };

    // Starts connecting to the URL's scheme, host and port (https verified against the
    // system's certificate authorities).
    explicit HttpConnection(const QUrl& origin, QObject* parent = nullptr);

    // "scheme://host:port", the pool's key.
    static QString originOf(const QUrl& url);

    // Whether another exchange can go out on this connection now: it answered the last one
    // in full, the service did not ask to close it, and it has not closed since.
    bool reusable() const;
    // Whether an exchange went out on it before the one in progress.
    bool reused() const { return m_exchanges > 1; }

    // `head` is the request line and headers, blank line included.
    void start(QByteArray head, QByteArray body, Bounds bounds);

    struct Finished {
        HttpConnection* connection;
        bool await_ready() const noexcept { return connection->m_outcome != Outcome::pending; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { connection->m_waiter = waiter; }
        void await_resume() const noexcept {}
    };
    Finished finished() { return {this}; }

    Outcome outcome() const { return m_outcome; }
    // Why it failed, in words for the person reading the log or the status line.
    const QString& failure() const { return m_failure; }
    HttpResult takeResult() { return std::move(m_result); }

    // The awaiting coroutine is gone: never resume it.
    void abandon();

private:
    enum class Reading { head, lengthBody, chunkSize, chunkData, chunkEnd, trailer, bodyToClose, done };

    void onReady();
    void sendMore();
    void onReadyRead();
    void onClosed();
    void parse();
    bool parseHead(qsizetype end);
    void takeBody(qint64 count);
    void finish(Outcome outcome, const QString& failure = {});
    void fail(const QString& failure);

    QAbstractSocket* m_socket = nullptr;
    bool m_ready = false;
    int m_exchanges = 0;
    std::coroutine_handle<> m_waiter;

    QByteArray m_head;
    QByteArray m_body;
    qint64 m_bodySent = 0;
    bool m_headSent = false;
    Bounds m_bounds;
    QTimer m_inactivity;
    QTimer m_deadline;

    Reading m_reading = Reading::done;
    QByteArray m_in;       // received and not yet parsed
    qint64 m_received = 0; // reply bytes of this exchange, head included
    qint64 m_remaining = 0;
    bool m_keepAlive = false;
    Outcome m_outcome = Outcome::pending;
    QString m_failure;
    HttpResult m_result;
};

} // namespace norvela
