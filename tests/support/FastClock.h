#pragma once

#include "common/Clock.h"

namespace norvela::test {

// Real time, but every wait and timer runs `factor` times sooner: end-to-end runs keep
// the engine's real back-off pattern without sitting through its seconds.
class FastClock : public Clock {
public:
    explicit FastClock(int factor = 50) : m_factor(factor) {}

    QDateTime now() const override { return Clock::system().now(); }
    qint64 monotonicMs() const override { return Clock::system().monotonicMs(); }
    std::unique_ptr<ClockTimer> schedule(std::chrono::milliseconds interval, bool repeating,
                                         std::function<void()> fire) override {
        return Clock::system().schedule(interval / m_factor, repeating, std::move(fire));
    }

private:
    int m_factor;
};

} // namespace norvela::test
