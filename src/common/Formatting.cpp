#include "Formatting.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <cstdlib>

namespace norvela::Formatting {

namespace {

QString trimmedDecimal(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

QString plural(qint64 count, const char* unit) {
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(unit) +
           (count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

QString byteCount(qint64 bytes) {
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    const double magnitude = std::fabs(static_cast<double>(bytes));
    if (magnitude < 1000)
        return sign + plural(static_cast<qint64>(magnitude), "byte");

    struct Unit {
        const char* name;
        int decimals;
    };
    static constexpr std::array<Unit, 6> units{
        {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};
    double value = magnitude;
    for (size_t i = 0; i < units.size(); ++i) {
        value /= 1000.0;
        const double scale = std::pow(10.0, units[i].decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes would round to "1000 KB"; the next unit reads better.
        if (rounded < 1000.0 || i + 1 == units.size())
            return sign + trimmedDecimal(rounded, units[i].decimals) + QLatin1Char(' ') +
                   QLatin1String(units[i].name);
    }
    return {};
}

QString relativeTime(const QDateTime& date, const QDateTime& now) {
    const qint64 seconds = date.secsTo(now); // positive: in the past
    const qint64 distance = std::llabs(seconds);
    const qint64 days = distance / 86400;
    QString amount;
    if (distance < 60)
        amount = plural(distance, "second");
    else if (distance < 3600)
        amount = plural(distance / 60, "minute");
    else if (distance < 86400)
        amount = plural(distance / 3600, "hour");
    else if (days < 7)
        amount = plural(days, "day");
    else if (days < 30)
        amount = plural(days / 7, "week");
    else if (days < 365)
        amount = plural(days / 30, "month");
    else
        amount = plural(days / 365, "year");
    return seconds >= 0 ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
}

QString abbreviatedDateTime(const QDateTime& date) {
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(date.toLocalTime(), QStringLiteral("MMM d, yyyy 'at' h:mm AP"));
}

} // namespace norvela::Formatting
