#include "RecentFile.h"

#include "Formatting.h"

namespace norvela {

QString RecentFile::relativeTime() const {
    return relativeTime(QDateTime::currentDateTimeUtc());
}

QString RecentFile::relativeTime(const QDateTime& now) const {
    // Under a minute old, or in the future (clock skew), reads "just now".
    const qint64 distanceMs = now.msecsTo(syncedAt);
    if (distanceMs > -60'000)
        return QStringLiteral("just now");
    return Formatting::relativeTime(syncedAt, now);
}

} // namespace norvela
