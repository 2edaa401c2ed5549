#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <optional>

namespace norvela {

// When each file whose upload failed for a passing reason may be tried again: after 3 s,
// doubling to 5 minutes, with jitter so many files that failed together do not all come
// back at once; or after what the service asked for. Other files go on meanwhile.
class UploadRetries {
public:
    static constexpr std::chrono::milliseconds firstWait = std::chrono::seconds(3);
    static constexpr std::chrono::milliseconds longestWait = std::chrono::minutes(5);

    explicit UploadRetries(quint32 seed = 0x6e6f7276) : m_random(seed) {}

    // Records one more failure of `path` at `nowMs`; returns how many it has had.
    int failed(const QString& path, qint64 nowMs, std::optional<std::chrono::seconds> retryAfter = {});
    void forget(const QString& path) { m_waits.remove(path); }
    void clear() { m_waits.clear(); }

    bool isDue(const QString& path, qint64 nowMs) const;
    int attempts(const QString& path) const { return m_waits.value(path).attempts; }
    // The earliest moment a waiting file is due, if any waits.
    std::optional<qint64> nextDueMs() const;

private:
    struct Wait {
        int attempts = 0;
        qint64 dueMs = 0;
    };
    quint32 nextRandom();

    QHash<QString, Wait> m_waits;
    quint32 m_random;
};

} // namespace norvela
