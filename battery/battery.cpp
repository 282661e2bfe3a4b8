// The battery object: identity, health, charge mode, dates and refresh
// estimates of one battery; and the array of the batteries present.
#include "battery/battery.h"

#include "common/log.h"
#include "common/settings.h"

#include <strsafe.h>
#include <wctype.h>

CBattery::CBattery(UINT uiBattNo) : m_uiBattNo(uiBattNo) {
    if (FAILED(AslMethodBBIF(&m_BBIFST))) {
        WriteLog(L"CBattery::CBattery", __LINE__,
                 L"CBattery::CBattery FAILED(AslMethodBBIF(&m_BBIFST)\n");
    } else {
        // The firmware's name is ANSI text in the system code page.
        char name[256] = {};
        CopyMemory(name, m_BBIFST.szBattName, 255);
        const CStrConversion wideName(name);
        StringCchCopyW(m_szBattName, ARRAYSIZE(m_szBattName), wideName.GetString());
        WriteLog(L"CBattery::CBattery", __LINE__, L"CBattery::CBattery m_szBattName = %s\n",
                 m_szBattName);
        FormatOwnId(m_szBattName, m_BBIFST.dwProduct, m_BBIFST.dwSN, m_szOWNID,
                    ARRAYSIZE(m_szOWNID));
        WriteLog(L"CBattery::CBattery", __LINE__, L"m_szOWNID = %s\n", m_szOWNID);
    }
    DWORD mode = 0;
    m_bChargeModeSupported = SUCCEEDED(AslMethodRBCL(&mode));
    GetBatteryChemistry(m_szChemistry, ARRAYSIZE(m_szChemistry));
    WriteLog(L"CBattery::CBattery", __LINE__, L"CBattery::CBattery m_szChemistry = %s\n",
             m_szChemistry);
}

BOOL CBattery::IsNonNickelChemistry() const {
    return towupper(m_szChemistry[0]) != L'N';
}

HRESULT CBattery::RefreshBBIF() {
    return AslMethodBBIF(&m_BBIFST);
}

BYTE CBattery::GetRemainingPercent() {
    BBIF info = {};
    if (FAILED(AslMethodBBIF(&info)) || info.dwDCAP == 0)
        return 0;
    BBST status = {};
    if (FAILED(AslMethodBBST(&status)) || info.dwFCC == 0)
        return 0;
    return CalcRemainingPercent(status.dwRemaining, info.dwFCC);
}

BYTE CBattery::GetStandardRemainingPercent() {
    BATTERY_INFORMATION information = {};
    BATTERY_STATUS status = {};
    if (FAILED(GetBatteryInformation(&information)) || FAILED(GetBatteryStatus(&status)))
        return 255;
    return CalcStandardRemainingPercent(status.Capacity, information.FullChargedCapacity);
}

BYTE CBattery::GetFullChargeRatio() {
    BBIF info = {};
    if (FAILED(AslMethodBBIF(&info)))
        return 0;
    return CalcFullChargeRatio(info.dwDCAP, info.dwFCC, GetRegBatteryLifeRate());
}

DWORD CBattery::GetBatteryHealth() {
    if (CellioGetPlatformType() == PLATFORM_TYPE_FIRMWARE_HEALTH) {
        DWORD health = 0;
        if (FAILED(AslMethodHealth(&health)))
            health = 0;
        WriteLog(L"CBattery::GetBatteryHealth", __LINE__, L"GetHealth For QRT health: %08x",
                 health);
        return health;
    }
    const DWORD health = HealthFromFullChargeRatio(GetFullChargeRatio());
    WriteLog(L"CBattery::GetBatteryHealth", __LINE__, L"GetHealth For ZEL health: %08x", health);
    return health;
}

BOOL CBattery::IsBatteryProtectSupported() {
    DWORD state = 0;
    const HRESULT hr = AslMethodPSTS(&state);
    if (FAILED(hr)) {
        WriteLog(L"CBattery::IsBatteryProtectSupported", __LINE__,
                 L"Fail to Get AslMethodPSTS(). hr: %08x.\n", hr);
        return FALSE;
    }
    return (state & PSTS_PROTECT_SUPPORT) != 0;
}

HRESULT CBattery::SetFlagDisableBatteryCharge(BOOL bDisable) {
    if (!IsBatteryProtectSupported()) {
        WriteLog(L"CBattery::SetFlagDisableBatteryCharge", __LINE__,
                 L"Does not support Battery Protect Functions.");
        return 1;
    }
    HRESULT hr = RefreshBBIF();
    if (FAILED(hr)) {
        WriteLog(L"CBattery::SetFlagDisableBatteryCharge", __LINE__,
                 L"Fail to RefreshBBIF(). hr: %08x", hr);
        return hr;
    }
    DWORD word = m_BBIFST.dwStartDate;
    word = bDisable ? (word | START_DATE_PROTECT_FLAG) : (word & ~START_DATE_PROTECT_FLAG);
    hr = AslMethodWBSD(word);
    if (FAILED(hr)) {
        WriteLog(L"CBattery::SetFlagDisableBatteryCharge", __LINE__,
                 L"Fail to AslMethodWBSD(). hr: %08x", hr);
        return hr;
    }
    // Keep the object's copy in step with what the firmware now holds.
    m_BBIFST.dwStartDate = word;
    return hr;
}

HRESULT CBattery::GetChargeMode(DWORD* pdwMode) {
    if (!pdwMode) {
        LogNullArg(L"CBattery::GetChargeMode", __LINE__, L"pdwMode");
        return E_POINTER;
    }
    return SUCCEEDED(AslMethodRBCL(pdwMode)) ? S_OK : E_FAIL;
}

HRESULT CBattery::SetChargeMode(DWORD dwMode) {
    return SUCCEEDED(AslMethodWBCL(dwMode)) ? S_OK : E_FAIL;
}

HRESULT CBattery::GetStartDay(SYSTEMTIME* pStartDay, BOOL* pbDisableCharge) {
    if (!pStartDay || !pbDisableCharge) {
        LogNullArg(L"CBattery::GetStartDay", __LINE__,
                   !pStartDay ? L"pStartDay" : L"pbDisableCharge");
        return E_POINTER;
    }
    const SYSTEMTIME stored = DecodeBatteryDate(m_BBIFST.dwStartDate);
    if (IsValidDate(stored.wYear, stored.wMonth, stored.wDay)) {
        *pStartDay = stored;
        *pbDisableCharge = (m_BBIFST.dwStartDate & START_DATE_PROTECT_FLAG) != 0;
        return S_OK;
    }
    // The firmware never got a first-use date: today is the first use.
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    SYSTEMTIME today = {};
    today.wYear = now.wYear;
    today.wMonth = now.wMonth;
    today.wDay = now.wDay;
    if (FAILED(SetStartDay(today.wYear, today.wMonth, today.wDay, FALSE)))
        return E_FAIL;
    *pStartDay = today;
    *pbDisableCharge = FALSE;
    return S_OK;
}

HRESULT CBattery::SetStartDay(WORD wYear, WORD wMonth, WORD wDay, BOOL bDisableCharge) {
    if (CellioGetPlatformType() == PLATFORM_TYPE_FIRMWARE_HEALTH)
        return S_OK;
    if (!IsValidDate(wYear, wMonth, wDay))
        return E_FAIL;
    const DWORD word = EncodeStartDate(wYear, wMonth, wDay, bDisableCharge != FALSE);
    const HRESULT hr = AslMethodWBSD(word);
    if (FAILED(hr))
        return hr;
    // Without this a long-running program would find the old word again
    // and move the first-use date to every new "today".
    m_BBIFST.dwStartDate = word;
    return S_OK;
}

HRESULT CBattery::InitStartDay() {
    if (CellioGetPlatformType() == PLATFORM_TYPE_FIRMWARE_HEALTH)
        return S_OK;
    SYSTEMTIME start = {};
    BOOL disableCharge = FALSE;
    HRESULT hr = GetStartDay(&start, &disableCharge);
    if (FAILED(hr))
        return hr;
    if (start.wYear == 1980 || start.wYear == 0 || start.wMonth == 0 || start.wDay == 0) {
        SYSTEMTIME now = {};
        GetLocalTime(&now);
        hr = SetStartDay(now.wYear, now.wMonth, now.wDay, disableCharge);
    }
    return hr;
}

BOOL CBattery::IsBatteryChargeDisabled() {
    if (!IsBatteryProtectSupported())
        return FALSE;
    SYSTEMTIME start = {};
    BOOL disableCharge = FALSE;
    if (FAILED(GetStartDay(&start, &disableCharge)))
        return FALSE;
    return disableCharge;
}

namespace {

// A battery whose firmware gave no identity has no history to keep:
// writing under an empty identity would mix every such battery together.
bool HasIdentity(LPCWSTR lpszOwnId, LPCWSTR lpszFunction) {
    if (lpszOwnId[0] != L'\0')
        return true;
    WriteLog(lpszFunction, __LINE__, L"No battery identity.\n");
    return false;
}

} // namespace

HRESULT CBattery::SetLastRefreshDay(DWORD dwYear, DWORD dwMonth, DWORD dwDay) {
    WriteLog(L"CBattery::SetLastRefreshDay", __LINE__, L"SetLastRefreshDay: start!");
    WriteLog(L"CBattery::SetLastRefreshDay", __LINE__, L"SetLastRefreshDay: GetOWNID() = %s!",
             GetOWNID());
    if (!HasIdentity(m_szOWNID, L"CBattery::SetLastRefreshDay"))
        return E_FAIL;
    const HRESULT hr = SetRegLastRefreshDay(m_szOWNID, dwYear, dwMonth, dwDay);
    WriteLog(L"CBattery::SetLastRefreshDay", __LINE__, L"SetLastRefreshDay: end!");
    return hr;
}

HRESULT CBattery::SetLastRefreshDay(const SYSTEMTIME* pDay) {
    if (!pDay) {
        LogNullArg(L"CBattery::SetLastRefreshDay", __LINE__, L"pDay");
        return E_POINTER;
    }
    WriteLog(L"CBattery::SetLastRefreshDay", __LINE__, L"SetLastRefreshDay1: start!");
    const HRESULT hr = SetLastRefreshDay(pDay->wYear, pDay->wMonth, pDay->wDay);
    WriteLog(L"CBattery::SetLastRefreshDay", __LINE__, L"SetLastRefreshDay1: end!");
    return hr;
}

HRESULT CBattery::GetLastRefreshDay(SYSTEMTIME* pDay) {
    if (!pDay) {
        LogNullArg(L"CBattery::GetLastRefreshDay", __LINE__, L"pDay");
        return E_POINTER;
    }
    ZeroMemory(pDay, sizeof(*pDay));
    if (!HasIdentity(m_szOWNID, L"CBattery::GetLastRefreshDay"))
        return E_FAIL;
    return GetRegLastRefreshDay(m_szOWNID, pDay);
}

HRESULT CBattery::GetFirstCheckPointRefreshDay(SYSTEMTIME* pDay) {
    if (!pDay) {
        LogNullArg(L"CBattery::GetFirstCheckPointRefreshDay", __LINE__, L"pDay");
        return E_POINTER;
    }
    if (!HasIdentity(m_szOWNID, L"CBattery::GetFirstCheckPointRefreshDay"))
        return E_FAIL;
    SYSTEMTIME stored = {};
    HRESULT hr = GetRegFirstCheckPointRefreshDay(m_szOWNID, &stored);
    if (FAILED(hr))
        return hr;
    SYSTEMTIME start = {};
    BOOL disableCharge = FALSE;
    hr = GetStartDay(&start, &disableCharge);
    if (FAILED(hr)) {
        WriteLog(L"CBattery::GetFirstCheckPointRefreshDay", __LINE__,
                 L"Fail to GetStartDay(). hr: %08x.", hr);
        return E_FAIL;
    }
    // A check point belongs to this battery only when it lies past the
    // battery's first interval; an older one came before the battery's
    // first use (the battery was replaced or its date rewritten).
    if (IsPassedMonth(static_cast<int>(GetRegRefreshIntervalFirst()), &start, &stored)) {
        *pDay = stored;
        return S_OK;
    }
    hr = DelFirstCheckPointRefreshDay();
    if (FAILED(hr))
        WriteLog(L"CBattery::GetFirstCheckPointRefreshDay", __LINE__,
                 L"Fail to DelFirstCheckPointRefreshDay(). hr: %08x.", hr);
    return E_FAIL;
}

HRESULT CBattery::SetFirstCheckPointRefreshDay(DWORD dwYear, DWORD dwMonth, DWORD dwDay,
                                               BOOL bForce) {
    if (!HasIdentity(m_szOWNID, L"CBattery::SetFirstCheckPointRefreshDay"))
        return E_FAIL;
    if (bForce)
        return SetRegFirstCheckPointRefreshDay(m_szOWNID, dwYear, dwMonth, dwDay);

    SYSTEMTIME start = {};
    BOOL disableCharge = FALSE;
    if (FAILED(GetStartDay(&start, &disableCharge)))
        return S_OK;
    const BOOL passed = IsPassedMonth(static_cast<int>(GetRegRefreshIntervalFirst()), &start);
    SYSTEMTIME existing = {};
    const bool exists = SUCCEEDED(GetFirstCheckPointRefreshDay(&existing));
    if (!passed) {
        if (exists) {
            const HRESULT hr = DelFirstCheckPointRefreshDay();
            if (FAILED(hr))
                WriteLog(L"CBattery::SetFirstCheckPointRefreshDay", __LINE__,
                         L"Fail to DelFirstCheckPointRefreshDay(). hr: %08x.", hr);
        }
        return S_OK;
    }
    if (exists)
        return S_OK;
    return SetRegFirstCheckPointRefreshDay(m_szOWNID, dwYear, dwMonth, dwDay);
}

HRESULT CBattery::SetFirstCheckPointRefreshDay(const SYSTEMTIME* pDay, BOOL bForce) {
    if (!pDay) {
        LogNullArg(L"CBattery::SetFirstCheckPointRefreshDay", __LINE__, L"pDay");
        return E_POINTER;
    }
    return SetFirstCheckPointRefreshDay(pDay->wYear, pDay->wMonth, pDay->wDay, bForce);
}

HRESULT CBattery::DelFirstCheckPointRefreshDay() {
    if (!HasIdentity(m_szOWNID, L"CBattery::DelFirstCheckPointRefreshDay"))
        return E_FAIL;
    return DelRegFirstCheckPointRefreshDay(m_szOWNID);
}

DWORD CBattery::GetRefreshMaxTime() {
    return GetRegRefreshMaxTime(m_szBattName);
}

HRESULT CBattery::GetEstimateRefreshTimes(DWORD* lpdwMax, DWORD* lpdwFullCharged) {
    if (!lpdwMax || !lpdwFullCharged) {
        LogNullArg(L"CBattery::GetEstimateRefreshTimes", __LINE__,
                   !lpdwMax ? L"lpdwMax" : L"lpdwFullCharged");
        return E_INVALIDARG;
    }
    // Durations measured for this battery model; -1 (not measured) makes
    // the estimate fail.
    const LONG charge = static_cast<LONG>(GetRegRefreshChargeTime(m_szBattName));
    if (charge < 0)
        return E_FAIL;
    const LONG discharge = static_cast<LONG>(GetRegRefreshDischargeTime(m_szBattName));
    const LONG coolDownTime = static_cast<LONG>(GetRegRefreshCoolDownTime());
    const LONG coolDownLimit = static_cast<LONG>(GetRegRefreshCoolDownLimit());

    DWORD maxHours = 0;
    HRESULT hr = CalcMaxRefreshTime(charge, discharge, coolDownTime, coolDownLimit, &maxHours);
    if (FAILED(hr))
        return hr;
    DWORD fullChargedHours = 0;
    hr = CalcFullChargedRefreshTime(charge, discharge, coolDownTime, coolDownLimit,
                                    &fullChargedHours);
    if (FAILED(hr))
        return hr;
    *lpdwMax = maxHours;
    *lpdwFullCharged = fullChargedHours;
    return S_OK;
}

CBatteryArray::CBatteryArray() : m_nMask(CellioGetBatteryMask()) {
    if (m_nMask & 1) {
        m_pBattery1.reset(new CBattery(1));
        ++m_nCount;
    }
    if (m_nMask & 2) {
        m_pBattery2.reset(new CBattery(2));
        ++m_nCount;
    }
}

CBattery* CBatteryArray::GetBattery(UINT uiBattNo) const {
    switch (uiBattNo) {
    case 1:
        return m_pBattery1.get();
    case 2:
        return m_pBattery2.get();
    default:
        return nullptr;
    }
}
