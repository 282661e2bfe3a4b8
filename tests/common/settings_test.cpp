// The settings store: defaults on a machine where nothing was written, the
// normalised values, per-battery names, and the date texts that other
// programs (and the installers) write and read.
#include "common/log.h"
#include "common/reg.h"
#include "common/settings.h"

#include "support/suite_env.h"

#include <string>

namespace {

const wchar_t kMaxTimeKey[] = L"SOFTWARE\\ZEL\\VADOvur\\RefreshMaxTime\\BATT-X";
const wchar_t kOwnId[] = L"BATT-X-20240305-1a2b";
const wchar_t kBatteryInfoKey[] = L"SOFTWARE\\ZEL\\VADOvur\\BatteryInfo\\BATT-X-20240305-1a2b";

std::wstring ReadText(HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName) {
    wchar_t text[64] = {};
    if (FAILED(CReg::GetSZ(hive, lpSubkey, lpName, text, sizeof(text) - sizeof(wchar_t))))
        return L"<none>";
    return text;
}

bool HasValue(HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName) {
    return RegGetValueW(hive, lpSubkey, lpName, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

SYSTEMTIME Minute(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
    return testenv::MakeTime(y, mo, d, h, mi);
}

void ExpectMinute(const SYSTEMTIME& expected, const SYSTEMTIME& actual) {
    EXPECT_EQ(0, memcmp(&expected, &actual, sizeof(SYSTEMTIME)))
        << actual.wYear << "/" << actual.wMonth << "/" << actual.wDay << " " << actual.wHour << ":"
        << actual.wMinute << ":" << actual.wSecond << "." << actual.wMilliseconds;
}

using SettingsTest = testenv::SuiteStateTest;

TEST_F(SettingsTest, CleanMachineReadsTheDefaults) {
    EXPECT_EQ(128u, GetRegCurrentMode(1));
    EXPECT_EQ(128u, GetRegCurrentMode(2));
    EXPECT_FALSE(GetRegQuickAnalyze());
    EXPECT_EQ(0u, GetRegLimited());
    EXPECT_EQ(0u, GetRegCommercial());
    EXPECT_EQ(90u, GetRegBatteryLifeRate());
    EXPECT_EQ(5u, GetRegNotChargeLimit());
    EXPECT_EQ(60u, GetRegRefreshCoolDownLimit());
    EXPECT_EQ(30u, GetRegRefreshCoolDownTime());
    EXPECT_EQ(3131u, GetRegRefreshCoolDownTemp());
    EXPECT_EQ(3u, GetRegRefreshInterval());
    EXPECT_EQ(12u, GetRegRefreshIntervalFirst());
    EXPECT_EQ(6u, GetRegRefreshIntervalSecond());
    EXPECT_EQ(200u, GetRegADCHDelay());
    EXPECT_EQ(95u, GetRegBatteryChargeComplete());
    EXPECT_EQ(100u, GetRegBatteryChargeCompleteMax());
    EXPECT_EQ(3u, GetRegSleepDelay());
    EXPECT_EQ(30u, GetRegPCSleep());
    DWORD value = 0;
    EXPECT_EQ(S_OK, GetRegStateCheckRetry(&value));
    EXPECT_EQ(10u, value);
    EXPECT_EQ(S_OK, GetRegStateCheckInterval(&value));
    EXPECT_EQ(100u, value);
    const DWORD timeouts[] = {1200, 300, 0, 0, 1200, 600, 0, 0};
    for (int i = 0; i < CHARGE_POWER_TIMEOUT_COUNT; ++i)
        EXPECT_EQ(timeouts[i], GetRegChargePowerTimeout(i)) << i;
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegRefreshChargeTime(L"BATT-X"));
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegRefreshDischargeTime(L"BATT-X"));
    EXPECT_EQ(55u, GetRegRefreshMaxTime(L"BATT-X"));
    EXPECT_EQ(0u, GetRegReadMeCheck());
    EXPECT_EQ(S_OK, GetRegRoutineCheckInterval(&value));
    EXPECT_EQ(60000u, value);
    EXPECT_EQ(S_OK, GetRegRoutineCheckIntervalDays(&value));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(10u, GetRegPowerSchemeTryCount());
    EXPECT_EQ(100u, GetRegWaitPowerSchemeTime());
    EXPECT_EQ(60000u, GetRegWaitWatchBatteryStatusTime());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessAC());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessDC());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegRefreshPowerSetting());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegUserPowerSetting());
    wchar_t text[64] = L"x";
    EXPECT_EQ(S_OK, GetRegRefreshPowerSchemeName(text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"バッテリ・リフレッシュ", text);
    EXPECT_EQ(S_OK, GetRegRefreshPowerSchemeDesc(text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"", text);

    // Values without a default fail instead.
    GUID plan = {};
    SYSTEMTIME time = {};
    EXPECT_TRUE(FAILED(GetRegUserPowerPlan(&plan)));
    EXPECT_EQ(E_FAIL, GetRegRefreshResevation(RESERVATION_BATT1 | RESERVATION_BATT2, &time));
    EXPECT_TRUE(FAILED(GetRegLastRefreshStatus(&value)));
    EXPECT_TRUE(FAILED(GetRegLastBatteryStatusCheckTime(&time)));
    EXPECT_TRUE(FAILED(GetRegBalloon(&time)));
    EXPECT_TRUE(FAILED(GetRegLastRefreshDay(kOwnId, &time)));

    // Reading wrote nothing (IsRegModeEnabled is the one getter that writes).
    EXPECT_FALSE(CReg::IsExistKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN));
}

TEST_F(SettingsTest, RegModeSwitchIsWrittenOnceWhenAbsent) {
    EXPECT_TRUE(IsRegModeEnabled());
    DWORD stored = 0;
    ASSERT_EQ(S_OK,
              CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"IsRegModeEnabled", &stored));
    EXPECT_EQ(1u, stored);
    // A value that is there is left alone, and only exactly 1 means on.
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"IsRegModeEnabled", 2));
    EXPECT_FALSE(IsRegModeEnabled());
    ASSERT_EQ(S_OK,
              CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"IsRegModeEnabled", &stored));
    EXPECT_EQ(2u, stored);
}

TEST_F(SettingsTest, FlagsNormaliseToZeroOrOne) {
    CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"ReadMeCheck", 2);
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"QuickAnalyze", 2);
    EXPECT_EQ(0u, GetRegReadMeCheck());
    EXPECT_FALSE(GetRegQuickAnalyze());
    EXPECT_EQ(S_OK, SetRegReadMeCheck(1));
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"QuickAnalyze", 1);
    EXPECT_EQ(1u, GetRegReadMeCheck());
    EXPECT_TRUE(GetRegQuickAnalyze());
}

TEST_F(SettingsTest, MaxTimeValuesWithTheTopBitSetReadAsDefault) {
    CReg::SetDW(HKEY_LOCAL_MACHINE, kMaxTimeKey, L"time", 0x80000000);
    CReg::SetDW(HKEY_LOCAL_MACHINE, kMaxTimeKey, L"ChargeTime", 0xFFFFFFFE);
    CReg::SetDW(HKEY_LOCAL_MACHINE, kMaxTimeKey, L"DischargeTime", 0x7FFFFFFF);
    EXPECT_EQ(55u, GetRegRefreshMaxTime(L"BATT-X"));
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegRefreshChargeTime(L"BATT-X"));
    EXPECT_EQ(0x7FFFFFFFu, GetRegRefreshDischargeTime(L"BATT-X"));
    CReg::SetDW(HKEY_LOCAL_MACHINE, kMaxTimeKey, L"time", 240);
    EXPECT_EQ(240u, GetRegRefreshMaxTime(L"BATT-X"));
    EXPECT_EQ(55u, GetRegRefreshMaxTime(L"BATT-Y")) << "each battery model has its own key";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetRegRefreshMaxTime(nullptr));
}

TEST_F(SettingsTest, EveryBatteryButTheFirstUsesTheBatt2Names) {
    EXPECT_EQ(0u, SetRegCurrentMode(1, 80));
    EXPECT_EQ(0u, SetRegCurrentMode(0, 50));
    EXPECT_EQ(80u, GetRegCurrentMode(1));
    EXPECT_EQ(50u, GetRegCurrentMode(2));
    EXPECT_EQ(50u, GetRegCurrentMode(3));
    DWORD stored = 0;
    EXPECT_EQ(S_OK,
              CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"CurrentMode_batt2", &stored));
    EXPECT_EQ(50u, stored);

    EXPECT_EQ(S_OK, SetRegHideWarningDialog(WARNINGTYPE_CAUTION, 1, 3));
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"HideWarningCaution_batt2"));
    EXPECT_EQ(S_OK, SetRegHideWarningDialog(WARNINGTYPE_DETERIORATION, 1, 1));
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"HideWarningDeterioration_batt1"));
    DWORD flag = 7;
    EXPECT_EQ(S_OK, GetRegHideWarningDialog(WARNINGTYPE_CAUTION, &flag, 0));
    EXPECT_EQ(1u, flag);
    EXPECT_EQ(S_OK, GetRegHideWarningDialog(WARNINGTYPE_CAUTION, &flag, 1));
    EXPECT_EQ(0u, flag);
    flag = 7;
    EXPECT_EQ(E_FAIL, GetRegHideWarningDialog(1, &flag, 1));
    EXPECT_EQ(0u, flag);
    EXPECT_EQ(E_FAIL, GetRegHideWarningDialog(WARNINGTYPE_CAUTION, nullptr, 1));
    EXPECT_EQ(E_FAIL, SetRegHideWarningDialog(4, 1, 1));
}

TEST_F(SettingsTest, ReservationIsWrittenReadAndDeletedAsAPair) {
    const SYSTEMTIME at = Minute(2024, 3, 5, 9, 7);
    ASSERT_EQ(S_OK, SetRegRefreshResevation(&at, RESERVATION_BATT2));
    EXPECT_EQ(L"2024/03/05 09:07",
              ReadText(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevation"));
    SYSTEMTIME read = {};
    EXPECT_EQ(E_FAIL, GetRegRefreshResevation(RESERVATION_BATT1, &read));
    read.wSecond = 59;
    EXPECT_EQ(S_OK, GetRegRefreshResevation(RESERVATION_BATT1 | RESERVATION_BATT2, &read));
    ExpectMinute(at, read);

    EXPECT_EQ(S_OK, DelRegRefreshResevation());
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevation"));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevationBatt"));
    EXPECT_EQ(E_FAIL, DelRegRefreshResevation());
}

TEST_F(SettingsTest, MinuteTextsNeedEveryFieldButNotLeadingZeros) {
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevationBatt", 1);
    CReg::SetSZ(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevation", L"2024/3/5 9:7");
    SYSTEMTIME read = {};
    EXPECT_EQ(S_OK, GetRegRefreshResevation(RESERVATION_BATT1, &read));
    ExpectMinute(Minute(2024, 3, 5, 9, 7), read);

    CReg::SetSZ(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevation", L"2024/03/05 09");
    EXPECT_EQ(E_FAIL, GetRegRefreshResevation(RESERVATION_BATT1, &read));
    CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"Balloon", L"2024/03/05");
    EXPECT_EQ(E_FAIL, GetRegBalloon(&read));

    // The other minute values share the format.
    const SYSTEMTIME at = Minute(2023, 12, 31, 23, 59);
    EXPECT_EQ(S_OK, SetRegLastBatteryStatusCheckTime(&at));
    EXPECT_EQ(L"2023/12/31 23:59",
              ReadText(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastBatteryStatusCheck"));
    EXPECT_EQ(S_OK, SetRegChargeModeRefBalloon(&at));
    EXPECT_EQ(S_OK, GetRegChargeModeRefBalloon(&read));
    ExpectMinute(at, read);
}

TEST_F(SettingsTest, RefreshDaysAreDayTextsUnderTheBatteryIdentity) {
    EXPECT_EQ(S_OK, SetRegLastRefreshDay(kOwnId, 2024, 3, 5));
    EXPECT_EQ(S_OK, SetRegFirstCheckPointRefreshDay(kOwnId, 2025, 11, 20));
    EXPECT_EQ(L"2024/03/05", ReadText(HKEY_LOCAL_MACHINE, kBatteryInfoKey, L"LastRefreshDate"));
    EXPECT_EQ(L"2025/11/20",
              ReadText(HKEY_LOCAL_MACHINE, kBatteryInfoKey, L"FirstCheckPointRefreshDate"));
    SYSTEMTIME day = {};
    day.wHour = 5;
    EXPECT_EQ(S_OK, GetRegLastRefreshDay(kOwnId, &day));
    ExpectMinute(Minute(2024, 3, 5, 0, 0), day);
    EXPECT_EQ(S_OK, GetRegRefreshDay(kOwnId, REFRESHDAY_FIRSTCHECKPOINT, &day));
    ExpectMinute(Minute(2025, 11, 20, 0, 0), day);
    EXPECT_TRUE(FAILED(GetRegLastRefreshDay(L"BATT-X-20240306-1a2b", &day)));

    EXPECT_EQ(S_OK, DelRegFirstCheckPointRefreshDay(kOwnId));
    EXPECT_TRUE(FAILED(GetRegFirstCheckPointRefreshDay(kOwnId, &day)));
    EXPECT_EQ(S_OK, GetRegLastRefreshDay(kOwnId, &day));

    CReg::SetSZ(HKEY_LOCAL_MACHINE, kBatteryInfoKey, L"LastRefreshDate", L"2024/03");
    EXPECT_EQ(E_FAIL, GetRegLastRefreshDay(kOwnId, &day));
    EXPECT_EQ(E_POINTER, GetRegLastRefreshDay(nullptr, &day));
    EXPECT_EQ(E_POINTER, SetRegLastRefreshDay(nullptr, 2024, 3, 5));
}

TEST_F(SettingsTest, UnknownRefreshDaySelectorTouchesNothing) {
    SYSTEMTIME day = {};
    EXPECT_EQ(E_INVALIDARG, GetRegRefreshDay(kOwnId, 3, &day));
    EXPECT_EQ(E_INVALIDARG, SetRegRefreshDay(kOwnId, 3, 2024, 3, 5));
    EXPECT_EQ(E_INVALIDARG, DelRegRefreshDay(kOwnId, 0));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_LOCAL_MACHINE, kBatteryInfoKey));
}

TEST_F(SettingsTest, UserPowerPlanMustBeSixteenBytes) {
    const GUID plan = {
        0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};
    ASSERT_EQ(S_OK, SetRegUserPowerPlan(&plan));
    GUID read = {};
    EXPECT_EQ(S_OK, GetRegUserPowerPlan(&read));
    EXPECT_TRUE(IsEqualGUID(plan, read));

    const BYTE shortPlan[15] = {};
    CReg::SetBIN(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"UserPowerPlan", shortPlan,
                 sizeof(shortPlan));
    EXPECT_EQ(E_FAIL, GetRegUserPowerPlan(&read));
    EXPECT_TRUE(IsEqualGUID(plan, read)) << "a failed read leaves the caller's GUID alone";

    EXPECT_EQ(S_OK, DelRegUserPowerPlan());
    EXPECT_EQ(E_POINTER, SetRegUserPowerPlan(nullptr));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"UserPowerPlan"));
}

TEST_F(SettingsTest, StoredValuesReplaceTheDefaults) {
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"ChargeDcHdddspin", 42);
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"StateCheckRetry", 0);
    CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSchemeName",
                L"Refresh plan");
    EXPECT_EQ(42u, GetRegChargePowerTimeout(5));
    EXPECT_EQ(0u, GetRegChargePowerTimeout(CHARGE_POWER_TIMEOUT_COUNT));
    DWORD value = 1;
    EXPECT_EQ(S_OK, GetRegStateCheckRetry(&value));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(E_POINTER, GetRegStateCheckRetry(nullptr));
    EXPECT_EQ(E_FAIL, GetRegRoutineCheckInterval(nullptr));
    wchar_t name[8] = {};
    EXPECT_EQ(S_OK, GetRegRefreshPowerSchemeName(name, ARRAYSIZE(name)));
    EXPECT_STREQ(L"Refresh", name) << "cut to the caller's buffer";
}

// Each tuning value reads within what it can mean; its edges read as
// stored, one step beyond (or a text) as the default.
TEST_F(SettingsTest, TuningOutsideItsRangeReadsAsTheDefault) {
    struct Edge {
        HKEY hive;
        const wchar_t* name;
        DWORD (*get)();
        DWORD lowest, highest, fallback;
    };
    const Edge edges[] = {
        {HKEY_LOCAL_MACHINE, L"NotChargeLimit", GetRegNotChargeLimit, 1, 100, 5},
        {HKEY_LOCAL_MACHINE, L"RefreshCoolDownTime", GetRegRefreshCoolDownTime, 0, 1440, 30},
        {HKEY_LOCAL_MACHINE, L"RefreshCoolDownLimit", GetRegRefreshCoolDownLimit, 0, 1440, 60},
        {HKEY_LOCAL_MACHINE, L"ADCHDelay", GetRegADCHDelay, 0, 10000, 200},
        {HKEY_LOCAL_MACHINE, L"BatteryChargeComplete", GetRegBatteryChargeComplete, 1, 100, 95},
        {HKEY_CURRENT_USER, L"WaitWatchBatteryStatusTime", GetRegWaitWatchBatteryStatusTime, 100,
         3600000, 60000},
        {HKEY_CURRENT_USER, L"StoredBrightnessAC", GetRegStoredBrightnessAC, 0, 100,
         SETTINGS_NOT_SET},
    };
    for (const Edge& e : edges) {
        SCOPED_TRACE(e.name);
        for (DWORD inside : {e.lowest, e.highest}) {
            ASSERT_EQ(S_OK, CReg::SetDW(e.hive, SETTINGS_KEY_REFRESH, e.name, inside));
            EXPECT_EQ(inside, e.get());
        }
        if (e.lowest > 0) {
            ASSERT_EQ(S_OK, CReg::SetDW(e.hive, SETTINGS_KEY_REFRESH, e.name, e.lowest - 1));
            EXPECT_EQ(e.fallback, e.get());
        }
        for (DWORD outside : {e.highest + 1, static_cast<DWORD>(0xFFFFFFFF)}) {
            ASSERT_EQ(S_OK, CReg::SetDW(e.hive, SETTINGS_KEY_REFRESH, e.name, outside));
            EXPECT_EQ(e.fallback, e.get());
        }
        ASSERT_EQ(S_OK, CReg::SetSZ(e.hive, SETTINGS_KEY_REFRESH, e.name, L"1"));
        EXPECT_EQ(e.fallback, e.get());
    }
}

// An administrator's policy wins over the owner's value while it means
// something; one outside the setting's range is ignored (the owner's value
// stands) and traced once per read. The enforced charge mode takes only the
// three modes, and the trace switch any number.
TEST_F(SettingsTest, PoliciesWinWithinTheirRangeAndAreIgnoredOutsideIt) {
    struct Case {
        HKEY hive;
        const wchar_t* key;       // the owner's
        const wchar_t* policyKey; // the same place under the policy key
        const wchar_t* name;
        DWORD (*get)();
        DWORD owner, lowest, highest, fallback; // fallback: what the owner's value reads as
    };
    const auto routine = [] {
        DWORD value = 0;
        GetRegRoutineCheckInterval(&value);
        return value;
    };
    const auto routineDays = [] {
        DWORD value = 0;
        GetRegRoutineCheckIntervalDays(&value);
        return value;
    };
    const Case cases[] = {
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, SETTINGS_KEY_POLICY_REFRESH, L"RefreshInterval",
         GetRegRefreshInterval, 5, 1, 120, 5},
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, SETTINGS_KEY_POLICY_REFRESH,
         L"RefreshCoolDownTime", GetRegRefreshCoolDownTime, 20, 0, 1440, 20},
        // The owner's 0 is out of its range too: the default stands.
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, SETTINGS_KEY_POLICY_REFRESH, L"NotChargeLimit",
         GetRegNotChargeLimit, 0, 1, 100, 5},
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, SETTINGS_KEY_POLICY, L"BatteryLifeRate",
         GetRegBatteryLifeRate, 70, 1, 100, 70},
        {HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, SETTINGS_KEY_POLICY, L"RoutineCheckInterval",
         routine, 30000, 1000, 86400000, 30000},
        {HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, SETTINGS_KEY_POLICY, L"RoutineCheckIntervalDays",
         routineDays, 3, 1, 366, 3},
        {HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, SETTINGS_KEY_POLICY_REFRESH,
         L"WaitWatchBatteryStatusTime", GetRegWaitWatchBatteryStatusTime, 5000, 100, 3600000, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(S_OK, CReg::SetDW(c.hive, c.key, c.name, c.owner));
        for (DWORD inside : {c.lowest, c.highest}) {
            ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, c.policyKey, c.name, inside));
            EXPECT_EQ(inside, c.get());
        }
        for (DWORD outside : {c.lowest - 1, c.highest + 1}) {
            if (outside == 0xFFFFFFFF && c.lowest == 0)
                continue;
            ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, c.policyKey, c.name, outside));
            EXPECT_EQ(c.fallback, c.get());
        }
        // A policy under the other key is no policy of this setting.
        const wchar_t* otherKey =
            c.policyKey == SETTINGS_KEY_POLICY ? SETTINGS_KEY_POLICY_REFRESH : SETTINGS_KEY_POLICY;
        CReg::DeleteValue(HKEY_LOCAL_MACHINE, c.policyKey, c.name);
        ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, otherKey, c.name, c.lowest));
        EXPECT_EQ(c.fallback, c.get());
        CReg::DeleteValue(HKEY_LOCAL_MACHINE, otherKey, c.name);
        // Writes stay the owner's.
        DWORD owner = 0;
        EXPECT_EQ(S_OK, CReg::GetDW(c.hive, c.key, c.name, &owner));
        EXPECT_EQ(c.owner, owner);
    }

    // One trace line per read of an ignored policy.
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", 1));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY_REFRESH,
                                L"RefreshIntervalFirst", 121));
    EXPECT_EQ(12u, GetRegRefreshIntervalFirst());
    const std::wstring trace = testenv::ReadLogText(L"vadovur_refresh.log");
    size_t lines = 0;
    for (size_t at = trace.find(L"RefreshIntervalFirst = 121"); at != std::wstring::npos;
         at = trace.find(L"RefreshIntervalFirst = 121", at + 1))
        ++lines;
    EXPECT_EQ(1u, lines) << testenv::ReadLogText(L"vadovur_refresh.log");

    // The trace switch: the policy's word, whatever the owner's.
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY_REFRESH, L"Log", 0));
    EXPECT_FALSE(IsLogEnabled());
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", 0));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY_REFRESH, L"Log", 2));
    EXPECT_TRUE(IsLogEnabled());

    // The enforced charge mode.
    DWORD mode = 7;
    EXPECT_FALSE(GetPolicyChargeMode(&mode));
    for (DWORD enforced : {0u, 50u, 80u}) {
        ASSERT_EQ(S_OK,
                  CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", enforced));
        EXPECT_TRUE(GetPolicyChargeMode(&mode));
        EXPECT_EQ(enforced, mode);
    }
    for (DWORD wrong : {5u, 60u, 100u, 0x80u}) {
        ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", wrong));
        EXPECT_FALSE(GetPolicyChargeMode(&mode)) << wrong;
    }
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", L"0"));
    EXPECT_FALSE(GetPolicyChargeMode(&mode)) << "a text is no mode";
}

// The XP scheme's name holds 64 bytes and its description 256, terminator
// included: a longer text is not cut but replaced by the default.
TEST_F(SettingsTest, SchemeTextsLongerThanTheirFieldsReadAsTheDefault) {
    const std::wstring name31(31, L'n');
    const std::wstring desc127(127, L'd');
    wchar_t text[260] = {};
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSchemeName",
                                name31.c_str()));
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSchemeDesc",
                                desc127.c_str()));
    GetRegRefreshPowerSchemeName(text, ARRAYSIZE(text));
    EXPECT_EQ(name31, text);
    GetRegRefreshPowerSchemeDesc(text, ARRAYSIZE(text));
    EXPECT_EQ(desc127, text);

    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSchemeName",
                                (name31 + L"n").c_str()));
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSchemeDesc",
                                (desc127 + L"d").c_str()));
    GetRegRefreshPowerSchemeName(text, ARRAYSIZE(text));
    EXPECT_STREQ(L"バッテリ・リフレッシュ", text);
    GetRegRefreshPowerSchemeDesc(text, ARRAYSIZE(text));
    EXPECT_STREQ(L"", text);
}

// The clean state every test here starts from.
TEST(SuiteStateCleanup, RemovesBothHivesTreesAndTheLogFiles) {
    const std::wstring deep = std::wstring(SETTINGS_KEY_ROOT) + L"BatteryInfo\\X";
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, deep.c_str(), L"v", 1));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"v", 1));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"v", 1));
    const wchar_t* const logs[] = {L"vadovur_refresh.log", L"vadovur_error.log",
                                   L"vadovur_progress_01.log", L"vadovur_progress_02.log"};
    for (const wchar_t* name : logs) {
        const std::wstring path = testenv::LogPath(name);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
        CloseHandle(file);
    }
    testenv::CleanSuiteState();
    EXPECT_FALSE(CReg::IsExistKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN));
    for (const wchar_t* name : logs)
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(testenv::LogPath(name).c_str()))
            << name;
}

} // namespace
