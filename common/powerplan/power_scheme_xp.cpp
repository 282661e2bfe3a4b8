#include "common/powerplan/power_scheme_xp.h"

#include "common/log.h"
#include "common/settings.h"

#include <strsafe.h>
#include <wchar.h>

#include <string>

namespace zbpower {

namespace {

// The XP functions answer FALSE and leave the reason in the last error; a
// failure must never be read as success, even when that reason is missing.
DWORD LastErrorOfFailure() {
    const DWORD err = GetLastError();
    return err != ERROR_SUCCESS ? err : ERROR_GEN_FAILURE;
}

} // namespace

bool SameSchemeName(LPCWSTR a, LPCWSTR b) {
    return wcsncmp(a, b, CPowerSchemeXP::kTextChars) == 0;
}

// ---------------------------------------------------------------------------
// CPowerSchemeXP

CPowerSchemeXP::CPowerSchemeXP() : m_szName{}, m_szDesc{}, m_uiIndex(POWER_SCHEME_NONE) {}

CPowerSchemeXP::CPowerSchemeXP(UINT uiIndex, LPCWSTR sName, LPCWSTR sDesc) : CPowerSchemeXP() {
    if (!sName) {
        LogNullArg(L"CPowerSchemeXP::CPowerSchemeXP", __LINE__, L"sName");
        return;
    }
    if (!sDesc) {
        LogNullArg(L"CPowerSchemeXP::CPowerSchemeXP", __LINE__, L"sDesc");
        return;
    }
    m_uiIndex = uiIndex;
    StringCchCopyW(m_szName, ARRAYSIZE(m_szName), sName);
    StringCchCopyW(m_szDesc, ARRAYSIZE(m_szDesc), sDesc);
}

DWORD CPowerSchemeXP::SetPowerScheme(POWER_POLICY* pPolicy) {
    if (!pPolicy) {
        LogNullArg(L"CPowerSchemeXP::SetPowerScheme", __LINE__, L"pPolicy");
        return ERROR_INVALID_PARAMETER;
    }
    UINT index = m_uiIndex;
    if (!WritePwrScheme(&index, m_szName, m_szDesc, pPolicy)) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeXP::SetPowerScheme", __LINE__, L"WritePwrScheme", err);
        return err;
    }
    m_uiIndex = index;
    return ERROR_SUCCESS;
}

DWORD CPowerSchemeXP::WriteRefreshPowerScheme() {
    GLOBAL_POWER_POLICY global = {};
    POWER_POLICY policy = {};
    if (!GetCurrentPowerPolicies(&global, &policy)) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeXP::WriteRefreshPowerScheme", __LINE__,
                      L"GetCurrentPowerPolicies", err);
        return err;
    }
    policy.user.VideoTimeoutAc = GetRegChargePowerTimeout(0);
    policy.user.VideoTimeoutDc = GetRegChargePowerTimeout(1);
    policy.user.IdleTimeoutAc = GetRegChargePowerTimeout(2);
    policy.user.IdleTimeoutDc = GetRegChargePowerTimeout(3);
    policy.user.SpindownTimeoutAc = GetRegChargePowerTimeout(4);
    policy.user.SpindownTimeoutDc = GetRegChargePowerTimeout(5);
    policy.mach.DozeS4TimeoutAc = GetRegChargePowerTimeout(6);
    policy.mach.DozeS4TimeoutDc = GetRegChargePowerTimeout(7);
    return SetPowerScheme(&policy);
}

DWORD CPowerSchemeXP::SetActivePowerScheme() const {
    if (!SetActivePwrScheme(m_uiIndex, nullptr, nullptr)) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeXP::SetActivePowerScheme", __LINE__, L"SetActivePwrScheme",
                      err);
        return err;
    }
    return ERROR_SUCCESS;
}

DWORD CPowerSchemeXP::DeletePowerScheme() const {
    if (!DeletePwrScheme(m_uiIndex)) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeXP::DeletePowerScheme", __LINE__, L"DeletePwrScheme", err);
        return err;
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// CPowerSchemeArrayXP

BOOLEAN CALLBACK CPowerSchemeArrayXP::CallBackPowerSchemes(UINT uiIndex, DWORD dwName, LPWSTR sName,
                                                           DWORD /*dwDesc*/, LPWSTR /*sDesc*/,
                                                           PPOWER_POLICY /*pPolicy*/,
                                                           LPARAM lParam) {
    auto* pArray = reinterpret_cast<CPowerSchemeArrayXP*>(lParam);
    if (!sName) {
        LogNullArg(L"CPowerSchemeArrayXP::CallBackPowerSchemes", __LINE__, L"sName");
        return FALSE;
    }
    if (!pArray) {
        LogNullArg(L"CPowerSchemeArrayXP::CallBackPowerSchemes", __LINE__, L"lParam");
        return FALSE;
    }
    // dwName is the name's size in bytes; the text need not end inside it.
    const std::wstring name(sName, wcsnlen(sName, dwName / sizeof(WCHAR)));
    pArray->m_schemes.emplace_back(uiIndex, name.c_str(), L"");
    return TRUE;
}

DWORD CPowerSchemeArrayXP::EnumPowerSchemes() {
    m_schemes.clear();
    if (!EnumPwrSchemes(&CPowerSchemeArrayXP::CallBackPowerSchemes,
                        reinterpret_cast<LPARAM>(this))) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeArrayXP::EnumPowerSchemes", __LINE__, L"EnumPwrSchemes", err);
        return err;
    }
    return ERROR_SUCCESS;
}

bool CPowerSchemeArrayXP::GetPowerSchemeInfo(UINT uiIndex, CPowerSchemeXP* pScheme) const {
    if (!pScheme) {
        LogNullArg(L"CPowerSchemeArrayXP::GetPowerSchemeInfo", __LINE__, L"pScheme");
        return false;
    }
    for (const CPowerSchemeXP& scheme : m_schemes) {
        if (scheme.GetIndex() == uiIndex) {
            *pScheme = scheme;
            return true;
        }
    }
    return false;
}

UINT CPowerSchemeArrayXP::GetPowerSchemeID(LPCWSTR sName) const {
    if (!sName) {
        LogNullArg(L"CPowerSchemeArrayXP::GetPowerSchemeID", __LINE__, L"sName");
        return POWER_SCHEME_NONE;
    }
    for (const CPowerSchemeXP& scheme : m_schemes) {
        if (SameSchemeName(scheme.GetName(), sName))
            return scheme.GetIndex();
    }
    return POWER_SCHEME_NONE;
}

DWORD CPowerSchemeArrayXP::GetActivePowerScheme(CPowerSchemeXP* pScheme) const {
    if (!pScheme) {
        LogNullArg(L"CPowerSchemeArrayXP::GetActivePowerScheme", __LINE__, L"pScheme");
        return ERROR_INVALID_PARAMETER;
    }
    UINT index = POWER_SCHEME_NONE;
    if (!GetActivePwrScheme(&index)) {
        const DWORD err = LastErrorOfFailure();
        LogApiFailure(L"CPowerSchemeArrayXP::GetActivePowerScheme", __LINE__, L"GetActivePwrScheme",
                      err);
        return err;
    }
    return GetPowerSchemeInfo(index, pScheme) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD CPowerSchemeArrayXP::SetActivePowerScheme(UINT uiIndex) const {
    CPowerSchemeXP scheme;
    if (!GetPowerSchemeInfo(uiIndex, &scheme))
        return ERROR_INVALID_DATA;
    return scheme.SetActivePowerScheme();
}

} // namespace zbpower
