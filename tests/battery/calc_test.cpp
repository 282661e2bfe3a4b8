// Figures the battery object derives from the firmware's records.
#include "battery/battery.h"

#include <gtest/gtest.h>

#include <string>

TEST(FullChargeRatio, AgainstNinetyPercentOfTheDesignCapacity) {
    EXPECT_EQ(100, CalcFullChargeRatio(5000, 4500, 90));
    EXPECT_EQ(44, CalcFullChargeRatio(5000, 2000, 90));
    EXPECT_EQ(28, CalcFullChargeRatio(5000, 1300, 90));
    // More than the reference is still 100; no design capacity or no
    // reference rate gives 0.
    EXPECT_EQ(100, CalcFullChargeRatio(5000, 5000, 90));
    EXPECT_EQ(0, CalcFullChargeRatio(0, 4500, 90));
    EXPECT_EQ(0, CalcFullChargeRatio(5000, 4500, 0));
    EXPECT_EQ(50, CalcFullChargeRatio(5000, 2500, 100));
}

TEST(Health, ClassesOfTheFullChargeRatio) {
    EXPECT_EQ(BATTERY_HEALTH_GOOD, HealthFromFullChargeRatio(100));
    EXPECT_EQ(BATTERY_HEALTH_GOOD, HealthFromFullChargeRatio(51));
    EXPECT_EQ(BATTERY_HEALTH_WARNING, HealthFromFullChargeRatio(50));
    EXPECT_EQ(BATTERY_HEALTH_WARNING, HealthFromFullChargeRatio(44));
    EXPECT_EQ(BATTERY_HEALTH_WARNING, HealthFromFullChargeRatio(31));
    EXPECT_EQ(BATTERY_HEALTH_CAUTION, HealthFromFullChargeRatio(30));
    EXPECT_EQ(BATTERY_HEALTH_CAUTION, HealthFromFullChargeRatio(28));
    EXPECT_EQ(BATTERY_HEALTH_CAUTION, HealthFromFullChargeRatio(0));
    EXPECT_EQ(0u, BATTERY_HEALTH_GOOD);
    EXPECT_EQ(10u, BATTERY_HEALTH_WARNING);
    EXPECT_EQ(20u, BATTERY_HEALTH_CAUTION);
}

TEST(RefreshTime, MaximumAndFullChargedHours) {
    DWORD hours = 0;
    ASSERT_EQ(S_OK, CBattery::CalcMaxRefreshTime(120, 180, 30, 60, &hours));
    EXPECT_EQ(9u, hours);
    ASSERT_EQ(S_OK, CBattery::CalcFullChargedRefreshTime(120, 180, 30, 60, &hours));
    EXPECT_EQ(7u, hours);
    // Exactly whole hours stay whole: 2 x 20 + 40 + 40 + 60 = 180 minutes.
    ASSERT_EQ(S_OK, CBattery::CalcMaxRefreshTime(20, 40, 40, 60, &hours));
    EXPECT_EQ(3u, hours);
    ASSERT_EQ(S_OK, CBattery::CalcMaxRefreshTime(0, 0, 0, 1, &hours));
    EXPECT_EQ(1u, hours);
    ASSERT_EQ(S_OK, CBattery::CalcMaxRefreshTime(0, 0, 0, 0, &hours));
    EXPECT_EQ(0u, hours);
}

TEST(RefreshTime, NegativeFiguresAreRejected) {
    DWORD hours = 77;
    EXPECT_EQ(E_INVALIDARG, CBattery::CalcMaxRefreshTime(-1, 180, 30, 60, &hours));
    EXPECT_EQ(E_INVALIDARG, CBattery::CalcMaxRefreshTime(120, -1, 30, 60, &hours));
    EXPECT_EQ(E_INVALIDARG, CBattery::CalcFullChargedRefreshTime(120, 180, -30, 60, &hours));
    EXPECT_EQ(E_INVALIDARG, CBattery::CalcFullChargedRefreshTime(120, 180, 30, -60, &hours));
    EXPECT_EQ(77u, hours);
    EXPECT_TRUE(FAILED(CBattery::CalcMaxRefreshTime(1, 1, 1, 1, nullptr)));
}

TEST(OwnId, NameManufactureDateAndSerial) {
    wchar_t id[MAX_PATH] = {};
    const DWORD made = ((2024 - 1980) << 9) | (3 << 5) | 5;
    ASSERT_EQ(S_OK, FormatOwnId(L"ABC", made, 0x1A2B, id, ARRAYSIZE(id)));
    EXPECT_EQ(std::wstring(L"ABC-20240305-1a2b"), id);
    ASSERT_EQ(S_OK, FormatOwnId(L"ABC", made, 0x2B, id, ARRAYSIZE(id)));
    EXPECT_EQ(std::wstring(L"ABC-20240305-002b"), id);
    ASSERT_EQ(S_OK, FormatOwnId(L"バッテリ", made, 0x12345, id, ARRAYSIZE(id)));
    EXPECT_EQ(std::wstring(L"バッテリ-20240305-12345"), id);
}

TEST(StartDateWord, EncodeAndDecode) {
    EXPECT_EQ(0x5865u, EncodeStartDate(2024, 3, 5, false));
    EXPECT_EQ(0xD865u, EncodeStartDate(2024, 3, 5, true));
    const SYSTEMTIME d = DecodeBatteryDate(0xD865);
    EXPECT_EQ(2024, d.wYear);
    EXPECT_EQ(3, d.wMonth);
    EXPECT_EQ(5, d.wDay);
    EXPECT_EQ(0, d.wHour);
    // A word never written decodes to an invalid date.
    const SYSTEMTIME never = DecodeBatteryDate(0);
    EXPECT_FALSE(IsValidDate(never.wYear, never.wMonth, never.wDay));
    // The last year the word can hold.
    const SYSTEMTIME last = DecodeBatteryDate(EncodeStartDate(2043, 12, 31, false));
    EXPECT_EQ(2043, last.wYear);
}

TEST(RemainingPercent, HalvesRoundUpAndFullIsCapped) {
    EXPECT_EQ(67, CalcRemainingPercent(2, 3));
    EXPECT_EQ(1, CalcRemainingPercent(1, 200));
    EXPECT_EQ(0, CalcRemainingPercent(1, 201));
    EXPECT_EQ(100, CalcRemainingPercent(4600, 4500));
    EXPECT_EQ(0, CalcRemainingPercent(100, 0));
}

TEST(StandardRemainingPercent, TruncatesAndKnowsUnknownCapacities) {
    EXPECT_EQ(66, CalcStandardRemainingPercent(2, 3));
    EXPECT_EQ(100, CalcStandardRemainingPercent(50, 40));
    EXPECT_EQ(0, CalcStandardRemainingPercent(10, 0));
    EXPECT_EQ(255, CalcStandardRemainingPercent(BATTERY_UNKNOWN_CAPACITY, 4000));
    EXPECT_EQ(255, CalcStandardRemainingPercent(1000, BATTERY_UNKNOWN_CAPACITY));
}

TEST(BatteryFlagForLevel, LevelBandsAndCharging) {
    EXPECT_EQ(4, BatteryFlagForLevel(0, FALSE));
    EXPECT_EQ(4, BatteryFlagForLevel(4, FALSE));
    EXPECT_EQ(2, BatteryFlagForLevel(5, FALSE));
    EXPECT_EQ(2, BatteryFlagForLevel(32, FALSE));
    EXPECT_EQ(0, BatteryFlagForLevel(33, FALSE));
    EXPECT_EQ(0, BatteryFlagForLevel(66, FALSE));
    EXPECT_EQ(1, BatteryFlagForLevel(67, FALSE));
    EXPECT_EQ(1, BatteryFlagForLevel(100, FALSE));
    EXPECT_EQ(8 | 2, BatteryFlagForLevel(20, TRUE));
    EXPECT_EQ(8, BatteryFlagForLevel(50, TRUE));
}

TEST(RefreshLimit, DefaultsByPlatform) {
    driver::_SYSTEM_PLATFORM_INFO info = {1, 0x312, 0};
    EXPECT_EQ(2u, RefreshLimitForPlatform(info));
    info = {1, 0x313, 0};
    EXPECT_EQ(101u, RefreshLimitForPlatform(info));
    info = {0, 0x312, 0};
    EXPECT_EQ(101u, RefreshLimitForPlatform(info));
}

namespace {

// Records what reading a charge mode does to the firmware and the copy.
struct ModeSync {
    bool writeSucceeds = true;
    int writes = 0;
    DWORD written = 0xFFFFFFFF;
    int stores = 0;
    DWORD stored = 0xFFFFFFFF;

    DWORD Read(DWORD firmware, DWORD copy) {
        return ReconcileChargeMode(
            firmware, copy,
            [this](DWORD v) {
                ++writes;
                written = v;
                return writeSucceeds;
            },
            [this](DWORD v) {
                ++stores;
                stored = v;
            });
    }
};

} // namespace

TEST(ReconcileChargeMode, UnsetCopyTakesTheFirmwareMode) {
    ModeSync sync;
    EXPECT_EQ(80u, sync.Read(80, CHARGEMODE_NOT_SET));
    EXPECT_EQ(1, sync.stores);
    EXPECT_EQ(80u, sync.stored);
    EXPECT_EQ(0, sync.writes);
    // Any copy above 100 counts as unset.
    ModeSync high;
    EXPECT_EQ(0u, high.Read(0, 101));
    EXPECT_EQ(0u, high.stored);
}

TEST(ReconcileChargeMode, StoredCopyIsWrittenBackToTheFirmware) {
    ModeSync sync;
    EXPECT_EQ(80u, sync.Read(0, 80));
    EXPECT_EQ(1, sync.writes);
    EXPECT_EQ(80u, sync.written);
    EXPECT_EQ(0, sync.stores);
}

TEST(ReconcileChargeMode, FailedWriteReportsTheFirmwareMode) {
    ModeSync sync;
    sync.writeSucceeds = false;
    EXPECT_EQ(0u, sync.Read(0, 80));
    EXPECT_EQ(1, sync.writes);
}

TEST(ReconcileChargeMode, EqualModesWriteNothing) {
    ModeSync sync;
    EXPECT_EQ(50u, sync.Read(50, 50));
    EXPECT_EQ(0, sync.writes);
    EXPECT_EQ(0, sync.stores);
    // A copy of 100 is a stored value, not "unset".
    EXPECT_EQ(100u, sync.Read(0, 100));
    EXPECT_EQ(1, sync.writes);
}

TEST(ReconcileChargeMode, RefreshNeededMarkIsNotOverwritten) {
    ModeSync sync;
    EXPECT_EQ(0x80u | 80u, sync.Read(0x80 | 80, 80));
    EXPECT_EQ(128u, sync.Read(128, 0));
    EXPECT_EQ(0, sync.writes);
}
