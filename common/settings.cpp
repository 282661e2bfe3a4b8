#include "common/settings.h"

#include "common/log.h"
#include "common/reg.h"

#include <strsafe.h>
#include <wchar.h>

namespace {

// Text buffers of the date values: minute texts are read into 256
// characters, day texts into 260.
constexpr size_t kMinuteTextCch = 256;
constexpr size_t kDayTextCch = MAX_PATH;

// Ranges of the refresh tuning (see the accessors in settings.h).
constexpr DWORD kMinutesPerDay = 24 * 60;
constexpr DWORD kLongestPauseMs = 10000;   // a pause that blocks the refresh window
constexpr DWORD kMostAttempts = 100;       // retries of a state check
constexpr DWORD kLongestWatchMs = 3600000; // the XP battery watch: at least hourly
// Ranges a policy is held to where the owner's value has none.
constexpr DWORD kMostMonths = 120;             // refresh intervals: ten years
constexpr DWORD kSecondsPerDay = 24 * 60 * 60; // power time-outs, sleep count-down
constexpr DWORD kShortestRoutineMs = 1000;     // what the scheduler's timer takes
constexpr DWORD kLongestRoutineMs = kSecondsPerDay * 1000;
constexpr DWORD kMostRoutineDays = 366;

// Read limits of the XP refresh scheme's texts, in bytes.
constexpr DWORD kSchemeNameBytes = 64;
constexpr DWORD kSchemeDescBytes = 256;

const wchar_t kDefaultSchemeName[] = L"バッテリ・リフレッシュ";

// ---- Plain DWORD values ----------------------------------------------------

// The common shape of a getter: the stored value, or the default when the
// value (or its key) cannot be read.
DWORD ReadDword(HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD dwDefault) {
    DWORD value = dwDefault;
    if (FAILED(CReg::GetDW(hive, lpSubkey, lpName, &value)))
        value = dwDefault;
    return value;
}

// Getters that answer through an out-parameter: the value or the default,
// and S_OK either way (a value never written is not an error).
HRESULT ReadDwordTo(HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName, DWORD dwDefault, DWORD* pdwValue) {
    *pdwValue = ReadDword(hive, lpSubkey, lpName, dwDefault);
    return S_OK;
}

DWORD ReadMainDword(LPCWSTR lpName, DWORD dwDefault) {
    return ReadDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, lpName, dwDefault);
}

DWORD ReadUserRefreshDword(LPCWSTR lpName, DWORD dwDefault) {
    return ReadDword(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, lpName, dwDefault);
}

// A stored value outside what the setting can mean is a mistake, not a
// wish: it reads as the default.
DWORD InRange(DWORD dwValue, DWORD dwMin, DWORD dwMax, DWORD dwDefault) {
    return dwValue >= dwMin && dwValue <= dwMax ? dwValue : dwDefault;
}

// ---- Machine settings and their policies ------------------------------------

// One machine setting: where the owner's value lives, its default, and the
// values it can mean. A policy value is taken only inside that range; the
// owner's value is held to it only where bUsualInRange says so (the others
// have always been taken as stored, and stay so).
struct MachineSetting {
    HKEY hive;
    LPCWSTR key; // under hive; the policy's is the same path under the policy key
    LPCWSTR name;
    DWORD dwDefault;
    DWORD dwMin;
    DWORD dwMax;
    bool bUsualInRange;
};

// The policy key that mirrors an owner's key: "...\VADOvur" or
// "...\VADOvur\Refresh", whichever hive the owner's value is in.
LPCWSTR PolicyKeyFor(LPCWSTR lpSubkey) {
    return lstrcmpiW(lpSubkey, SETTINGS_KEY_REFRESH) == 0 ? SETTINGS_KEY_POLICY_REFRESH
                                                          : SETTINGS_KEY_POLICY;
}

DWORD ReadSetting(const MachineSetting& setting) {
    DWORD value = 0;
    if (GetPolicyDword(PolicyKeyFor(setting.key), setting.name, setting.dwMin, setting.dwMax,
                       &value))
        return value;
    value = ReadDword(setting.hive, setting.key, setting.name, setting.dwDefault);
    return setting.bUsualInRange ? InRange(value, setting.dwMin, setting.dwMax, setting.dwDefault)
                                 : value;
}

DWORD ReadRefreshDwordIn(LPCWSTR lpName, DWORD dwDefault, DWORD dwMin, DWORD dwMax) {
    return ReadSetting(
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, lpName, dwDefault, dwMin, dwMax, true});
}

DWORD ReadUserRefreshDwordIn(LPCWSTR lpName, DWORD dwDefault, DWORD dwMin, DWORD dwMax) {
    return ReadSetting(
        {HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, lpName, dwDefault, dwMin, dwMax, true});
}

// Settings whose stored value has always been taken as it is: a policy is
// still held to what the setting can mean.
DWORD ReadRefreshDwordPolicyIn(LPCWSTR lpName, DWORD dwDefault, DWORD dwMin, DWORD dwMax) {
    return ReadSetting(
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, lpName, dwDefault, dwMin, dwMax, false});
}

// "<base>_batt1" for battery 1, "<base>_batt2" for every other number.
void FormatBatteryValueName(LPWSTR lpszName, size_t cchName, LPCWSTR lpszBase, DWORD dwBattNo) {
    StringCchPrintfW(lpszName, cchName, L"%s_batt%d", lpszBase, dwBattNo == 1 ? 1 : 2);
}

// ---- Texts and dates -------------------------------------------------------

// Reads a text into a cleared buffer. The registry does not terminate what
// it returns, so one character is kept back for the terminator.
HRESULT ReadText(HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName, LPWSTR lpszText, size_t cchText) {
    ZeroMemory(lpszText, cchText * sizeof(wchar_t));
    return CReg::GetSZ(hive, lpSubkey, lpName, lpszText,
                       static_cast<DWORD>((cchText - 1) * sizeof(wchar_t)));
}

void FormatDayText(LPWSTR lpszText, size_t cchText, DWORD dwYear, DWORD dwMonth, DWORD dwDay) {
    StringCchPrintfW(lpszText, cchText, L"%04d/%02d/%02d", static_cast<int>(dwYear),
                     static_cast<int>(dwMonth), static_cast<int>(dwDay));
}

void FormatMinuteText(LPWSTR lpszText, size_t cchText, const SYSTEMTIME& time) {
    StringCchPrintfW(lpszText, cchText, L"%04d/%02d/%02d %02d:%02d", time.wYear, time.wMonth,
                     time.wDay, time.wHour, time.wMinute);
}

// The day text back into a SYSTEMTIME with only year, month and day set.
// Every field must be there; leading zeros are not required.
bool ParseDayText(LPCWSTR lpszText, SYSTEMTIME* pDay) {
    int year = 0, month = 0, day = 0;
    if (swscanf(lpszText, L"%d/%d/%d", &year, &month, &day) != 3)
        return false;
    *pDay = SYSTEMTIME{};
    pDay->wYear = static_cast<WORD>(year);
    pDay->wMonth = static_cast<WORD>(month);
    pDay->wDay = static_cast<WORD>(day);
    return true;
}

// The minute text back into a SYSTEMTIME with year to minute set.
bool ParseMinuteText(LPCWSTR lpszText, SYSTEMTIME* pTime) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (swscanf(lpszText, L"%d/%d/%d %d:%d", &year, &month, &day, &hour, &minute) != 5)
        return false;
    *pTime = SYSTEMTIME{};
    pTime->wYear = static_cast<WORD>(year);
    pTime->wMonth = static_cast<WORD>(month);
    pTime->wDay = static_cast<WORD>(day);
    pTime->wHour = static_cast<WORD>(hour);
    pTime->wMinute = static_cast<WORD>(minute);
    return true;
}

// Minute-text values (the reservation, check times, balloon times).
HRESULT ReadMinuteValue(LPCWSTR lpszFunction, HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName,
                        SYSTEMTIME* pTime) {
    if (IsNullArg(pTime, lpszFunction, __LINE__, L"pTime"))
        return E_POINTER;
    wchar_t text[kMinuteTextCch];
    if (FAILED(ReadText(hive, lpSubkey, lpName, text, ARRAYSIZE(text))))
        return E_FAIL;
    SYSTEMTIME parsed = {};
    if (!ParseMinuteText(text, &parsed))
        return E_FAIL;
    *pTime = parsed;
    return S_OK;
}

HRESULT WriteMinuteValue(LPCWSTR lpszFunction, HKEY hive, LPCWSTR lpSubkey, LPCWSTR lpName,
                         const SYSTEMTIME* pTime) {
    if (IsNullArg(pTime, lpszFunction, __LINE__, L"pTime"))
        return E_POINTER;
    wchar_t text[kMinuteTextCch] = {};
    FormatMinuteText(text, ARRAYSIZE(text), *pTime);
    return CReg::SetSZ(hive, lpSubkey, lpName, text);
}

// ---- Per-battery and per-model keys ----------------------------------------

// "<root>BatteryInfo\<OWNID>" or "<root>RefreshMaxTime\<name>". A name too
// long for the path is refused rather than cut: a cut key could be another
// battery's.
bool FormatSubkey(LPWSTR lpszKey, size_t cchKey, LPCWSTR lpszFormat, LPCWSTR lpszName) {
    return SUCCEEDED(StringCchPrintfW(lpszKey, cchKey, lpszFormat, SETTINGS_KEY_ROOT, lpszName));
}

// The value name of a BatteryInfo date, or nullptr for an unknown selector.
LPCWSTR RefreshDayValueName(DWORD dwSelector) {
    switch (dwSelector) {
    case REFRESHDAY_FIRSTCHECKPOINT:
        return L"FirstCheckPointRefreshDate";
    case REFRESHDAY_LAST:
        return L"LastRefreshDate";
    default:
        return nullptr;
    }
}

// RefreshMaxTime values: estimates were stored as signed numbers, so one
// with the top bit set is no estimate and reads as the default.
DWORD ReadMaxTimeValue(LPCWSTR lpszFunction, LPCWSTR lpszBattName, LPCWSTR lpName,
                       DWORD dwDefault) {
    if (IsNullArg(lpszBattName, lpszFunction, __LINE__, L"lpszBattName"))
        return ERROR_INVALID_PARAMETER;
    wchar_t key[MAX_PATH] = {};
    if (!FormatSubkey(key, ARRAYSIZE(key), L"%sRefreshMaxTime\\%s", lpszBattName))
        return dwDefault;
    const DWORD value = ReadDword(HKEY_LOCAL_MACHINE, key, lpName, dwDefault);
    return (value & 0x80000000) ? dwDefault : value;
}

// ---- Warning flags -----------------------------------------------------------

LPCWSTR HideWarningBaseName(int nWarningType) {
    switch (nWarningType) {
    case WARNINGTYPE_DETERIORATION:
        return L"HideWarningDeterioration";
    case WARNINGTYPE_CAUTION:
        return L"HideWarningCaution";
    default:
        return nullptr;
    }
}

// ---- Power scheme texts ------------------------------------------------------

// The texts of the XP refresh scheme: read up to cbLimit bytes, terminator
// included; a longer stored text reads as the default, never cut.
HRESULT ReadSchemeText(LPCWSTR lpszFunction, LPCWSTR lpName, LPCWSTR lpszDefault, DWORD cbLimit,
                       LPWSTR lpszBuffer, size_t cchBuffer) {
    if (IsNullArg(lpszBuffer, lpszFunction, __LINE__, L"lpszBuffer"))
        return E_POINTER;
    if (cchBuffer == 0)
        return E_INVALIDARG;
    // One character more than the limit holds, so the text always ends.
    wchar_t text[kSchemeDescBytes / sizeof(wchar_t) + 1] = {};
    if (FAILED(CReg::GetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, lpName, text, cbLimit)))
        StringCchCopyW(text, ARRAYSIZE(text), lpszDefault);
    StringCchCopyW(lpszBuffer, cchBuffer, text);
    return S_OK;
}

} // namespace

// ---- HKLM SOFTWARE\ZEL\VADOvur -----------------------------------------------

DWORD GetRegCurrentMode(DWORD dwBattNo) {
    wchar_t name[64] = {};
    FormatBatteryValueName(name, ARRAYSIZE(name), L"CurrentMode", dwBattNo);
    return ReadMainDword(name, CURRENTMODE_NOT_SET);
}

DWORD SetRegCurrentMode(DWORD dwBattNo, DWORD dwMode) {
    wchar_t name[64] = {};
    FormatBatteryValueName(name, ARRAYSIZE(name), L"CurrentMode", dwBattNo);
    if (FAILED(CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, name, dwMode)))
        return ERROR_FUNCTION_FAILED;
    return ERROR_SUCCESS;
}

// The one getter that writes: a machine on which no program has asked yet
// gets the switch written on, so that the registry shows what is in force.
BOOL IsRegModeEnabled() {
    DWORD enabled = 0;
    if (FAILED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"IsRegModeEnabled", &enabled))) {
        CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"IsRegModeEnabled", 1);
        return TRUE;
    }
    return enabled == 1;
}

BOOL GetRegQuickAnalyze() {
    DWORD quick = 0;
    if (FAILED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"QuickAnalyze", &quick)))
        return FALSE;
    return quick == 1;
}

DWORD GetRegLimited() {
    return ReadMainDword(L"Limited", 0);
}

HRESULT SetRegLimited(DWORD dwLimited) {
    return CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"Limited", dwLimited);
}

namespace {
void OriginalModeName(LPWSTR lpszName, size_t cchName, DWORD dwBattNo) {
    FormatBatteryValueName(lpszName, cchName, L"RefreshOriginalMode", dwBattNo);
}
} // namespace

HRESULT GetRegRefreshOriginalMode(DWORD dwBattNo, DWORD* pdwMode) {
    if (IsNullArg(pdwMode, L"GetRegRefreshOriginalMode", __LINE__, L"pdwMode"))
        return E_POINTER;
    wchar_t name[64] = {};
    OriginalModeName(name, ARRAYSIZE(name), dwBattNo);
    return CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, name, pdwMode);
}

HRESULT SetRegRefreshOriginalMode(DWORD dwBattNo, DWORD dwMode) {
    wchar_t name[64] = {};
    OriginalModeName(name, ARRAYSIZE(name), dwBattNo);
    return CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, name, dwMode);
}

HRESULT DelRegRefreshOriginalMode(DWORD dwBattNo) {
    wchar_t name[64] = {};
    OriginalModeName(name, ARRAYSIZE(name), dwBattNo);
    return CReg::DeleteValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, name);
}

DWORD GetRegCommercial() {
    return ReadMainDword(L"Commercial", 0);
}

DWORD GetRegBatteryLifeRate() {
    return ReadSetting(
        {HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"BatteryLifeRate", 90, 1, 100, false});
}

// ---- HKLM SOFTWARE\ZEL\VADOvur\Refresh -----------------------------------------

DWORD GetRegNotChargeLimit() {
    return ReadRefreshDwordIn(L"NotChargeLimit", 5, 1, 100);
}
DWORD GetRegRefreshCoolDownLimit() {
    return ReadRefreshDwordIn(L"RefreshCoolDownLimit", 60, 0, kMinutesPerDay);
}
DWORD GetRegRefreshCoolDownTime() {
    return ReadRefreshDwordIn(L"RefreshCoolDownTime", 30, 0, kMinutesPerDay);
}
DWORD GetRegRefreshCoolDownTemp() {
    return ReadRefreshDwordIn(L"RefreshCoolDownTemp", 3131, 0, 0xFFFF);
}
DWORD GetRegRefreshInterval() {
    return ReadRefreshDwordPolicyIn(L"RefreshInterval", 3, 1, kMostMonths);
}
DWORD GetRegRefreshIntervalFirst() {
    return ReadRefreshDwordPolicyIn(L"RefreshIntervalFirst", 12, 0, kMostMonths);
}
DWORD GetRegRefreshIntervalSecond() {
    return ReadRefreshDwordPolicyIn(L"RefreshIntervalSecond", 6, 0, kMostMonths);
}
DWORD GetRegADCHDelay() {
    return ReadRefreshDwordIn(L"ADCHDelay", 200, 0, kLongestPauseMs);
}
DWORD GetRegBatteryChargeComplete() {
    return ReadRefreshDwordIn(L"BatteryChargeComplete", 95, 1, 100);
}
DWORD GetRegBatteryChargeCompleteMax() {
    return ReadRefreshDwordIn(L"BatteryChargeCompleteMax", 100, 1, 100);
}
DWORD GetRegSleepDelay() {
    return ReadRefreshDwordIn(L"SleepDelay", 3, 0, kMinutesPerDay);
}
DWORD GetRegPCSleep() {
    return ReadRefreshDwordPolicyIn(L"PCSleep", 30, 0, kSecondsPerDay);
}

HRESULT GetRegStateCheckRetry(DWORD* pdwValue) {
    if (IsNullArg(pdwValue, L"GetRegStateCheckRetry", __LINE__, L"pdwValue"))
        return E_POINTER;
    *pdwValue = ReadRefreshDwordIn(L"StateCheckRetry", 10, 0, kMostAttempts);
    return S_OK;
}

HRESULT GetRegStateCheckInterval(DWORD* pdwValue) {
    if (IsNullArg(pdwValue, L"GetRegStateCheckInterval", __LINE__, L"pdwValue"))
        return E_POINTER;
    *pdwValue = ReadRefreshDwordIn(L"StateCheckInterval", 100, 0, kLongestPauseMs);
    return S_OK;
}

DWORD GetRegChargePowerTimeout(int nIndex) {
    // The value names are as the installers have always written them,
    // spelling included.
    static const struct {
        LPCWSTR name;
        DWORD defaultSeconds;
    } kTimeouts[CHARGE_POWER_TIMEOUT_COUNT] = {
        {L"ChargeACMonitor", 1200}, {L"ChargeDcMonitor", 300},  {L"ChargeAcSuspend", 0},
        {L"ChargeDcSuspend", 0},    {L"ChargeAcHddspin", 1200}, {L"ChargeDcHdddspin", 600},
        {L"ChargeAcHibernate", 0},  {L"ChargeDcHiberanate", 0},
    };
    if (nIndex < 0 || nIndex >= CHARGE_POWER_TIMEOUT_COUNT)
        return 0;
    return ReadRefreshDwordPolicyIn(kTimeouts[nIndex].name, kTimeouts[nIndex].defaultSeconds, 0,
                                    kSecondsPerDay);
}

HRESULT GetRegUserPowerPlan(GUID* pGuid) {
    if (IsNullArg(pGuid, L"GetRegUserPowerPlan", __LINE__, L"pGuid"))
        return E_POINTER;
    GUID plan = {};
    DWORD cbPlan = sizeof(plan);
    const HRESULT hr = CReg::GetBIN(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"UserPowerPlan",
                                    reinterpret_cast<LPBYTE>(&plan), &cbPlan);
    if (FAILED(hr))
        return hr;
    if (cbPlan != sizeof(plan))
        return E_FAIL;
    *pGuid = plan;
    return S_OK;
}

HRESULT SetRegUserPowerPlan(const GUID* pGuid) {
    if (IsNullArg(pGuid, L"SetRegUserPowerPlan", __LINE__, L"pGuid"))
        return E_POINTER;
    return CReg::SetBIN(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"UserPowerPlan",
                        reinterpret_cast<const BYTE*>(pGuid), sizeof(*pGuid));
}

HRESULT DelRegUserPowerPlan() {
    return CReg::DeleteValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"UserPowerPlan");
}

HRESULT SetRegRefreshResevation(const SYSTEMTIME* pTime, DWORD dwBattMask) {
    const HRESULT hr = WriteMinuteValue(L"SetRegRefreshResevation", HKEY_LOCAL_MACHINE,
                                        SETTINGS_KEY_REFRESH, L"RefreshResevation", pTime);
    if (hr == E_POINTER)
        return hr;
    if (FAILED(hr))
        return E_FAIL;
    if (FAILED(CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevationBatt",
                           dwBattMask)))
        return E_FAIL;
    return S_OK;
}

HRESULT GetRegRefreshResevation(DWORD dwBattMask, SYSTEMTIME* pTime) {
    if (IsNullArg(pTime, L"GetRegRefreshResevation", __LINE__, L"pTime"))
        return E_POINTER;
    DWORD reserved = 0;
    if (FAILED(GetRegRefreshResevationBatt(&reserved)) || (reserved & dwBattMask) == 0)
        return E_FAIL;
    if (FAILED(ReadMinuteValue(L"GetRegRefreshResevation", HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH,
                               L"RefreshResevation", pTime)))
        return E_FAIL;
    return S_OK;
}

HRESULT GetRegRefreshResevationBatt(DWORD* pdwBattMask) {
    if (IsNullArg(pdwBattMask, L"GetRegRefreshResevationBatt", __LINE__, L"pdwBattMask"))
        return E_POINTER;
    return CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevationBatt",
                       pdwBattMask);
}

HRESULT DelRegRefreshResevation() {
    if (FAILED(CReg::DeleteValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevation")))
        return E_FAIL;
    if (FAILED(
            CReg::DeleteValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshResevationBatt")))
        return E_FAIL;
    return S_OK;
}

// ---- HKLM SOFTWARE\ZEL\VADOvur\BatteryInfo\<OWNID> -----------------------------

HRESULT GetRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector, SYSTEMTIME* pDay) {
    if (IsAnyNullArg({{lpstrOwnID, L"lpstrOwnID"}, {pDay, L"pDay"}}, L"GetRegRefreshDay", __LINE__))
        return E_POINTER;
    const LPCWSTR name = RefreshDayValueName(dwSelector);
    if (!name)
        return E_INVALIDARG;
    wchar_t key[MAX_PATH] = {};
    if (!FormatSubkey(key, ARRAYSIZE(key), L"%sBatteryInfo\\%s", lpstrOwnID))
        return E_FAIL;
    wchar_t text[kDayTextCch];
    if (FAILED(ReadText(HKEY_LOCAL_MACHINE, key, name, text, ARRAYSIZE(text))))
        return E_FAIL;
    SYSTEMTIME day = {};
    if (!ParseDayText(text, &day))
        return E_FAIL;
    *pDay = day;
    return S_OK;
}

HRESULT SetRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector, DWORD dwYear, DWORD dwMonth,
                         DWORD dwDay) {
    if (IsNullArg(lpstrOwnID, L"SetRegRefreshDay", __LINE__, L"lpstrOwnID"))
        return E_POINTER;
    const LPCWSTR name = RefreshDayValueName(dwSelector);
    if (!name)
        return E_INVALIDARG;
    wchar_t key[MAX_PATH] = {};
    if (!FormatSubkey(key, ARRAYSIZE(key), L"%sBatteryInfo\\%s", lpstrOwnID))
        return E_FAIL;
    wchar_t text[kDayTextCch] = {};
    FormatDayText(text, ARRAYSIZE(text), dwYear, dwMonth, dwDay);
    return CReg::SetSZ(HKEY_LOCAL_MACHINE, key, name, text);
}

HRESULT DelRegRefreshDay(LPCWSTR lpstrOwnID, DWORD dwSelector) {
    if (IsNullArg(lpstrOwnID, L"DelRegRefreshDay", __LINE__, L"lpstrOwnID"))
        return E_POINTER;
    const LPCWSTR name = RefreshDayValueName(dwSelector);
    if (!name)
        return E_INVALIDARG;
    wchar_t key[MAX_PATH] = {};
    if (!FormatSubkey(key, ARRAYSIZE(key), L"%sBatteryInfo\\%s", lpstrOwnID))
        return E_FAIL;
    return CReg::DeleteValue(HKEY_LOCAL_MACHINE, key, name);
}

HRESULT GetRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID, SYSTEMTIME* pDay) {
    return GetRegRefreshDay(lpstrOwnID, REFRESHDAY_FIRSTCHECKPOINT, pDay);
}

HRESULT SetRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID, DWORD dwYear, DWORD dwMonth,
                                        DWORD dwDay) {
    return SetRegRefreshDay(lpstrOwnID, REFRESHDAY_FIRSTCHECKPOINT, dwYear, dwMonth, dwDay);
}

HRESULT DelRegFirstCheckPointRefreshDay(LPCWSTR lpstrOwnID) {
    return DelRegRefreshDay(lpstrOwnID, REFRESHDAY_FIRSTCHECKPOINT);
}

HRESULT GetRegLastRefreshDay(LPCWSTR lpstrOwnID, SYSTEMTIME* pDay) {
    return GetRegRefreshDay(lpstrOwnID, REFRESHDAY_LAST, pDay);
}

// Written step by step with a trace line each: the date of a completed
// refresh is what the reminders count from, and a missing one is looked
// for in the trace.
HRESULT SetRegLastRefreshDay(LPCWSTR lpstrOwnID, DWORD dwYear, DWORD dwMonth, DWORD dwDay) {
    if (IsNullArg(lpstrOwnID, L"SetRegLastRefreshDay", __LINE__, L"lpstrOwnID"))
        return E_POINTER;
    WriteLog(L"SetRegLastRefreshDay", __LINE__,
             L"SetRegLastRefreshDay: start! lpstrOwnID = %s,dwYear = %d, dwMonth=%d,dwDay = %d",
             lpstrOwnID, dwYear, dwMonth, dwDay);
    wchar_t key[MAX_PATH] = {};
    const bool keyFormed = FormatSubkey(key, ARRAYSIZE(key), L"%sBatteryInfo\\%s", lpstrOwnID);
    WriteLog(L"SetRegLastRefreshDay", __LINE__, L"SetRegLastRefreshDay: 1!");
    if (!keyFormed)
        return E_FAIL;
    wchar_t text[kDayTextCch] = {};
    FormatDayText(text, ARRAYSIZE(text), dwYear, dwMonth, dwDay);
    WriteLog(L"SetRegLastRefreshDay", __LINE__, L"SetRegLastRefreshDay: 2!");
    const HRESULT hr = CReg::SetSZ(HKEY_LOCAL_MACHINE, key, L"LastRefreshDate", text);
    WriteLog(L"SetRegLastRefreshDay", __LINE__, L"SetRegLastRefreshDay: 3!");
    if (FAILED(hr))
        WriteLog(L"SetRegLastRefreshDay", __LINE__, L"Fail to CReg::SetSZ(). hr: %08x.", hr);
    WriteLog(L"SetRegLastRefreshDay", __LINE__, L"SetRegLastRefreshDay: 4!");
    WriteLog(L"SetRegLastRefreshDay", __LINE__, L"SetRegLastRefreshDay: end!");
    return hr;
}

// ---- HKLM SOFTWARE\ZEL\VADOvur\RefreshMaxTime\<battery name> ---------------------

DWORD GetRegRefreshChargeTime(LPCWSTR lpszBattName) {
    return ReadMaxTimeValue(L"GetRegRefreshChargeTime", lpszBattName, L"ChargeTime",
                            SETTINGS_NOT_SET);
}

DWORD GetRegRefreshDischargeTime(LPCWSTR lpszBattName) {
    return ReadMaxTimeValue(L"GetRegRefreshDischargeTime", lpszBattName, L"DischargeTime",
                            SETTINGS_NOT_SET);
}

DWORD GetRegRefreshMaxTime(LPCWSTR lpszBattName) {
    return ReadMaxTimeValue(L"GetRegRefreshMaxTime", lpszBattName, L"time", 55);
}

// ---- HKCU SOFTWARE\ZEL\VADOvur ---------------------------------------------------

HRESULT GetRegLastRefreshStatus(DWORD* pdwStatus) {
    if (IsNullArg(pdwStatus, L"GetRegLastRefreshStatus", __LINE__, L"pdwStatus"))
        return E_POINTER;
    return CReg::GetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshStatus", pdwStatus);
}

HRESULT SetRegLastRefreshStatus(DWORD dwStatus) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshStatus", dwStatus);
}

HRESULT DelRegLastRefreshStatus() {
    return CReg::DeleteValue(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshStatus");
}

HRESULT SetRegLastRefreshUser(LPCWSTR lpszUser) {
    if (IsNullArg(lpszUser, L"SetRegLastRefreshUser", __LINE__, L"lpszUser"))
        return E_POINTER;
    return CReg::SetSZ(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshUser", lpszUser);
}

DWORD GetRegReadMeCheck() {
    return ReadDword(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"ReadMeCheck", 0) == 1 ? 1 : 0;
}

HRESULT SetRegReadMeCheck(DWORD dwCheck) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"ReadMeCheck", dwCheck);
}

HRESULT GetRegLastBatteryStatusCheckTime(SYSTEMTIME* pTime) {
    return ReadMinuteValue(L"GetRegLastBatteryStatusCheckTime", HKEY_CURRENT_USER,
                           SETTINGS_KEY_MAIN, L"LastBatteryStatusCheck", pTime);
}

HRESULT SetRegLastBatteryStatusCheckTime(const SYSTEMTIME* pTime) {
    return WriteMinuteValue(L"SetRegLastBatteryStatusCheckTime", HKEY_CURRENT_USER,
                            SETTINGS_KEY_MAIN, L"LastBatteryStatusCheck", pTime);
}

HRESULT GetRegBalloon(SYSTEMTIME* pTime) {
    return ReadMinuteValue(L"GetRegBalloon", HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"Balloon",
                           pTime);
}

HRESULT SetRegBalloon(const SYSTEMTIME* pTime) {
    return WriteMinuteValue(L"SetRegBalloon", HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"Balloon",
                            pTime);
}

HRESULT GetRegChargeModeRefBalloon(SYSTEMTIME* pTime) {
    return ReadMinuteValue(L"GetRegChargeModeRefBalloon", HKEY_CURRENT_USER, SETTINGS_KEY_MAIN,
                           L"ChargeModeRefBalloon", pTime);
}

HRESULT SetRegChargeModeRefBalloon(const SYSTEMTIME* pTime) {
    return WriteMinuteValue(L"SetRegChargeModeRefBalloon", HKEY_CURRENT_USER, SETTINGS_KEY_MAIN,
                            L"ChargeModeRefBalloon", pTime);
}

HRESULT GetRegRoutineCheckInterval(DWORD* pdwValue) {
    if (IsNullArg(pdwValue, L"GetRegRoutineCheckInterval", __LINE__, L"pdwValue"))
        return E_FAIL;
    *pdwValue = ReadSetting({HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"RoutineCheckInterval", 60000,
                             kShortestRoutineMs, kLongestRoutineMs, false});
    return S_OK;
}

HRESULT GetRegRoutineCheckIntervalDays(DWORD* pdwValue) {
    if (IsNullArg(pdwValue, L"GetRegRoutineCheckIntervalDays", __LINE__, L"pdwValue"))
        return E_FAIL;
    *pdwValue = ReadSetting({HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"RoutineCheckIntervalDays", 1,
                             1, kMostRoutineDays, false});
    return S_OK;
}

HRESULT GetRegHideWarningDialog(int nWarningType, DWORD* pdwHideFlag, DWORD dwBattNo) {
    if (IsNullArg(pdwHideFlag, L"GetRegHideWarningDialog", __LINE__, L"pdwHideFlag"))
        return E_FAIL;
    *pdwHideFlag = 0;
    const LPCWSTR base = HideWarningBaseName(nWarningType);
    if (!base)
        return E_FAIL;
    wchar_t name[64] = {};
    FormatBatteryValueName(name, ARRAYSIZE(name), base, dwBattNo);
    return ReadDwordTo(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, name, 0, pdwHideFlag);
}

HRESULT SetRegHideWarningDialog(int nWarningType, DWORD dwHideFlag, DWORD dwBattNo) {
    WriteLog(L"SetRegHideWarningDialog", __LINE__,
             L"SetRegHideWarningDialog. nWarningType: %d,dwHideFlag:%d,dwBattNo:%d.", nWarningType,
             dwHideFlag, dwBattNo);
    const LPCWSTR base = HideWarningBaseName(nWarningType);
    if (!base)
        return E_FAIL;
    wchar_t name[64] = {};
    FormatBatteryValueName(name, ARRAYSIZE(name), base, dwBattNo);
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, name, dwHideFlag);
}

// ---- HKCU SOFTWARE\ZEL\VADOvur\Refresh ---------------------------------------------

DWORD GetRegPowerSchemeTryCount() {
    return ReadUserRefreshDwordIn(L"PowerSchemeTryCount", 10, 0, kMostAttempts);
}
DWORD GetRegWaitPowerSchemeTime() {
    return ReadUserRefreshDwordIn(L"WaitPowerSchemeTime", 100, 0, kLongestPauseMs);
}
DWORD GetRegWaitWatchBatteryStatusTime() {
    return ReadUserRefreshDwordIn(L"WaitWatchBatteryStatusTime", 60000, 100, kLongestWatchMs);
}

DWORD GetRegStoredBrightnessAC() {
    return ReadUserRefreshDwordIn(L"StoredBrightnessAC", SETTINGS_NOT_SET, 0, 100);
}

HRESULT SetRegStoredBrightnessAC(DWORD dwBrightness) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"StoredBrightnessAC",
                       dwBrightness);
}

HRESULT DelRegStoredBrightnessAC() {
    return CReg::DeleteValue(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"StoredBrightnessAC");
}

DWORD GetRegStoredBrightnessDC() {
    return ReadUserRefreshDwordIn(L"StoredBrightnessDC", SETTINGS_NOT_SET, 0, 100);
}

HRESULT SetRegStoredBrightnessDC(DWORD dwBrightness) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"StoredBrightnessDC",
                       dwBrightness);
}

HRESULT DelRegStoredBrightnessDC() {
    return CReg::DeleteValue(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"StoredBrightnessDC");
}

DWORD GetRegRefreshPowerSetting() {
    return ReadUserRefreshDword(L"RefreshPowerSetting", SETTINGS_NOT_SET);
}

HRESULT SetRegRefreshPowerSetting(DWORD dwScheme) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"RefreshPowerSetting", dwScheme);
}

DWORD GetRegUserPowerSetting() {
    return ReadUserRefreshDword(L"UserPowerSetting", SETTINGS_NOT_SET);
}

HRESULT SetRegUserPowerSetting(DWORD dwScheme) {
    return CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"UserPowerSetting", dwScheme);
}

HRESULT DelRegUserPowerSetting() {
    return CReg::DeleteValue(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, L"UserPowerSetting");
}

HRESULT GetRegRefreshPowerSchemeName(LPWSTR lpszBuffer, size_t cchBuffer) {
    return ReadSchemeText(L"GetRegRefreshPowerSchemeName", L"RefreshPowerSchemeName",
                          kDefaultSchemeName, kSchemeNameBytes, lpszBuffer, cchBuffer);
}

HRESULT GetRegRefreshPowerSchemeDesc(LPWSTR lpszBuffer, size_t cchBuffer) {
    return ReadSchemeText(L"GetRegRefreshPowerSchemeDesc", L"RefreshPowerSchemeDesc", L"",
                          kSchemeDescBytes, lpszBuffer, cchBuffer);
}

// ---- HKLM SOFTWARE\Policies\ZEL\VADOvur ---------------------------------------------

bool GetPolicyDword(LPCWSTR lpPolicyKey, LPCWSTR lpName, DWORD dwMin, DWORD dwMax,
                    DWORD* pdwValue) {
    if (IsAnyNullArg({{lpPolicyKey, L"lpPolicyKey"}, {lpName, L"lpName"}, {pdwValue, L"pdwValue"}},
                     L"GetPolicyDword", __LINE__))
        return false;
    DWORD value = 0;
    if (FAILED(CReg::GetDW(HKEY_LOCAL_MACHINE, lpPolicyKey, lpName, &value)))
        return false;
    if (value < dwMin || value > dwMax) {
        // Once per read: a mistyped policy shows in the trace of whoever
        // reads the setting, and the owner's value (or the default) stands.
        WriteLog(L"GetPolicyDword", __LINE__,
                 L"Policy %s\\%s = %lu is outside %lu..%lu and is ignored.\n", lpPolicyKey, lpName,
                 value, dwMin, dwMax);
        return false;
    }
    *pdwValue = value;
    return true;
}

bool GetPolicyChargeMode(DWORD* pdwMode) {
    if (IsNullArg(pdwMode, L"GetPolicyChargeMode", __LINE__, L"pdwMode"))
        return false;
    DWORD mode = 0;
    if (FAILED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", &mode)))
        return false;
    if (mode != 0 && mode != 50 && mode != 80) {
        WriteLog(L"GetPolicyChargeMode", __LINE__,
                 L"Policy ChargeMode = %lu is no charge mode (0, 50, 80) and is ignored.\n", mode);
        return false;
    }
    *pdwMode = mode;
    return true;
}
