// Figures derived from the firmware's and the operating system's battery
// records: identity text, percentages, health class, power-status flags,
// refresh-time estimates.
#include "battery/battery.h"

#include "common/log.h"

#include <strsafe.h>

HRESULT FormatOwnId(LPCWSTR lpszBattName, DWORD dwProduct, DWORD dwSN, LPWSTR lpszOwnId,
                    size_t cchOwnId) {
    if (!lpszBattName || !lpszOwnId) {
        LogNullArg(L"FormatOwnId", __LINE__, !lpszBattName ? L"lpszBattName" : L"lpszOwnId");
        return E_POINTER;
    }
    const SYSTEMTIME made = DecodeBatteryDate(dwProduct);
    // A name too long for the key is cut, as every program cuts it alike.
    const HRESULT hr = StringCchPrintfW(lpszOwnId, cchOwnId, L"%s-%04d%02d%02d-%04x", lpszBattName,
                                        made.wYear, made.wMonth, made.wDay, dwSN);
    return (SUCCEEDED(hr) || hr == STRSAFE_E_INSUFFICIENT_BUFFER) ? S_OK : E_FAIL;
}

SYSTEMTIME DecodeBatteryDate(DWORD dwDate) {
    SYSTEMTIME date = {};
    date.wYear = static_cast<WORD>(((dwDate >> 9) & 0x3F) + 1980);
    date.wMonth = static_cast<WORD>((dwDate >> 5) & 0x0F);
    date.wDay = static_cast<WORD>(dwDate & 0x1F);
    return date;
}

BYTE CalcRemainingPercent(DWORD dwRemaining, DWORD dwFCC) {
    if (dwFCC == 0)
        return 0;
    if (dwRemaining >= dwFCC)
        return 100;
    const float percent = static_cast<float>(dwRemaining) / static_cast<float>(dwFCC) * 100.0f;
    return static_cast<BYTE>(percent + 0.5f);
}

BYTE CalcStandardRemainingPercent(ULONG ulCapacity, ULONG ulFullChargedCapacity) {
    // A capacity the driver does not know is no reading, not a full battery.
    if (ulCapacity == BATTERY_UNKNOWN_CAPACITY || ulFullChargedCapacity == BATTERY_UNKNOWN_CAPACITY)
        return 255;
    if (ulFullChargedCapacity == 0)
        return 0;
    if (ulCapacity >= ulFullChargedCapacity)
        return 100;
    const float percent =
        static_cast<float>(ulCapacity) / static_cast<float>(ulFullChargedCapacity) * 100.0f;
    return static_cast<BYTE>(percent);
}

BYTE CalcFullChargeRatio(DWORD dwDCAP, DWORD dwFCC, DWORD dwLifeRate) {
    if (dwDCAP == 0)
        return 0;
    // A battery holding dwLifeRate % of its design capacity counts as new.
    const float base = static_cast<float>(dwDCAP) * (static_cast<float>(dwLifeRate) / 100.0f);
    if (base <= 0.0f)
        return 0;
    float ratio = static_cast<float>(dwFCC) / base * 100.0f;
    if (ratio > 100.0f)
        ratio = 100.0f;
    return static_cast<BYTE>(ratio);
}

DWORD HealthFromFullChargeRatio(BYTE bRatio) {
    if (bRatio > 50)
        return BATTERY_HEALTH_GOOD;
    if (bRatio > 30)
        return BATTERY_HEALTH_WARNING;
    return BATTERY_HEALTH_CAUTION;
}

BYTE BatteryFlagForLevel(BYTE bPercent, BOOL bCharging) {
    BYTE flag = bCharging ? BATTERY_FLAG_CHARGING : 0;
    if (bPercent <= 4)
        flag |= BATTERY_FLAG_CRITICAL;
    else if (bPercent <= 32)
        flag |= BATTERY_FLAG_LOW;
    else if (bPercent >= 67)
        flag |= BATTERY_FLAG_HIGH;
    return flag;
}

DWORD ReconcileChargeMode(DWORD dwFirmwareMode, DWORD dwCopy,
                          const std::function<bool(DWORD)>& writeMode,
                          const std::function<void(DWORD)>& storeCopy) {
    if (dwCopy > CHARGEMODE_COPY_MAX) {
        // Nothing stored yet: the firmware's mode becomes the copy.
        storeCopy(dwFirmwareMode);
        return dwFirmwareMode;
    }
    // The copy brings back the user's mode after the firmware lost it (a
    // reset, a swapped board). But a mode marked "refresh needed" belongs to
    // the firmware until a refresh ends, and the copy must not erase the mark.
    if (dwFirmwareMode & CHARGEMODE_REFRESH_NEEDED)
        return dwFirmwareMode;
    if (dwCopy != dwFirmwareMode && writeMode(dwCopy))
        return dwCopy;
    return dwFirmwareMode;
}

DWORD RefreshLimitForPlatform(const driver::_SYSTEM_PLATFORM_INFO& info) {
    // That machine's firmware ends the discharge itself near empty.
    return (info.platformKind == 1 && info.platformCode == 0x312) ? 2 : 101;
}

namespace {

// Whole hours, rounded up, of a sum of minutes. In integers: a sum of
// fractions of an hour in floating point can land a hair above a whole
// hour and cost a spurious extra hour.
HRESULT MinutesToHoursUp(LONGLONG llMinutes, DWORD* lpdwResultHour) {
    const LONGLONG hours = (llMinutes + 59) / 60;
    if (hours > 0x7FFFFFFF)
        return E_FAIL;
    *lpdwResultHour = static_cast<DWORD>(hours);
    return S_OK;
}

HRESULT CalcRefreshHours(int nCharges, LONG lCharge, LONG lDischarge, LONG lCoolDownTime,
                         LONG lCoolDownLimit, DWORD* lpdwResultHour) {
    if (!lpdwResultHour) {
        LogNullArg(L"CBattery::CalcMaxRefreshTime", __LINE__, L"lpdwResultHour");
        return E_POINTER;
    }
    if (lCharge < 0 || lDischarge < 0 || lCoolDownTime < 0 || lCoolDownLimit < 0)
        return E_INVALIDARG;
    const LONGLONG minutes =
        static_cast<LONGLONG>(nCharges) * lCharge + lDischarge + lCoolDownTime + lCoolDownLimit;
    return MinutesToHoursUp(minutes, lpdwResultHour);
}

} // namespace

HRESULT CBattery::CalcMaxRefreshTime(LONG lCharge, LONG lDischarge, LONG lCoolDownTime,
                                     LONG lCoolDownLimit, DWORD* lpdwResultHour) {
    // Charged to full before the discharge and again after it.
    return CalcRefreshHours(2, lCharge, lDischarge, lCoolDownTime, lCoolDownLimit, lpdwResultHour);
}

HRESULT CBattery::CalcFullChargedRefreshTime(LONG lCharge, LONG lDischarge, LONG lCoolDownTime,
                                             LONG lCoolDownLimit, DWORD* lpdwResultHour) {
    return CalcRefreshHours(1, lCharge, lDischarge, lCoolDownTime, lCoolDownLimit, lpdwResultHour);
}
