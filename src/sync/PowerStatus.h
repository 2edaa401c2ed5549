#pragma once

#include <QString>

namespace norvela::PowerStatus {

// False only when a battery reports "Discharging" and no mains supply is online; anything
// unreadable counts as external power.
bool onACPower();
// The same, reading power supplies under `sysfsRoot` (normally /sys/class/power_supply).
bool onACPower(const QString& sysfsRoot);

} // namespace norvela::PowerStatus
