#include "SyncSchedule.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace norvela {

namespace {

std::optional<int> hourValue(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (d != std::floor(d) || d < 0 || d > 23)
        return std::nullopt;
    return static_cast<int>(d);
}

} // namespace

QByteArray SyncSchedule::encode() const {
    // Written by hand to keep the declared key order (QJsonObject would sort the keys).
    auto boolText = [](bool b) { return b ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); };
    return QByteArrayLiteral("{\"enabled\":") + boolText(enabled) + QByteArrayLiteral(",\"startHour\":") +
           QByteArray::number(startHour) + QByteArrayLiteral(",\"endHour\":") + QByteArray::number(endHour) +
           QByteArrayLiteral(",\"pauseOnBattery\":") + boolText(pauseOnBattery) + '}';
}

std::optional<SyncSchedule> SyncSchedule::decode(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue enabled = o.value(QStringLiteral("enabled"));
    const QJsonValue battery = o.value(QStringLiteral("pauseOnBattery"));
    const auto start = hourValue(o.value(QStringLiteral("startHour")));
    const auto end = hourValue(o.value(QStringLiteral("endHour")));
    if (!enabled.isBool() || !battery.isBool() || !start || !end)
        return std::nullopt;
    return SyncSchedule{enabled.toBool(), *start, *end, battery.toBool()};
}

std::optional<SyncStatus::Note> SyncSchedule::hold(const QDateTime& now, bool onACPower) const {
    if (!enabled)
        return std::nullopt;
    if (pauseOnBattery && !onACPower)
        return SyncStatus::Note::onBattery;
    const int hour = now.toLocalTime().time().hour();
    if (startHour == endHour)
        return std::nullopt;
    const bool inside =
        startHour < endHour ? (startHour <= hour && hour < endHour) : (hour >= startHour || hour < endHour);
    if (inside)
        return std::nullopt;
    return SyncStatus::Note::outsideHours;
}

} // namespace norvela
