// Battery objects on the simulated notebook: both routes of the standard
// requests, the firmware methods, identity, health, charge-mode copy,
// dates and estimates.
#include "battery/battery.h"

#include "common/settings.h"
#include "support/suite_env.h"

#include <strsafe.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";

void SetHklmDword(const std::wstring& subkey, const wchar_t* name, DWORD value) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), name, REG_DWORD,
                                             &value, sizeof(value)));
}

bool GetHklmDword(const std::wstring& subkey, const wchar_t* name, DWORD* value) {
    DWORD size = sizeof(*value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), name, RRF_RT_REG_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

class SimBatteryTest : public testenv::SuiteStateTest {
protected:
    // Replaces the simulated machine: a profile line, then field lines
    // ("battery1.percent=40", "platform=2"). Time stands still so that
    // percentages stay where they were put.
    void Machine(const std::wstring& lines) {
        ASSERT_EQ(0, testenv::SetUpMachine(lines)) << "simctl setup failed";
    }

    void Sim(const std::wstring& args) {
        ASSERT_EQ(0, testenv::RunProgram(L"simctl.exe", args)) << "simctl failed";
    }

    // The firmware's charge mode as it is, without the registry copy.
    DWORD FirmwareMode(CBattery& battery) {
        SetHklmDword(kSuiteKey, L"IsRegModeEnabled", 0);
        DWORD mode = 0xFFFFFFFF;
        EXPECT_EQ(S_OK, battery.GetChargeMode(&mode));
        SetHklmDword(kSuiteKey, L"IsRegModeEnabled", 1);
        return mode;
    }
};

SYSTEMTIME Today() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return now;
}

} // namespace

TEST_F(SimBatteryTest, ArrayHoldsOneObjectPerPresentBattery) {
    Machine(L"profile=two\nbattery1.present=0");
    CBatteryArray array;
    EXPECT_EQ(2, array.GetMask());
    EXPECT_EQ(1, array.GetCount());
    EXPECT_EQ(nullptr, array.GetBattery(1));
    ASSERT_NE(nullptr, array.GetBattery(2));
    EXPECT_EQ(2u, array.GetBattery(2)->GetBattNo());
    EXPECT_EQ(nullptr, array.GetBattery(3));
    EXPECT_EQ(nullptr, array.GetBattery(0));

    Machine(L"profile=two");
    CBatteryArray both;
    EXPECT_EQ(2, both.GetCount());
    EXPECT_NE(nullptr, both.GetBattery(1));
    EXPECT_NE(nullptr, both.GetBattery(2));

    Machine(L"profile=none");
    CBatteryArray none;
    EXPECT_EQ(0, none.GetCount());
    EXPECT_EQ(nullptr, none.GetBattery(1));
}

TEST_F(SimBatteryTest, IdentityFromTheFirmware) {
    Machine(L"profile=one\nbattery1.name=ABC\nbattery1.manufactured=2024-03-05\n"
            L"battery1.serial=0x1A2B\nbattery1.design=5000\nbattery1.fcc=4500");
    CBattery battery(1);
    EXPECT_EQ(std::wstring(L"ABC"), battery.GetBattName());
    EXPECT_EQ(std::wstring(L"ABC-20240305-1a2b"), battery.GetOWNID());
    EXPECT_EQ(5000u, battery.GetDesignCapacity());
    EXPECT_TRUE(battery.IsChargeModeSupported());
}

TEST_F(SimBatteryTest, JapaneseNameComesThroughTheAnsiCodePage) {
    Machine(L"profile=one\nbattery1.name=電池パック-ＺＢ\nbattery1.manufactured=2023-11-30\n"
            L"battery1.serial=0x2b");
    CBattery battery(1);
    EXPECT_EQ(std::wstring(L"電池パック-ＺＢ"), battery.GetBattName());
    EXPECT_EQ(std::wstring(L"電池パック-ＺＢ-20231130-002b"), battery.GetOWNID());
}

TEST_F(SimBatteryTest, AbsentBatteryStillGivesAnObject) {
    Machine(L"profile=none");
    CBattery battery(1);
    EXPECT_EQ(std::wstring(), battery.GetBattName());
    EXPECT_EQ(std::wstring(), battery.GetOWNID());
    EXPECT_FALSE(battery.IsChargeModeSupported());
    EXPECT_EQ(0, battery.GetFullChargeRatio());
    EXPECT_EQ(0, battery.GetRemainingPercent());
    DWORD mode = 0;
    EXPECT_EQ(E_FAIL, battery.GetChargeMode(&mode));
    // No identity: no history is written under an empty key.
    EXPECT_EQ(E_FAIL, battery.SetLastRefreshDay(2024, 3, 5));
    SYSTEM_POWER_STATUS status = {};
    battery.GetBatteryPowerStatus(&status);
    EXPECT_EQ(BATTERY_FLAG_NO_BATTERY, status.BatteryFlag);
}

TEST_F(SimBatteryTest, HealthFromTheFullChargeRatio) {
    const struct {
        DWORD fcc;
        BYTE ratio;
        DWORD health;
    } cases[] = {{4500, 100, 0}, {2000, 44, 10}, {1300, 28, 20}};
    for (const auto& c : cases) {
        Machine(L"profile=one\nbattery1.design=5000\nbattery1.fcc=" + std::to_wstring(c.fcc));
        CBattery battery(1);
        EXPECT_EQ(c.ratio, battery.GetFullChargeRatio()) << c.fcc;
        EXPECT_EQ(c.health, battery.GetBatteryHealth()) << c.fcc;
    }
    // "BatteryLifeRate" moves the reference: 1300 of 50 % of 5000 is 52 %.
    SetHklmDword(kSuiteKey, L"BatteryLifeRate", 50);
    CBattery battery(1);
    EXPECT_EQ(52, battery.GetFullChargeRatio()); // 1300 / 2500
}

TEST_F(SimBatteryTest, PlatformTypeOneTakesTheFirmwareHealthWord) {
    Machine(L"profile=type1-caution");
    CBattery battery(1);
    EXPECT_EQ(100, battery.GetFullChargeRatio());
    EXPECT_EQ(BATTERY_HEALTH_CAUTION, battery.GetBatteryHealth());
}

TEST_F(SimBatteryTest, ChargeModeCopyIsFilledFromTheFirmware) {
    Machine(L"profile=one\nbattery1.chargemode=50");
    CBattery battery(1);
    DWORD mode = 0;
    ASSERT_EQ(S_OK, battery.GetChargeMode(&mode));
    EXPECT_EQ(50u, mode);
    DWORD copy = 0;
    ASSERT_TRUE(GetHklmDword(kSuiteKey, L"CurrentMode_batt1", &copy));
    EXPECT_EQ(50u, copy);
    // The switch is created on first use.
    DWORD enabled = 0;
    ASSERT_TRUE(GetHklmDword(kSuiteKey, L"IsRegModeEnabled", &enabled));
    EXPECT_EQ(1u, enabled);
}

TEST_F(SimBatteryTest, StoredCopyIsReappliedToTheFirmware) {
    Machine(L"profile=two\nbattery2.chargemode=0");
    SetHklmDword(kSuiteKey, L"CurrentMode_batt2", 80);
    CBattery battery(2);
    DWORD mode = 0;
    ASSERT_EQ(S_OK, battery.GetChargeMode(&mode));
    EXPECT_EQ(80u, mode);
    EXPECT_EQ(80u, FirmwareMode(battery));
    // Battery 1's copy is its own.
    DWORD copy = 0;
    EXPECT_FALSE(GetHklmDword(kSuiteKey, L"CurrentMode_batt1", &copy) && copy == 80);
}

TEST_F(SimBatteryTest, SetChargeModeStoresTheCopyOnlyWhenEnabled) {
    Machine(L"profile=one");
    CBattery battery(1);
    ASSERT_EQ(S_OK, battery.SetChargeMode(50));
    DWORD copy = 0;
    ASSERT_TRUE(GetHklmDword(kSuiteKey, L"CurrentMode_batt1", &copy));
    EXPECT_EQ(50u, copy);

    SetHklmDword(kSuiteKey, L"IsRegModeEnabled", 0);
    ASSERT_EQ(S_OK, battery.SetChargeMode(80));
    ASSERT_TRUE(GetHklmDword(kSuiteKey, L"CurrentMode_batt1", &copy));
    EXPECT_EQ(50u, copy);
    DWORD mode = 0;
    ASSERT_EQ(S_OK, battery.GetChargeMode(&mode));
    EXPECT_EQ(80u, mode);
}

TEST_F(SimBatteryTest, FirmwareWithoutChargeModes) {
    Machine(L"profile=one-nomode");
    CBattery battery(1);
    EXPECT_FALSE(battery.IsChargeModeSupported());
    DWORD mode = 0;
    EXPECT_EQ(E_FAIL, battery.GetChargeMode(&mode));
    EXPECT_EQ(E_FAIL, battery.SetChargeMode(80));
}

TEST_F(SimBatteryTest, PowerStatusLevelFlagsThroughTheDeviceLibrary) {
    const struct {
        int percent;
        BYTE flag;
    } cases[] = {{4, 4}, {5, 2}, {32, 2}, {33, 0}, {66, 0}, {67, 1}, {100, 1}};
    for (const auto& c : cases) {
        Machine(L"profile=one\nac=off\nbattery1.percent=" + std::to_wstring(c.percent));
        CBattery battery(1);
        SYSTEM_POWER_STATUS status = {};
        ASSERT_TRUE(battery.GetBatteryPowerStatus(&status));
        EXPECT_EQ(c.percent, status.BatteryLifePercent);
        EXPECT_EQ(c.flag, status.BatteryFlag) << c.percent << " %";
        EXPECT_EQ(0, status.ACLineStatus);
        EXPECT_EQ(c.percent, battery.GetRemainingPercent());
    }
}

TEST_F(SimBatteryTest, ChargingBatteryAddsFlagEight) {
    Machine(L"profile=one\nac=on\nbattery1.chargemode=0\nbattery1.percent=20");
    CBattery battery(1);
    SYSTEM_POWER_STATUS status = {};
    ASSERT_TRUE(battery.GetBatteryPowerStatus(&status));
    EXPECT_EQ(1, status.ACLineStatus);
    EXPECT_EQ(BATTERY_FLAG_CHARGING | BATTERY_FLAG_LOW, status.BatteryFlag);
    // The double check accepts it at once, and the charging flag is 2.
    SYSTEM_POWER_STATUS checked = {};
    EXPECT_TRUE(GetPowerStatusDoubleCheck(&checked, &battery));
    EXPECT_EQ(status.BatteryFlag, checked.BatteryFlag);
    EXPECT_EQ(CHARGING_FLAG_CHARGING, GetChargingFlag(&battery));
}

TEST_F(SimBatteryTest, DeviceLibraryRouteNeedsNoDevicePath) {
    Machine(L"profile=one\nbattery1.percent=40\nbattery1.fcc=40000");
    CBattery battery(1);
    EXPECT_TRUE(battery.IsBatteryReachable());
    BATTERY_STATUS status = {};
    ASSERT_EQ(S_OK, battery.GetBatteryStatus(&status));
    EXPECT_EQ(16000u, status.Capacity);
    BATTERY_INFORMATION info = {};
    ASSERT_EQ(S_OK, battery.GetBatteryInformation(&info));
    EXPECT_EQ(40000u, info.FullChargedCapacity);
    EXPECT_EQ(40, battery.GetStandardRemainingPercent());
    EXPECT_EQ(std::wstring(), battery.GetDevicePath());
}

TEST_F(SimBatteryTest, OperatingSystemRouteWithoutADeviceReportsNoBattery) {
    // Any platform type but 0 sends the standard requests to Windows'
    // battery device, which this machine does not have.
    for (const wchar_t* type : {L"2", L"1"}) {
        Machine(std::wstring(L"profile=one\nplatform=") + type);
        CBattery battery(1);
        EXPECT_FALSE(battery.IsBatteryReachable());
        EXPECT_EQ(E_FAIL, battery.EnumBatteryDevice());
        SYSTEM_POWER_STATUS status = {};
        EXPECT_TRUE(battery.GetBatteryPowerStatus(&status)) << type;
        EXPECT_EQ(BATTERY_FLAG_NO_BATTERY, status.BatteryFlag) << type;
        BATTERY_STATUS raw = {};
        EXPECT_EQ(E_FAIL, battery.GetBatteryStatus(&raw));
        EXPECT_EQ(255, battery.GetStandardRemainingPercent());
        // The firmware methods still work, and so does the chemistry,
        // which is always asked of the device library.
        EXPECT_EQ(std::wstring(L"LION"), battery.GetChemistry());
        EXPECT_NE(0u, battery.GetDesignCapacity());
    }
}

TEST_F(SimBatteryTest, ChemistryText) {
    Machine(L"profile=one\nbattery1.chemistry=LION");
    EXPECT_EQ(std::wstring(L"LION"), CBattery(1).GetChemistry());
    EXPECT_TRUE(CBattery(1).IsNonNickelChemistry());
    Machine(L"profile=one\nbattery1.chemistry=Li");
    EXPECT_EQ(std::wstring(L"Li"), CBattery(1).GetChemistry());
    Machine(L"profile=one\nbattery1.chemistry=nimh");
    EXPECT_FALSE(CBattery(1).IsNonNickelChemistry());
}

TEST_F(SimBatteryTest, StartDayNeverWrittenBecomesToday) {
    Machine(L"profile=one\nbattery1.startdate=0");
    CBattery battery(1);
    SYSTEMTIME start = {};
    BOOL disabled = TRUE;
    ASSERT_EQ(S_OK, battery.GetStartDay(&start, &disabled));
    const SYSTEMTIME today = Today();
    EXPECT_EQ(today.wYear, start.wYear);
    EXPECT_EQ(today.wMonth, start.wMonth);
    EXPECT_EQ(today.wDay, start.wDay);
    EXPECT_FALSE(disabled);
    CBattery reread(1);
    EXPECT_EQ(EncodeStartDate(today.wYear, today.wMonth, today.wDay, false),
              reread.GetBBIF().dwStartDate);
    // The object keeps what it wrote, so asking again writes nothing new.
    Sim(L"set 1 startdate 2020-01-02");
    ASSERT_EQ(S_OK, battery.GetStartDay(&start, &disabled));
    EXPECT_EQ(today.wDay, start.wDay);
    EXPECT_EQ(EncodeStartDate(2020, 1, 2, false), CBattery(1).GetBBIF().dwStartDate);
}

TEST_F(SimBatteryTest, StartDayAndProtectFlag) {
    Machine(L"profile=one\nbattery1.startdate=2023-06-01\nbattery1.protectflag=1\n"
            L"battery1.protect=1");
    CBattery battery(1);
    SYSTEMTIME start = {};
    BOOL disabled = FALSE;
    ASSERT_EQ(S_OK, battery.GetStartDay(&start, &disabled));
    EXPECT_EQ(2023, start.wYear);
    EXPECT_EQ(6, start.wMonth);
    EXPECT_EQ(1, start.wDay);
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(battery.IsBatteryChargeDisabled());

    ASSERT_EQ(S_OK, battery.SetFlagDisableBatteryCharge(FALSE));
    EXPECT_FALSE(battery.IsBatteryChargeDisabled());
    EXPECT_EQ(EncodeStartDate(2023, 6, 1, false), CBattery(1).GetBBIF().dwStartDate);

    Sim(L"set 1 protect 0");
    EXPECT_EQ(1, battery.SetFlagDisableBatteryCharge(TRUE));
    EXPECT_FALSE(battery.IsBatteryChargeDisabled());
}

TEST_F(SimBatteryTest, InitStartDayReplacesA1980Date) {
    Machine(L"profile=one\nbattery1.startdate=1980-01-01");
    CBattery battery(1);
    ASSERT_EQ(S_OK, battery.InitStartDay());
    const SYSTEMTIME today = Today();
    EXPECT_EQ(EncodeStartDate(today.wYear, today.wMonth, today.wDay, false),
              CBattery(1).GetBBIF().dwStartDate);

    // Platform type 1 never writes a start date.
    Machine(L"profile=one\nplatform=1\nbattery1.startdate=0");
    CBattery type1(1);
    ASSERT_EQ(S_OK, type1.InitStartDay());
    EXPECT_EQ(0u, CBattery(1).GetBBIF().dwStartDate);
}

TEST_F(SimBatteryTest, RefreshDatesLiveUnderTheIdentity) {
    Machine(L"profile=one\nbattery1.name=ABC\nbattery1.manufactured=2024-03-05\n"
            L"battery1.serial=0x1A2B\nbattery1.startdate=2020-01-10");
    CBattery battery(1);
    ASSERT_EQ(S_OK, battery.SetLastRefreshDay(2024, 3, 5));
    SYSTEMTIME day = {};
    ASSERT_EQ(S_OK, battery.GetLastRefreshDay(&day));
    EXPECT_EQ(2024, day.wYear);
    EXPECT_EQ(3, day.wMonth);
    EXPECT_EQ(5, day.wDay);
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE,
                                          L"SOFTWARE\\ZEL\\VADOvur\\BatteryInfo\\ABC-20240305-1a2b",
                                          L"LastRefreshDate", RRF_RT_REG_SZ, nullptr, text, &size));
    EXPECT_EQ(std::wstring(L"2024/03/05"), text);

    // The first check point counts only when it lies past the first
    // interval (12 months) after the first use (2020-01-10).
    ASSERT_EQ(S_OK, battery.SetFirstCheckPointRefreshDay(2021, 2, 1, TRUE));
    ASSERT_EQ(S_OK, battery.GetFirstCheckPointRefreshDay(&day));
    EXPECT_EQ(2021, day.wYear);
    ASSERT_EQ(S_OK, battery.SetFirstCheckPointRefreshDay(2020, 6, 1, TRUE));
    EXPECT_EQ(E_FAIL, battery.GetFirstCheckPointRefreshDay(&day));
    // ...and such a stale one is removed.
    EXPECT_EQ(E_FAIL, battery.DelFirstCheckPointRefreshDay());
}

TEST_F(SimBatteryTest, FirstCheckPointIsKeptOnceSetAndWaitsForTheFirstInterval) {
    Machine(L"profile=one\nbattery1.startdate=2020-01-10");
    CBattery old(1);
    // Long past the first interval: the date is stored once and kept.
    ASSERT_EQ(S_OK, old.SetFirstCheckPointRefreshDay(2024, 5, 1, FALSE));
    ASSERT_EQ(S_OK, old.SetFirstCheckPointRefreshDay(2024, 6, 1, FALSE));
    SYSTEMTIME day = {};
    ASSERT_EQ(S_OK, old.GetFirstCheckPointRefreshDay(&day));
    EXPECT_EQ(5, day.wMonth);

    // A battery first used today is not due: nothing is stored.
    const SYSTEMTIME today = Today();
    wchar_t date[16] = {};
    StringCchPrintfW(date, ARRAYSIZE(date), L"%04u-%02u-%02u", today.wYear, today.wMonth,
                     today.wDay);
    Machine(std::wstring(L"profile=one\nbattery1.startdate=") + date);
    CBattery fresh(1);
    ASSERT_EQ(S_OK, fresh.SetFirstCheckPointRefreshDay(&today, FALSE));
    EXPECT_EQ(E_FAIL, fresh.GetFirstCheckPointRefreshDay(&day));
}

TEST_F(SimBatteryTest, RefreshTimeEstimatesOfTheBatteryModel) {
    Machine(L"profile=one\nbattery1.name=ABC");
    CBattery battery(1);
    DWORD maxHours = 0;
    DWORD fullHours = 0;
    // Not measured yet.
    EXPECT_EQ(E_FAIL, battery.GetEstimateRefreshTimes(&maxHours, &fullHours));
    const std::wstring model = L"SOFTWARE\\ZEL\\VADOvur\\RefreshMaxTime\\ABC";
    SetHklmDword(model, L"ChargeTime", 120);
    SetHklmDword(model, L"DischargeTime", 180);
    ASSERT_EQ(S_OK, battery.GetEstimateRefreshTimes(&maxHours, &fullHours));
    EXPECT_EQ(9u, maxHours);
    EXPECT_EQ(7u, fullHours);
    EXPECT_EQ(E_INVALIDARG, battery.GetEstimateRefreshTimes(nullptr, &fullHours));
    EXPECT_EQ(55u, battery.GetRefreshMaxTime());
}

TEST_F(SimBatteryTest, RefreshLimitDefaultFollowsThePlatform) {
    Machine(L"profile=one-312");
    EXPECT_EQ(2u, GetRegRefreshLimit());
    Machine(L"profile=one");
    EXPECT_EQ(101u, GetRegRefreshLimit());
    SetHklmDword(L"SOFTWARE\\ZEL\\VADOvur\\Refresh", L"RefreshLimit", 7);
    EXPECT_EQ(7u, GetRegRefreshLimit());
}

TEST_F(SimBatteryTest, TraceNamesTheBatteryAndItsIdentity) {
    SetHklmDword(L"SOFTWARE\\ZEL\\VADOvur\\Refresh", L"Log", 1);
    Machine(L"profile=one\nbattery1.name=ABC\nbattery1.manufactured=2024-03-05\n"
            L"battery1.serial=0x1A2B\nbattery1.chemistry=LION");
    CBattery battery(1);
    const std::wstring log = testenv::ReadLogText(L"vadovur_refresh.log");
    EXPECT_NE(std::wstring::npos, log.find(L"CBattery::CBattery m_szBattName = ABC"));
    EXPECT_NE(std::wstring::npos, log.find(L"m_szOWNID = ABC-20240305-1a2b"));
    EXPECT_NE(std::wstring::npos, log.find(L"CBattery::CBattery m_szChemistry = LION"));
}

// A battery taken out of its bay while a program holds its object reads as
// "no battery" with a successful read, so the refresh tool reports a removal
// (status 3 or 4) and not an unreadable power status (7).
TEST_F(SimBatteryTest, RemovedBatteryReadsAsNoBattery) {
    Machine(L"profile=two\nac=on");
    CBattery battery(2);
    SYSTEM_POWER_STATUS status = {};
    ASSERT_TRUE(battery.GetBatteryPowerStatus(&status));
    EXPECT_EQ(0, status.BatteryFlag & BATTERY_FLAG_NO_BATTERY);

    Sim(L"battery 2 remove");
    status = {};
    EXPECT_TRUE(battery.GetBatteryPowerStatus(&status));
    EXPECT_EQ(BATTERY_FLAG_NO_BATTERY, status.BatteryFlag);
    EXPECT_EQ(CHARGING_FLAG_NO_BATTERY, GetChargingFlag(&battery));
}
