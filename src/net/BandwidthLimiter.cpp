#include "BandwidthLimiter.h"

#include <QPointer>

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
    // Empty: a new rate never opens with a burst saved up under the old one.
    m_allowance = 0;
    m_lastCheckMs = m_clock.monotonicMs();
}

qint64 BandwidthLimiter::pieceSize(qint64 most, qint64 unit) const {
    if (m_bytesPerSecond <= 0)
        return most;
    const qint64 units = qint64(m_bytesPerSecond / 4 / double(unit));
    return std::clamp(units * unit, unit, std::max(most, unit));
}

QCoro::Task<> BandwidthLimiter::take(qint64 bytes, QObject* context) {
    if (m_bytesPerSecond <= 0)
        co_return;
    const qint64 nowMs = m_clock.monotonicMs();
    m_allowance =
        std::min(m_allowance + double(nowMs - m_lastCheckMs) / 1000.0 * m_bytesPerSecond, m_bytesPerSecond);
    m_lastCheckMs = nowMs;
    // Taken at once, as a debt when the bucket holds too little: the time a caller waits
    // pays its own debt and is credited once, and a caller arriving meanwhile queues behind it.
    m_allowance -= double(bytes);
    if (m_allowance >= 0)
        co_return;
    // A day at most: a rate set absurdly low must not overflow the sleep.
    const double waitSeconds = std::min(-m_allowance / m_bytesPerSecond, 86400.0);
    // Without a context the sleep would return at once and the caller would go unpaced;
    // the limiter lives for the whole process, so it stands in as the owner.
    const QPointer<QObject> owner(context);
    co_await m_clock.sleep(std::chrono::milliseconds(std::llround(std::ceil(waitSeconds * 1000.0))),
                           context ? context : this);
    // An owner gone mid-wait sends nothing: its bytes go back, so no one else waits for them.
    if (context && !owner)
        m_allowance = std::min(m_allowance + double(bytes), m_bytesPerSecond);
}

} // namespace norvela
