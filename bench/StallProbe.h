#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace norvela::bench {

// Longest gap between ticks of a 2 ms timer on the main thread, beyond the 2 ms.
class StallProbe {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_worst = std::max(m_worst, m_clock.restart() - 2); });
        m_clock.start();
        m_timer.start(2);
    }
    qint64 worstMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

} // namespace norvela::bench
