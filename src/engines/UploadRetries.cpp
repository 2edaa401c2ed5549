#include "UploadRetries.h"

#include <algorithm>

namespace norvela {

int UploadRetries::failed(const QString& path, qint64 nowMs, std::optional<std::chrono::seconds> retryAfter) {
    Wait& wait = m_waits[path];
    ++wait.attempts;
    qint64 delayMs;
    if (retryAfter) {
        delayMs = std::chrono::milliseconds(*retryAfter).count();
    } else {
        const int doublings = std::min(wait.attempts - 1, 16);
        const qint64 base = std::min<qint64>(qint64(firstWait.count()) << doublings, longestWait.count());
        // Between three quarters and the whole of the step.
        delayMs = base - qint64(nextRandom() % quint32(base / 4 + 1));
    }
    wait.dueMs = nowMs + std::max<qint64>(delayMs, 0);
    return wait.attempts;
}

bool UploadRetries::isDue(const QString& path, qint64 nowMs) const {
    const auto it = m_waits.constFind(path);
    return it == m_waits.cend() || it->dueMs <= nowMs;
}

std::optional<qint64> UploadRetries::nextDueMs() const {
    std::optional<qint64> earliest;
    for (const Wait& wait : m_waits)
        earliest = std::min(earliest.value_or(wait.dueMs), wait.dueMs);
    return earliest;
}

quint32 UploadRetries::nextRandom() {
    // xorshift: jitter needs no quality, only independence between files.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return m_random;
}

} // namespace norvela
