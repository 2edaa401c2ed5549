#include "DriveFolderCache.h"

#include <QPointer>

#include <QCoro/QCoroSignal>

#include <exception>

namespace norvela {

// One lookup under way; the callers that overlap it wait for `finished`.
class DriveFolderCache::Pending : public QObject {
    Q_OBJECT
public:
    bool done = false;
    QString id;
    std::exception_ptr error;
Q_SIGNALS:
    void finished();
};

DriveFolderCache::DriveFolderCache(QObject* parent) : QObject(parent) {}
DriveFolderCache::~DriveFolderCache() = default;

QCoro::Task<QString> DriveFolderCache::resolve(QString key, Lookup lookup) {
    if (const auto it = m_ids.constFind(key); it != m_ids.cend())
        co_return QString(*it);

    if (std::shared_ptr<Pending> pending = m_pending.value(key).lock()) {
        // Waiters resume from queued calls on `pending`, so each keeps it alive until then.
        if (!pending->done)
            co_await qCoro(pending.get(), &Pending::finished);
        if (pending->error)
            std::rethrow_exception(pending->error);
        co_return QString(pending->id);
    }

    const std::shared_ptr<Pending> pending(new Pending, [](Pending* p) { p->deleteLater(); });
    m_pending.insert(key, pending);
    const QPointer<DriveFolderCache> self(this);
    const quint64 generation = m_generation;
    try {
        QCoro::Task<QString> found = lookup();
        pending->id = co_await std::move(found);
    } catch (...) {
        pending->error = std::current_exception();
    }
    pending->done = true;
    // After clear() the id may belong to an account that is no longer linked.
    if (self && generation == m_generation) {
        m_pending.remove(key);
        if (!pending->error)
            m_ids.insert(key, pending->id);
    }
    Q_EMIT pending->finished();
    if (pending->error)
        std::rethrow_exception(pending->error);
    co_return QString(pending->id);
}

void DriveFolderCache::clear() {
    m_ids.clear();
    m_pending.clear();
    ++m_generation;
}

} // namespace norvela

#include "DriveFolderCache.moc"
