#include "BandwidthLimiter.h"

#include <algorithm>
#include <cmath>

namespace norvela {

BandwidthLimiter::BandwidthLimiter(Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_lastCheckMs(clock.monotonicMs()) {}

BandwidthLimiter& BandwidthLimiter::shared() {
    static BandwidthLimiter limiter;
    return limiter;
}

void BandwidthLimiter::configure(double bytesPerSecond) {
    m_bytesPerSecond = bytesPerSecond >= 0 ? bytesPerSecond : 0;
    m_allowance = m_bytesPerSecond;
    m_lastCheckMs = m_clock.monotonicMs();
}

QCoro::Task<> BandwidthLimiter::take(qint64 bytes, QObject* context) {
    if (m_bytesPerSecond <= 0)
        co_return;
    const qint64 nowMs = m_clock.monotonicMs();
    m_allowance += double(nowMs - m_lastCheckMs) / 1000.0 * m_bytesPerSecond;
    m_lastCheckMs = nowMs;
    m_allowance = std::min(m_allowance, m_bytesPerSecond);
    if (m_allowance >= double(bytes)) {
        m_allowance -= double(bytes);
        co_return;
    }
    // A day at most: a rate set absurdly low must not overflow the sleep.
    const double waitSeconds = std::min((double(bytes) - m_allowance) / m_bytesPerSecond, 86400.0);
    // The wait is not booked into lastCheck: the next call credits it again, up to the cap.
    // Without a context the sleep would return at once and the caller would go unpaced;
    // the limiter lives for the whole process, so it stands in as the owner.
    co_await m_clock.sleep(std::chrono::milliseconds(std::llround(std::ceil(waitSeconds * 1000.0))),
                           context ? context : this);
    m_allowance = 0;
}

} // namespace norvela
