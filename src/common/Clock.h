#pragma once

#include <QDateTime>
#include <QObject>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

namespace norvela {

// A running timer; destroying the handle stops it.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
};

// Ends a sleep early: rung by whoever hands the sleeper work.
class Alarm : public QObject {
    Q_OBJECT
public:
    void ring() { Q_EMIT rung(); }
Q_SIGNALS:
    void rung();
};

// Wall time, sleeps and timers behind one seam, so tests can drive time by hand instead
// of waiting on real seconds. Sleeps and timers run on a monotonic clock.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // Milliseconds on a monotonic clock that wall-clock changes never move.
    virtual qint64 monotonicMs() const = 0;
    virtual std::unique_ptr<ClockTimer> schedule(std::chrono::milliseconds interval, bool repeating,
                                                 std::function<void()> fire) = 0;

    // Suspends for `duration`. Returns true when the time has passed, false as soon as
    // `context` is destroyed: the owner going away is how a sleeping task is cancelled.
    // The wake-up after destruction is queued, so the caller's QPointer guard is already null.
    // An `alarm` rung meanwhile ends the sleep early, as if the time had passed.
    QCoro::Task<bool> sleep(std::chrono::milliseconds duration, QObject* context, Alarm* alarm = nullptr);

    static Clock& system();
};

} // namespace norvela
