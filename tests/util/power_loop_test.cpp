// The two battery-state loops, driven by a scripted battery.
#include "common/util.h"

#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

// Hands out one scripted reading per call; the last one repeats.
class ScriptedBattery : public IBatteryPowerSource {
public:
    explicit ScriptedBattery(std::vector<BYTE> flags, bool fail = false)
        : flags_(std::move(flags)), fail_(fail) {}

    BOOL GetBatteryPowerStatus(LPSYSTEM_POWER_STATUS status) override {
        ++calls;
        if (fail_)
            return FALSE;
        const size_t i = calls - 1 < flags_.size() ? calls - 1 : flags_.size() - 1;
        status->ACLineStatus = 1;
        status->BatteryFlag = flags_[i];
        status->BatteryLifePercent = static_cast<BYTE>(10 + calls);
        return TRUE;
    }

    size_t calls = 0;

private:
    std::vector<BYTE> flags_;
    bool fail_;
};

void SetDword(HKEY hive, const wchar_t* name, DWORD value) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(hive, kRefreshKey, name, REG_DWORD, &value, sizeof(value)));
}

class PowerLoopTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        // No real waiting between attempts.
        SetDword(HKEY_CURRENT_USER, L"WaitPowerSchemeTime", 0);
        SetDword(HKEY_LOCAL_MACHINE, L"StateCheckInterval", 0);
    }
};

} // namespace

TEST(ChargingFlag, FromTheBatteryFlag) {
    EXPECT_EQ(CHARGING_FLAG_UNKNOWN, ChargingFlagFromBatteryFlag(255));
    EXPECT_EQ(CHARGING_FLAG_NO_BATTERY, ChargingFlagFromBatteryFlag(0x80));
    EXPECT_EQ(CHARGING_FLAG_NO_BATTERY, ChargingFlagFromBatteryFlag(0x88));
    EXPECT_EQ(CHARGING_FLAG_CHARGING, ChargingFlagFromBatteryFlag(0x08 | 0x01));
    EXPECT_EQ(CHARGING_FLAG_DISCHARGING, ChargingFlagFromBatteryFlag(0x01));
    EXPECT_EQ(CHARGING_FLAG_DISCHARGING, ChargingFlagFromBatteryFlag(0x00));
}

TEST_F(PowerLoopTest, ZeroTriesReadsNothingAndLeavesTheRecord) {
    SetDword(HKEY_CURRENT_USER, L"PowerSchemeTryCount", 0);
    ScriptedBattery battery({0x01});
    SYSTEM_POWER_STATUS status = {};
    status.BatteryFlag = 0x42;
    status.BatteryLifePercent = 77;
    EXPECT_TRUE(GetPowerStatusDoubleCheck(&status, &battery));
    EXPECT_EQ(0u, battery.calls);
    EXPECT_EQ(0x42, status.BatteryFlag);
    EXPECT_EQ(77, status.BatteryLifePercent);
}

TEST_F(PowerLoopTest, StopsAtTheFirstValidReading) {
    ScriptedBattery battery({0x80, 255, 0x09, 0x01});
    SYSTEM_POWER_STATUS status = {};
    EXPECT_TRUE(GetPowerStatusDoubleCheck(&status, &battery));
    EXPECT_EQ(3u, battery.calls);
    EXPECT_EQ(0x09, status.BatteryFlag);
}

TEST_F(PowerLoopTest, AllInvalidStillSucceedsWithTheLastReading) {
    SetDword(HKEY_CURRENT_USER, L"PowerSchemeTryCount", 3);
    ScriptedBattery battery({255, 0x80});
    SYSTEM_POWER_STATUS status = {};
    EXPECT_TRUE(GetPowerStatusDoubleCheck(&status, &battery));
    EXPECT_EQ(3u, battery.calls);
    EXPECT_EQ(0x80, status.BatteryFlag);
    EXPECT_EQ(13, status.BatteryLifePercent);
}

TEST_F(PowerLoopTest, DefaultTriesAreTen) {
    ScriptedBattery battery({0x80});
    SYSTEM_POWER_STATUS status = {};
    EXPECT_TRUE(GetPowerStatusDoubleCheck(&status, &battery));
    EXPECT_EQ(10u, battery.calls);
}

TEST_F(PowerLoopTest, AFailedReadEndsAtOnce) {
    ScriptedBattery battery({0x01}, /*fail=*/true);
    SYSTEM_POWER_STATUS status = {};
    EXPECT_FALSE(GetPowerStatusDoubleCheck(&status, &battery));
    EXPECT_EQ(1u, battery.calls);
    EXPECT_FALSE(GetPowerStatusDoubleCheck(&status, nullptr));
    EXPECT_FALSE(GetPowerStatusDoubleCheck(nullptr, &battery));
}

TEST_F(PowerLoopTest, GetChargingFlagReadsOnce) {
    ScriptedBattery charging({0x08 | 0x02});
    EXPECT_EQ(CHARGING_FLAG_CHARGING, GetChargingFlag(&charging));
    EXPECT_EQ(1u, charging.calls);
    ScriptedBattery failing({0x01}, true);
    EXPECT_EQ(CHARGING_FLAG_UNKNOWN, GetChargingFlag(&failing));
}

TEST_F(PowerLoopTest, WaitForChargingStateRejectsOtherFlagsWithoutReading) {
    ScriptedBattery battery({0x80});
    EXPECT_FALSE(WaitForChargingState(CHARGING_FLAG_NO_BATTERY, &battery));
    EXPECT_FALSE(WaitForChargingState(CHARGING_FLAG_UNKNOWN, &battery));
    EXPECT_EQ(0u, battery.calls);
}

TEST_F(PowerLoopTest, WaitForChargingStateRetriesUntilTheFlagMatches) {
    ScriptedBattery battery({0x01, 0x01, 0x09});
    EXPECT_TRUE(WaitForChargingState(CHARGING_FLAG_CHARGING, &battery));
    EXPECT_EQ(3u, battery.calls);
}

TEST_F(PowerLoopTest, WaitForChargingStateGivesUpAfterTheRetries) {
    SetDword(HKEY_LOCAL_MACHINE, L"StateCheckRetry", 4);
    ScriptedBattery battery({0x09});
    EXPECT_FALSE(WaitForChargingState(CHARGING_FLAG_DISCHARGING, &battery));
    EXPECT_EQ(4u, battery.calls);
}
