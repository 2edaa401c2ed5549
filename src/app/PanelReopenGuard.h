#pragma once

#include "common/Clock.h"

#include <chrono>
#include <optional>

namespace norvela {

// Clicking the tray icon while the panel is open takes the focus from the panel, which hides
// itself, and only then reports the click. Reopening on that click would make the panel
// flicker instead of close, so a click this soon after the panel hid opens nothing.
class PanelReopenGuard {
public:
    static constexpr std::chrono::milliseconds quietPeriod{300};

    explicit PanelReopenGuard(const Clock& clock) : m_clock(clock) {}

    void panelHidden() { m_hiddenAtMs = m_clock.monotonicMs(); }
    bool mayOpen() const {
        return !m_hiddenAtMs || m_clock.monotonicMs() - *m_hiddenAtMs >= quietPeriod.count();
    }

private:
    const Clock& m_clock;
    std::optional<qint64> m_hiddenAtMs;
};

} // namespace norvela
