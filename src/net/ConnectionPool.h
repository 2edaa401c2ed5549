#pragma once

#include "HttpConnection.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <coroutine>

namespace norvela {

// The connections of one thread, kept alive between requests per origin, with a cap on how
// many go to one origin at once: more requests than that wait their turn.
class ConnectionPool : public QObject {
public:
    // As many as browsers open to one host.
    static constexpr int maxPerOrigin = 6;
    // Shorter than services keep an idle connection open, so we close it, not they.
    static constexpr std::chrono::seconds idleTime{30};

    // The calling thread's pool; the main thread's closes its connections when the
    // application quits.
    static ConnectionPool& forThisThread();

    // One connection while it carries an exchange. Handed back to the pool only when its
    // exchange was answered in full; otherwise closed when the lease ends.
    class Lease {
    public:
        Lease() = default;
        Lease(ConnectionPool* pool, QString origin, HttpConnection* connection);
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        ~Lease();
        HttpConnection* operator->() const { return m_connection; }
        void giveBack();

    private:
        void end(bool keep);

        QPointer<ConnectionPool> m_pool;
        QString m_origin;
        QPointer<HttpConnection> m_connection;
    };

    // A kept connection to the URL's origin if one is still open, else a new one.
    QCoro::Task<Lease> acquire(QUrl url);

    void closeIdle();

private:
    // A request waiting for one of its origin's connections to come free; it leaves the queue
    // when its coroutine is destroyed while waiting.
    struct Waiting {
        explicit Waiting(ConnectionPool* owner) : pool(owner) {}
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
        ~Waiting() {
            if (waiter)
                pool->m_waiting.removeOne(this);
        }
        ConnectionPool* pool;
        std::coroutine_handle<> waiter;
    };
    struct Turn {
        Waiting* waiting;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) {
            waiting->waiter = waiter;
            waiting->pool->m_waiting.append(waiting);
        }
        void await_resume() const noexcept {}
    };

    struct Idle {
        HttpConnection* connection;
        QDeadlineTimer until;
    };
    struct Origin {
        QList<Idle> idle;
        int busy = 0;
    };

    void end(const QString& origin, HttpConnection* connection, bool keep);
    void wakeOne();
    void sweep();

    QHash<QString, Origin> m_origins;
    QList<Waiting*> m_waiting;
    QTimer m_sweep;
};

} // namespace norvela
