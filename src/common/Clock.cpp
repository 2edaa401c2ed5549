#include "Clock.h"

#include <QCoro/QCoroSignal>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

namespace norvela {

namespace {

class SleepWaiter : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void done(bool completed);
};

class QtClockTimer : public ClockTimer {
public:
    QtClockTimer(std::chrono::milliseconds interval, bool repeating, std::function<void()> fire) {
        m_timer.setSingleShot(!repeating);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(fire));
        m_timer.start(interval);
    }

private:
    QTimer m_timer;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    qint64 monotonicMs() const override { return m_started.elapsed(); }
    std::unique_ptr<ClockTimer> schedule(std::chrono::milliseconds interval, bool repeating,
                                         std::function<void()> fire) override {
        return std::make_unique<QtClockTimer>(interval, repeating, std::move(fire));
    }

private:
    QElapsedTimer m_started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

} // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

QCoro::Task<bool> Clock::sleep(std::chrono::milliseconds duration, QObject* context, Alarm* alarm) {
    if (!context)
        co_return false;
    SleepWaiter waiter;
    // The first of the three ends the sleep; the waiter must hear only one.
    bool ended = false;
    const auto end = [&waiter, &ended](bool completed) {
        if (!std::exchange(ended, true))
            Q_EMIT waiter.done(completed);
    };
    QObject::connect(
        context, &QObject::destroyed, &waiter, [end] { end(false); }, Qt::QueuedConnection);
    if (alarm)
        QObject::connect(alarm, &Alarm::rung, &waiter, [end] { end(true); });
    const auto timer = schedule(duration, false, [end] { end(true); });
    const bool completed = co_await qCoro(&waiter, &SleepWaiter::done);
    co_return completed;
}

} // namespace norvela

#include "Clock.moc"
