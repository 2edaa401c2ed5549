#include "common/SyncSchedule.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace norvela;

namespace {

TEST(SyncSchedule, DecodeNeedsAllFourKeysWithTheirTypes) {
    const std::pair<const char*, std::optional<SyncSchedule>> rows[] = {
        {R"({"enabled":true,"startHour":22,"endHour":6,"pauseOnBattery":true})",
         SyncSchedule{true, 22, 6, true}},
        {R"({"x":[1],"pauseOnBattery":false,"endHour":0,"startHour":23.0,"enabled":false})",
         SyncSchedule{false, 23, 0}},
        {R"({"startHour":9,"endHour":18,"pauseOnBattery":false})", std::nullopt},
        {R"({"enabled":true,"startHour":9,"endHour":18})", std::nullopt},
        {R"({"enabled":1,"startHour":9,"endHour":18,"pauseOnBattery":false})", std::nullopt},
        {R"({"enabled":true,"startHour":"9","endHour":18,"pauseOnBattery":false})", std::nullopt},
        {R"({"enabled":true,"startHour":9.5,"endHour":18,"pauseOnBattery":false})", std::nullopt},
        {R"({"enabled":true,"startHour":9,"endHour":24,"pauseOnBattery":false})", std::nullopt},
        {R"({"enabled":true,"startHour":9,"endHour":18,"pauseOnBattery":null})", std::nullopt},
        {R"([true,9,18,false])", std::nullopt},
        {"\x89PNG\r\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [json, expected] : rows)
        EXPECT_EQ(SyncSchedule::decode(json), expected) << json;
    for (const SyncSchedule& s : {SyncSchedule{}, SyncSchedule{true, 22, 6, true}}) {
        EXPECT_FALSE(s.encode().contains(' ') || s.encode().contains('\n')) << s.encode().constData();
        EXPECT_EQ(SyncSchedule::decode(s.encode()), s);
    }
}

TEST(SyncSchedule, HoldChecksBatteryFirstThenTheLocalHour) {
    constexpr auto outside = SyncStatus::Note::outsideHours;
    constexpr auto battery = SyncStatus::Note::onBattery;
    const struct {
        SyncSchedule schedule;
        QTime at;
        bool onAC;
        std::optional<SyncStatus::Note> expected;
    } rows[] = {
        {{true, 9, 18}, {8, 59}, true, outside},
        {{true, 9, 18}, {9, 0}, true, {}},
        {{true, 9, 18}, {17, 59}, true, {}},
        {{true, 9, 18}, {18, 0}, true, outside},
        {{true, 9, 18}, {3, 0}, false, outside},
        {{true, 22, 6}, {23, 0}, true, {}},
        {{true, 22, 6}, {5, 0}, true, {}},
        {{true, 22, 6}, {6, 0}, true, outside},
        {{true, 22, 6}, {12, 0}, true, outside},
        {{true, 7, 7}, {3, 0}, true, {}},
        {{false, 9, 18, true}, {3, 0}, false, {}},
        {{false, 9, 18, true}, {12, 0}, true, {}},
        {{true, 9, 18, true}, {12, 0}, false, battery},
        {{true, 9, 18, true}, {3, 0}, false, battery},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.schedule.hold(QDateTime(QDate(2026, 3, 10), row.at, Qt::LocalTime), row.onAC),
                  row.expected)
            << row.schedule.startHour << "-" << row.schedule.endHour << " at " << row.at.hour() << " AC "
            << row.onAC;
}

// The application clock hands out UTC times; the window is in the user's own hours.
TEST(SyncSchedule, HoldConvertsAUtcTimeToLocal) {
    const bool hadTZ = qEnvironmentVariableIsSet("TZ");
    const QByteArray savedTZ = qgetenv("TZ");
    qputenv("TZ", "NRV-5"); // five hours east of UTC, needs no zone database
    tzset();
    const QDateTime utc(QDate(2026, 3, 10), QTime(6, 0), Qt::UTC); // 11:00 local
    const bool switched = utc.toLocalTime().time().hour() == 11;
    const auto inside = SyncSchedule{true, 9, 18}.hold(utc, true);
    const auto outside = SyncSchedule{true, 9, 18}.hold(utc.addSecs(8 * 3600), true);
    hadTZ ? qputenv("TZ", savedTZ) : qunsetenv("TZ");
    tzset();
    if (!switched)
        GTEST_SKIP() << "cannot switch the local time zone here";
    EXPECT_EQ(inside, std::nullopt);
    EXPECT_TRUE(outside);
}

} // namespace
