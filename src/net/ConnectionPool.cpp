#include "ConnectionPool.h"

#include "HttpConnection.h"

#include <QCoreApplication>
#include <QThread>

namespace norvela {

ConnectionPool& ConnectionPool::forThisThread() {
    static thread_local QPointer<ConnectionPool> instance;
    if (!instance) {
        instance = new ConnectionPool;
        QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread()) {
            instance->setParent(app);
            QObject::connect(app, &QCoreApplication::aboutToQuit, instance, &ConnectionPool::closeIdle);
        }
        instance->m_sweep.setInterval(std::chrono::seconds(5));
        QObject::connect(&instance->m_sweep, &QTimer::timeout, instance, &ConnectionPool::sweep);
    }
    return *instance;
}

QCoro::Task<ConnectionPool::Lease> ConnectionPool::acquire(QUrl url) {
    const QString origin = HttpConnection::originOf(url);
    while (m_origins[origin].busy >= maxPerOrigin) {
        Waiting waiting(this);
        co_await Turn{&waiting};
    }
    Origin& slot = m_origins[origin];
    ++slot.busy;
    // The most recently used first: the likeliest to be still open.
    while (!slot.idle.isEmpty()) {
        const Idle kept = slot.idle.takeLast();
        if (kept.connection->reusable() && !kept.until.hasExpired())
            co_return Lease(this, origin, kept.connection);
        kept.connection->deleteLater();
    }
    co_return Lease(this, origin, new HttpConnection(url, this));
}

void ConnectionPool::end(const QString& origin, HttpConnection* connection, bool keep) {
    Origin& slot = m_origins[origin];
    --slot.busy;
    if (keep && connection->reusable()) {
        slot.idle.append({connection, QDeadlineTimer(idleTime)});
        if (!m_sweep.isActive())
            m_sweep.start();
    } else {
        connection->abandon();
        connection->deleteLater();
    }
    if (!m_waiting.isEmpty())
        // From the event loop: the request that freed the connection is still unwinding.
        QMetaObject::invokeMethod(this, &ConnectionPool::wakeOne, Qt::QueuedConnection);
}

void ConnectionPool::wakeOne() {
    if (m_waiting.isEmpty())
        return;
    Waiting* waiting = m_waiting.takeFirst();
    std::exchange(waiting->waiter, {}).resume();
}

void ConnectionPool::sweep() {
    bool anyLeft = false;
    for (Origin& slot : m_origins) {
        slot.idle.removeIf([](const Idle& kept) {
            if (kept.connection->reusable() && !kept.until.hasExpired())
                return false;
            kept.connection->deleteLater();
            return true;
        });
        anyLeft = anyLeft || !slot.idle.isEmpty();
    }
    if (!anyLeft)
        m_sweep.stop();
}

void ConnectionPool::closeIdle() {
    for (Origin& slot : m_origins) {
        for (const Idle& kept : slot.idle)
            delete kept.connection;
        slot.idle.clear();
    }
    m_sweep.stop();
}

ConnectionPool::Lease::Lease(ConnectionPool* pool, QString origin, HttpConnection* connection)
    : m_pool(pool), m_origin(std::move(origin)), m_connection(connection) {}

ConnectionPool::Lease::Lease(Lease&& other) noexcept
    : m_pool(std::move(other.m_pool)), m_origin(std::move(other.m_origin)),
      m_connection(std::exchange(other.m_connection, nullptr)) {}

ConnectionPool::Lease& ConnectionPool::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        end(false);
        m_pool = std::move(other.m_pool);
        m_origin = std::move(other.m_origin);
        m_connection = std::exchange(other.m_connection, nullptr);
    }
    return *this;
}

ConnectionPool::Lease::~Lease() {
    end(false);
}

void ConnectionPool::Lease::giveBack() {
    end(true);
}

void ConnectionPool::Lease::end(bool keep) {
    // A connection is its pool's child: with the pool gone, so is the connection.
    HttpConnection* connection = std::exchange(m_connection, nullptr);
    if (connection && m_pool)
        m_pool->end(m_origin, connection, keep);
}

} // namespace norvela
