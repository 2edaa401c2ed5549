#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace norvela {

// Drive folder ids by path relative to the account's local folder ("" is the top folder).
// Drive allows several folders of one name under one parent, so two uploads that look up the
// same missing folder at the same time must not both create it: the first caller runs the
// lookup and every overlapping caller of that key awaits its outcome.
class DriveFolderCache : public QObject {
    Q_OBJECT
public:
    using Lookup = std::function<QCoro::Task<QString>()>;

    explicit DriveFolderCache(QObject* parent = nullptr);
    ~DriveFolderCache() override;

    // The id cached under `key`, or the outcome of the lookup of `key` already under way, or
    // else of `lookup`, which is called at once and whose id is then cached. A failure reaches
    // every caller waiting for it and is not cached, so the next call looks again.
    QCoro::Task<QString> resolve(QString key, Lookup lookup);

    // Forgets every id. A lookup still under way finishes for its callers but caches nothing.
    void clear();

    bool contains(const QString& key) const { return m_ids.contains(key); }

private:
    class Pending;

    QHash<QString, QString> m_ids;
    QHash<QString, std::weak_ptr<Pending>> m_pending;
    quint64 m_generation = 0;
};

} // namespace norvela
