#pragma once

#include "common/Clock.h"

#include <QObject>

#include <QCoro/QCoroTask>

namespace norvela {

// One token bucket for the whole process: the configured rate caps the sum of every
// account's uploads, and it holds at most one second's worth. Lives on the main thread, so calls never
// interleave; a waiting take() suspends without holding anything, and other calls go on meanwhile.
class BandwidthLimiter : public QObject {
    Q_OBJECT
public:
    explicit BandwidthLimiter(Clock& clock = Clock::system(), QObject* parent = nullptr);
    static BandwidthLimiter& shared();

    // Bytes per second, 0 (or negative) for no limit. Empties the bucket.
    void configure(double bytesPerSecond);
    double bytesPerSecond() const { return m_bytesPerSecond; }
    // The configured rate, for choosing upload strategies without waiting on the limiter.
    double activeBytesPerSecond() const { return m_bytesPerSecond; }

    // How much an upload should send in one piece: `most` without a limit; under one, about
    // a quarter second's worth in whole `unit`s (at least one), so progress moves smoothly
    // and no piece is a burst of several seconds' worth.
    qint64 pieceSize(qint64 most, qint64 unit) const;

    // Returns when `bytes` may be sent. Never fails: when `context` is destroyed the wait
    // ends early and the call returns as usual. A null `context` still waits in full.
    QCoro::Task<> take(qint64 bytes, QObject* context);

private:
    Clock& m_clock;
    double m_bytesPerSecond = 0;
    double m_allowance = 0;
    qint64 m_lastCheckMs = 0;
};

} // namespace norvela
