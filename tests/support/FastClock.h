#pragma once

#include "common/Clock.h"

namespace norvela::test {

// Real wall time, but monotonic time runs `factor` times faster, and so every wait and
// timer: end-to-end runs keep the engine's real back-off pattern without sitting through
// its seconds, and deadlines measured on the monotonic clock agree with the waits.
class FastClock : public Clock {
public:
    explicit FastClock(int factor = 50) : m_factor(factor), m_startMs(Clock::system().monotonicMs()) {}

    QDateTime now() const override { return Clock::system().now(); }
    qint64 monotonicMs() const override {
        return m_startMs + (Clock::system().monotonicMs() - m_startMs) * m_factor;
    }
    std::unique_ptr<ClockTimer> schedule(std::chrono::milliseconds interval, bool repeating,
                                         std::function<void()> fire) override {
        return Clock::system().schedule(interval / m_factor, repeating, std::move(fire));
    }

private:
    int m_factor;
    qint64 m_startMs;
};

} // namespace norvela::test
