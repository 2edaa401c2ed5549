#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "SyncStatus.h"

#include <optional>

namespace norvela {

// The hours of the day in which uploads may run, and whether they wait for mains power.
struct SyncSchedule {
    bool enabled = false;
    int startHour = 9;
    int endHour = 18;
    bool pauseOnBattery = false;

    bool operator==(const SyncSchedule&) const = default;

    // Compact JSON object of exactly the four keys.
    QByteArray encode() const;
    // Strict: an object holding all four keys with their exact types and hours in 0...23.
    static std::optional<SyncSchedule> decode(const QByteArray& json);

    // Why uploads must wait right now (outsideHours or onBattery), otherwise none.
    std::optional<SyncStatus::Note> hold(const QDateTime& now, bool onACPower) const;
};

} // namespace norvela
