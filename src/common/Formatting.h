#pragma once

#include <QDateTime>
#include <QString>

namespace norvela::Formatting {

// Decimal byte count (powers of 1000) without zero-filled fractions: "999 bytes", "2 KB",
// "1.5 MB", "4.2 GB", "2 TB".
QString byteCount(qint64 bytes);

// English relative phrase of `date` seen from `now`: "5 minutes ago", "in 2 hours".
QString relativeTime(const QDateTime& date, const QDateTime& now);

// Abbreviated date and short time in local time: "Dec 5, 2026 at 9:41 PM".
QString abbreviatedDateTime(const QDateTime& date);

} // namespace norvela::Formatting
