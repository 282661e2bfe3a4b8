// The settings store: one accessor per registry value of the suite, with the
// value's default built in. Nothing is cached; every call reads or writes the
// registry, so a change made by one program is seen by all at their next read.
//
//   HKLM SOFTWARE\ZEL\VADOvur                     machine switches, charge modes
//   HKLM SOFTWARE\ZEL\VADOvur\Refresh             refresh tuning, reservation
//   HKLM SOFTWARE\ZEL\VADOvur\BatteryInfo\<id>    one battery's dated history
//   HKLM SOFTWARE\ZEL\VADOvur\RefreshMaxTime\<n>  one battery model's durations
//   HKCU SOFTWARE\ZEL\VADOvur                     per-user results and flags
//   HKCU SOFTWARE\ZEL\VADOvur\Refresh             per-user hand-over values
//
//   HKLM SOFTWARE\Policies\ZEL\VADOvur[\Refresh]  administrator's policies
//
// Machine settings (the tuning values below, "BatteryLifeRate", the routine
// check intervals and the "Log" switch) are read from the policy key first:
// a policy value inside the setting's range wins over the owner's; one
// outside it is ignored with a trace line, and the owner's value (or the
// default) stands. Hand-over state, history, charge-mode copies and the
// installer's switches have no policy. Writes always go to the owner's key.
//
// Plain getters return the value, or the default when it cannot be read.
// Per-battery values: battery number 1 selects "..._batt1", any other "..._batt2".
// Date texts: day "yyyy/mm/dd", minute "yyyy/mm/dd hh:mm" (local time).
#pragma once

#include <windows.h>

#include <stddef.h>

// Key paths, relative to the hive.
inline constexpr wchar_t SETTINGS_KEY_ROOT[] = L"SOFTWARE\\ZEL\\VADOvur\\";
inline constexpr wchar_t SETTINGS_KEY_MAIN[] = L"SOFTWARE\\ZEL\\VADOvur";
inline constexpr wchar_t SETTINGS_KEY_REFRESH[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
// Group Policy's copy of the machine settings (HKLM only), with the same
// value names and subkeys. The settings store reads a machine setting here
// first; the programs never write here.
inline constexpr wchar_t SETTINGS_KEY_POLICY[] = L"SOFTWARE\\Policies\\ZEL\\VADOvur";
inline constexpr wchar_t SETTINGS_KEY_POLICY_REFRESH[] =
    L"SOFTWARE\\Policies\\ZEL\\VADOvur\\Refresh";

// A DWORD default of -1: nothing stored.
constexpr DWORD SETTINGS_NOT_SET = 0xFFFFFFFF;

// Default of "CurrentMode_battN": no registry copy of the charge mode yet.
constexpr DWORD CURRENTMODE_NOT_SET = 128;

// Selectors of the BatteryInfo dates.
constexpr DWORD REFRESHDAY_FIRSTCHECKPOINT = 2; // "FirstCheckPointRefreshDate"
constexpr DWORD REFRESHDAY_LAST = 4;            // "LastRefreshDate"

// Warning types of the "HideWarning..." flags.
constexpr int WARNINGTYPE_DETERIORATION = 2; // "HideWarningDeterioration_battN"
constexpr int WARNINGTYPE_CAUTION = 3;       // "HideWarningCaution_battN"

// Bits of "RefreshResevationBatt".
constexpr DWORD RESERVATION_BATT1 = 1;
constexpr DWORD RESERVATION_BATT2 = 2;

// Number of "Charge..." power time-outs (GetRegChargePowerTimeout indexes).
constexpr int CHARGE_POWER_TIMEOUT_COUNT = 8;

// ---- HKLM SOFTWARE\ZEL\VADOvur ---------------------------------------------

// "CurrentMode_battN", default 128 (above 100 means none stored yet).
DWORD GetRegCurrentMode(DWORD dwBattNo);
// 0, or ERROR_FUNCTION_FAILED when the write fails.
DWORD SetRegCurrentMode(DWORD dwBattNo, DWORD dwMode);
// "IsRegModeEnabled" == 1. When absent, 1 is written and TRUE returned.
BOOL IsRegModeEnabled();
// "QuickAnalyze" == 1.
BOOL GetRegQuickAnalyze();
// "Limited", default 0.
DWORD GetRegLimited();
HRESULT SetRegLimited(DWORD dwLimited);
// "RefreshOriginalMode_battN": a battery's charge mode as it was before the
// refresh tool changed it (released for the refresh, or held off charging
// as the other battery). It exists only while that change stands, so a
// record found when no refresh runs belongs to a run that died; see
// battery/refresh_repair.h. The getter fails when there is no record.
HRESULT GetRegRefreshOriginalMode(DWORD dwBattNo, DWORD* pdwMode);
HRESULT SetRegRefreshOriginalMode(DWORD dwBattNo, DWORD dwMode);
HRESULT DelRegRefreshOriginalMode(DWORD dwBattNo);
// "Commercial", default 0.
DWORD GetRegCommercial();
// "BatteryLifeRate", default 90 (a policy: 1..100).
DWORD GetRegBatteryLifeRate();

// ---- HKLM SOFTWARE\ZEL\VADOvur\Refresh ---------------------------------------
// ("Log" is IsLogEnabled in common/log.h.)

// The refresh tool's tuning. A value outside the range given here (or one
// stored as text) reads as the default: each range is what the setting can
// mean, so a mistyped value cannot hold a battery off charging, write a
// nonsense charge mode to the firmware or keep a phase from ever ending.
DWORD GetRegNotChargeLimit();       // "NotChargeLimit", 5; a charge mode 1..100 (0 would charge)
DWORD GetRegRefreshCoolDownLimit(); // "RefreshCoolDownLimit", 60; minutes 0..1440
DWORD GetRegRefreshCoolDownTime();  // "RefreshCoolDownTime", 30; minutes 0..1440
DWORD GetRegRefreshCoolDownTemp();  // "RefreshCoolDownTemp", 3131; 0..0xFFFF (0.1 K)
// The next three, "PCSleep" and the power time-outs are taken as stored;
// only a policy is held to the range given (months, seconds).
DWORD GetRegRefreshInterval();          // "RefreshInterval", 3; policy 1..120
DWORD GetRegRefreshIntervalFirst();     // "RefreshIntervalFirst", 12; policy 0..120
DWORD GetRegRefreshIntervalSecond();    // "RefreshIntervalSecond", 6; policy 0..120
DWORD GetRegADCHDelay();                // "ADCHDelay", 200; ms 0..10000
DWORD GetRegBatteryChargeComplete();    // "BatteryChargeComplete", 95; percent 1..100
DWORD GetRegBatteryChargeCompleteMax(); // "BatteryChargeCompleteMax", 100; percent 1..100
DWORD GetRegSleepDelay();               // "SleepDelay", 3; minutes 0..1440
DWORD GetRegPCSleep();                  // "PCSleep", 30; policy 0..86400

// "RefreshLimit": 2 on the platform kind 1 / code 0x312, else 101. Its
// default needs the device library, so it is defined with the battery code
// (battery/), not in the common library.
DWORD GetRegRefreshLimit();

// "StateCheckRetry" (10; 0..100) and "StateCheckInterval" (100 ms;
// 0..10000). *pdwValue gets the value, or the default when absent or out of range; E_POINTER for a
// null pointer, else S_OK.
HRESULT GetRegStateCheckRetry(DWORD* pdwValue);
HRESULT GetRegStateCheckInterval(DWORD* pdwValue);

// Time-outs of the refresh power scheme (older power-scheme interface), in
// seconds, by index: 0 "ChargeACMonitor" 1200, 1 "ChargeDcMonitor" 300,
// 2 "ChargeAcSuspend" 0, 3 "ChargeDcSuspend" 0, 4 "ChargeAcHddspin" 1200,
// 5 "ChargeDcHdddspin" 600, 6 "ChargeAcHibernate" 0, 7 "ChargeDcHiberanate" 0.
// Any other index gives 0. A policy: 0..86400.
DWORD GetRegChargePowerTimeout(int nIndex);

// "UserPowerPlan": a 16-byte GUID. The getter returns the read error, or
// E_FAIL when the stored value is not 16 bytes.
HRESULT GetRegUserPowerPlan(GUID* pGuid);
HRESULT SetRegUserPowerPlan(const GUID* pGuid);
HRESULT DelRegUserPowerPlan();

// The reservation: "RefreshResevation" (minute text) and
// "RefreshResevationBatt" (RESERVATION_BATT1 | RESERVATION_BATT2), written
// and deleted together; E_FAIL if either fails.
HRESULT SetRegRefreshResevation(const SYSTEMTIME* pTime, DWORD dwBattMask);
// E_FAIL unless a reservation exists for one of the batteries in dwBattMask
// and its time parses. The time has year to minute set, the rest zero.
HRESULT GetRegRefreshResevation(DWORD dwBattMask, SYSTEMTIME* pTime);
// The stored "RefreshResevationBatt" bits; the CReg result.
HRESULT GetRegRefreshResevationBatt(DWORD* pdwBattMask);
HRESULT DelRegRefreshResevation();

// ---- HKLM SOFTWARE\ZEL\VADOvur\BatteryInfo\<OWNID> ---------------------------
// Day texts of one battery. dwSelector: REFRESHDAY_FIRSTCHECKPOINT or
// REFRESHDAY_LAST; any other gives E_INVALIDARG. No default: a missing value
// fails. The read day has year, month and day set, the rest zero.

HRESULT GetRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector, SYSTEMTIME* pDay);
HRESULT SetRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector, DWORD dwYear, DWORD dwMonth,
                         DWORD dwDay);
HRESULT DelRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector);

HRESULT GetRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID, SYSTEMTIME* pDay);
HRESULT SetRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID, DWORD dwYear, DWORD dwMonth,
                                        DWORD dwDay);
HRESULT DelRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID);

HRESULT GetRegLastRefreshDay(LPCWSTR lpstrOwnID, SYSTEMTIME* pDay);
HRESULT SetRegLastRefreshDay(LPCWSTR lpstrOwnID, DWORD dwYear, DWORD dwMonth, DWORD dwDay);

// ---- HKLM SOFTWARE\ZEL\VADOvur\RefreshMaxTime\<battery name> -----------------
// A stored value with the top bit set reads as the default. A null name
// gives ERROR_INVALID_PARAMETER (87).

DWORD GetRegRefreshChargeTime(LPCWSTR lpszBattName);    // "ChargeTime", -1
DWORD GetRegRefreshDischargeTime(LPCWSTR lpszBattName); // "DischargeTime", -1
DWORD GetRegRefreshMaxTime(LPCWSTR lpszBattName);       // "time", 55

// ---- HKCU SOFTWARE\ZEL\VADOvur -------------------------------------------------

// "LastRefreshStatus": no default, the CReg result.
HRESULT GetRegLastRefreshStatus(DWORD* pdwStatus);
HRESULT SetRegLastRefreshStatus(DWORD dwStatus);
HRESULT DelRegLastRefreshStatus();
// "LastRefreshUser": "domain\user".
HRESULT SetRegLastRefreshUser(LPCWSTR lpszUser);
// "ReadMeCheck": 1, or 0 for anything else (absent included).
DWORD GetRegReadMeCheck();
HRESULT SetRegReadMeCheck(DWORD dwCheck);

// Minute texts; the getters fail when the value is absent or does not parse.
HRESULT GetRegLastBatteryStatusCheckTime(SYSTEMTIME* pTime); // "LastBatteryStatusCheck"
HRESULT SetRegLastBatteryStatusCheckTime(const SYSTEMTIME* pTime);
HRESULT GetRegBalloon(SYSTEMTIME* pTime); // "Balloon"
HRESULT SetRegBalloon(const SYSTEMTIME* pTime);
HRESULT GetRegChargeModeRefBalloon(SYSTEMTIME* pTime); // "ChargeModeRefBalloon"
HRESULT SetRegChargeModeRefBalloon(const SYSTEMTIME* pTime);

// "RoutineCheckInterval" (60000 ms; a policy 1000..86400000) and
// "RoutineCheckIntervalDays" (1; a policy 1..366).
// *pdwValue gets the value or the default; E_FAIL for a null pointer.
HRESULT GetRegRoutineCheckInterval(DWORD* pdwValue);
HRESULT GetRegRoutineCheckIntervalDays(DWORD* pdwValue);

// "HideWarningDeterioration_battN" (type 2) and "HideWarningCaution_battN"
// (type 3), default 0. Another type, or a null pointer, gives E_FAIL (and 0).
HRESULT GetRegHideWarningDialog(int nWarningType, DWORD* pdwHideFlag, DWORD dwBattNo);
HRESULT SetRegHideWarningDialog(int nWarningType, DWORD dwHideFlag, DWORD dwBattNo);

// ---- HKCU SOFTWARE\ZEL\VADOvur\Refresh -----------------------------------------

// Out of range reads as the default, as for the refresh tuning above.
DWORD GetRegPowerSchemeTryCount();        // "PowerSchemeTryCount", 10; 0..100
DWORD GetRegWaitPowerSchemeTime();        // "WaitPowerSchemeTime", 100; ms 0..10000
DWORD GetRegWaitWatchBatteryStatusTime(); // "WaitWatchBatteryStatusTime", 60000; ms 100..3600000

// "StoredBrightnessAC" / "StoredBrightnessDC", default -1 (SETTINGS_NOT_SET);
// anything but a level of 0..100 reads as not stored.
DWORD GetRegStoredBrightnessAC();
HRESULT SetRegStoredBrightnessAC(DWORD dwBrightness);
HRESULT DelRegStoredBrightnessAC();
DWORD GetRegStoredBrightnessDC();
HRESULT SetRegStoredBrightnessDC(DWORD dwBrightness);
HRESULT DelRegStoredBrightnessDC();

// "RefreshPowerSetting" / "UserPowerSetting": scheme ids, default -1.
DWORD GetRegRefreshPowerSetting();
HRESULT SetRegRefreshPowerSetting(DWORD dwScheme);
DWORD GetRegUserPowerSetting();
HRESULT SetRegUserPowerSetting(DWORD dwScheme);
HRESULT DelRegUserPowerSetting();

// "RefreshPowerSchemeName" (default "バッテリ・リフレッシュ") and
// "RefreshPowerSchemeDesc" (default empty), copied truncated into the
// caller's buffer of cchBuffer characters. E_POINTER for a null buffer.
// The name is read up to 64 bytes and the description up to 256 bytes,
// terminator included (the fields of the XP scheme they name); a longer
// stored text reads as the default.
HRESULT GetRegRefreshPowerSchemeName(LPWSTR lpszBuffer, size_t cchBuffer);
HRESULT GetRegRefreshPowerSchemeDesc(LPWSTR lpszBuffer, size_t cchBuffer);

// ---- HKLM SOFTWARE\Policies\ZEL\VADOvur -------------------------------------------

// The policy value lpName under lpPolicyKey (SETTINGS_KEY_POLICY or
// SETTINGS_KEY_POLICY_REFRESH) when it is set and within dwMin..dwMax; a
// value outside is logged and false returned, as when none is set.
bool GetPolicyDword(LPCWSTR lpPolicyKey, LPCWSTR lpName, DWORD dwMin, DWORD dwMax, DWORD* pdwValue);

// "ChargeMode": the charge mode (0, 50 or 80) the administrator enforces on
// every battery. False when none is set, or the value is none of those
// three (logged).
bool GetPolicyChargeMode(DWORD* pdwMode);
