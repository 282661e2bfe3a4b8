// Power schemes of Windows XP, which numbers them by an index instead of
// identifying plans. The refresh scheme is written from the current policies
// with the eight time-outs of the settings ("ChargeACMonitor" ...
// "ChargeDcHiberanate"), its index is kept in "RefreshPowerSetting" and
// reused by later runs, and the user's scheme is saved in "UserPowerSetting"
// while a refresh runs.
//
// The XP functions of PowrProf exist on every system, so they are imported
// directly.
#pragma once

#include <windows.h>

// powrprof.h has no include guard; the wrappers' header is where the suite
// takes it from.
#include "common/wrappers.h"

#include <vector>

namespace zbpower {

constexpr UINT POWER_SCHEME_NONE = 0xFFFFFFFF;

// One power scheme. Results are 0 or the Win32 error of the failing call.
class CPowerSchemeXP {
public:
    static constexpr size_t kTextChars = 256;

    CPowerSchemeXP();
    // Copies up to 256 characters of each text; a null text leaves the
    // object empty.
    CPowerSchemeXP(UINT uiIndex, LPCWSTR sName, LPCWSTR sDesc);

    // WritePwrScheme of this scheme with pPolicy. The system may give the
    // scheme a new index, which the object then holds.
    DWORD SetPowerScheme(POWER_POLICY* pPolicy);
    // The current policies with the refresh time-outs, written as this scheme.
    DWORD WriteRefreshPowerScheme();
    DWORD SetActivePowerScheme() const;
    DWORD DeletePowerScheme() const;

    UINT GetIndex() const { return m_uiIndex; }
    LPCWSTR GetName() const { return m_szName; }
    LPCWSTR GetDescription() const { return m_szDesc; }

private:
    WCHAR m_szName[kTextChars];
    WCHAR m_szDesc[kTextChars];
    UINT m_uiIndex;
};

// The schemes in the system's order.
class CPowerSchemeArrayXP {
public:
    DWORD EnumPowerSchemes();
    // A copy of the listed scheme with that index; false when not listed.
    bool GetPowerSchemeInfo(UINT uiIndex, CPowerSchemeXP* pScheme) const;
    // Index of the first listed scheme named exactly sName, or
    // POWER_SCHEME_NONE.
    UINT GetPowerSchemeID(LPCWSTR sName) const;
    // The listed scheme that is active; ERROR_INVALID_DATA when it is not listed.
    DWORD GetActivePowerScheme(CPowerSchemeXP* pScheme) const;
    // Activates the listed scheme with that index; ERROR_INVALID_DATA when
    // it is not listed.
    DWORD SetActivePowerScheme(UINT uiIndex) const;

    static BOOLEAN CALLBACK CallBackPowerSchemes(UINT uiIndex, DWORD dwName, LPWSTR sName,
                                                 DWORD dwDesc, LPWSTR sDesc, PPOWER_POLICY pPolicy,
                                                 LPARAM lParam);

    size_t GetCount() const { return m_schemes.size(); }

private:
    std::vector<CPowerSchemeXP> m_schemes;
};

// Scheme names are equal: the same text within kTextChars characters.
bool SameSchemeName(LPCWSTR a, LPCWSTR b);

} // namespace zbpower
