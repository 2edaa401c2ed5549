#include "sync/PowerStatus.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <string_view>

using namespace norvela;

namespace {

struct PowerStatusTest : ::testing::Test {
    // One supply directory; a value of nothing makes that attribute a directory, which no reader can read.
    void supply(const QString& name, const std::map<QString, const char*>& attributes) {
        for (const auto& [file, value] : attributes) {
            const QString path = sysfs.filePath(name + QLatin1Char('/') + file);
            QDir(path).removeRecursively();
            QFile::remove(path);
            if (value)
                test::writeFile(path, QByteArray(value) + '\n');
            else
                ASSERT_TRUE(QDir().mkpath(path));
        }
    }
    bool onAC() const { return PowerStatus::onACPower(sysfs.path()); }

    QTemporaryDir sysfs;
};

TEST_F(PowerStatusTest, OnBatteryOnlyWhenTheComputersBatteryDischargesAndNoAdapterIsOnline) {
    EXPECT_TRUE(onAC());
    EXPECT_TRUE(PowerStatus::onACPower(sysfs.filePath(QStringLiteral("missing"))));
    // A wireless mouse running down says nothing about how the computer is powered.
    supply("hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}});
    EXPECT_TRUE(onAC());
    for (const char* status : {"Charging", "Full", "Not charging", "Discharging"}) {
        supply("BAT0", {{"type", "Battery"}, {"status", status}});
        EXPECT_EQ(onAC(), status != std::string_view("Discharging")) << status;
    }
    supply("AC", {{"type", "Mains"}, {"online", "0"}});
    supply("ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}});
    EXPECT_TRUE(onAC());
    supply("ucsi-source-psy-USBC000:001", {{"online", "0"}});
    EXPECT_FALSE(onAC());
    supply("AC", {{"online", "1"}});
    EXPECT_TRUE(onAC());
}

TEST_F(PowerStatusTest, UnreadableAttributesCountAsExternalPower) {
    supply("BAT0", {{"type", "Battery"}, {"status", nullptr}});
    EXPECT_TRUE(onAC());
    supply("BAT1", {{"type", "Battery"}, {"status", "Discharging"}});
    supply("AC", {{"type", "Mains"}, {"online", nullptr}});
    EXPECT_TRUE(onAC()); // an adapter in an unknown state may be plugged in
    supply("AC", {{"type", nullptr}, {"online", "1"}});
    EXPECT_FALSE(onAC()); // a supply of unknown type is passed over, not taken for an adapter
}

} // namespace
