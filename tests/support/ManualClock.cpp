#include "ManualClock.h"

#include "TestSupport.h"

namespace norvela::test {

namespace {

class ManualTimer : public ClockTimer {
public:
    ManualTimer(std::weak_ptr<void> state, std::function<void()> cancel)
        : m_state(std::move(state)), m_cancel(std::move(cancel)) {}
    ~ManualTimer() override {
        if (!m_state.expired())
            m_cancel();
    }

private:
    std::weak_ptr<void> m_state;
    std::function<void()> m_cancel;
};

} // namespace

ManualClock::ManualClock(QDateTime start) : m_start(std::move(start)) {}

QDateTime ManualClock::now() const {
    return m_start.addMSecs(m_state->elapsedMs);
}

std::unique_ptr<ClockTimer> ManualClock::schedule(std::chrono::milliseconds interval, bool repeating,
                                                  std::function<void()> fire) {
    const int id = m_state->nextId++;
    const qint64 ms = std::max<qint64>(interval.count(), 0);
    m_state->entries[id] =
        Entry{m_state->elapsedMs + ms, std::max<qint64>(ms, 1), repeating, std::move(fire)};
    State* raw = m_state.get();
    return std::make_unique<ManualTimer>(m_state, [raw, id] { raw->entries.erase(id); });
}

void ManualClock::advance(std::chrono::milliseconds by) {
    const qint64 target = m_state->elapsedMs + by.count();
    processEvents();
    for (;;) {
        auto next = m_state->entries.end();
        for (auto it = m_state->entries.begin(); it != m_state->entries.end(); ++it)
            if (it->second.due <= target &&
                (next == m_state->entries.end() || it->second.due < next->second.due))
                next = it;
        if (next == m_state->entries.end())
            break;
        m_state->elapsedMs = next->second.due;
        auto fire = next->second.fire; // the callback may cancel its own timer
        if (next->second.repeating)
            next->second.due += next->second.interval;
        else
            m_state->entries.erase(next);
        fire();
        processEvents();
    }
    m_state->elapsedMs = target;
    processEvents();
}

int ManualClock::pendingTimers() const {
    return static_cast<int>(m_state->entries.size());
}

} // namespace norvela::test
