#pragma once

#include "common/Clock.h"

#include <map>
#include <memory>

namespace norvela::test {

// A clock that only moves when the test says so. advance() fires due timers and sleeps in
// time order, letting queued events run after each one.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC));

    QDateTime now() const override;
    qint64 monotonicMs() const override { return m_state->elapsedMs; }
    std::unique_ptr<ClockTimer> schedule(std::chrono::milliseconds interval, bool repeating,
                                         std::function<void()> fire) override;

    void advance(std::chrono::milliseconds by);
    int pendingTimers() const;

private:
    struct Entry {
        qint64 due = 0;
        qint64 interval = 0;
        bool repeating = false;
        std::function<void()> fire;
    };
    struct State {
        qint64 elapsedMs = 0;
        int nextId = 0;
        std::map<int, Entry> entries;
    };
    QDateTime m_start;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace norvela::test
