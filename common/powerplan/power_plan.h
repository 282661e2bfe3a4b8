// Power plans of Windows Vista and later. While a refresh runs the machine
// must neither sleep nor hibernate, so the refresh tool switches to a plan of
// its own, imported from the file "refreshplan" beside the program, and
// remembers the user's plan in HKLM ...\Refresh "UserPowerPlan"; the user's
// plan is given back at the end, or by the scheduler after a refresh that
// died (user_plan.h).
//
// Every PowrProf call goes through CPowrProfWrapper, so that a system
// without these functions (Windows XP) only sees failures.
#pragma once

#include <windows.h>

#include "common/wrappers.h"

#include <vector>

namespace zbpower {

// {C112AAE6-9692-45A9-9130-0ABF580F06A5}
extern const GUID REFRESH_POWER_PLAN_GUID;
// The plan's settings that are read with it: no subgroup, and under it
// "require a password on wake-up".
extern const GUID POWER_NO_SUBGROUP_GUID;
extern const GUID POWER_PASSWORD_ON_WAKE_GUID;

// File name of the refresh plan's export, in the program directory.
constexpr wchar_t REFRESH_PLAN_FILE_NAME[] = L"refreshplan";

// One power plan. Results are the Win32 error of the failing call, 0 on
// success.
class CPowerScheme {
public:
    CPowerScheme();
    // The plan with that identifier; its name is not read.
    explicit CPowerScheme(const GUID& guid);
    // Copies carry the plan's data and load their own PowrProf.
    CPowerScheme(const CPowerScheme& other);
    CPowerScheme& operator=(const CPowerScheme& other);

    // Imports a plan file under the wanted identifier and reads the new
    // plan's name and flags. ERROR_INVALID_PARAMETER for a null path.
    DWORD ImportScheme(LPCWSTR lpstrFileName, const GUID& guidScheme);
    // Name and the two password-on-wake flags of this plan.
    DWORD ReadFriendlyName();
    // Makes this object the active plan (identifier, name and flags).
    DWORD GetActiveScheme();
    // ERROR_INVALID_PARAMETER for an empty object: there is nothing to
    // activate or delete, and the system is never handed the null plan.
    DWORD SetActiveScheme();
    DWORD DeleteScheme();

    const GUID& GetGuid() const { return m_guid; }
    bool IsEmpty() const;
    LPCWSTR GetFriendlyName() const { return m_szFriendlyName; }
    bool IsPasswordOnWakeAC() const { return m_bPasswordAC; }
    bool IsPasswordOnWakeDC() const { return m_bPasswordDC; }

private:
    void CopyDataFrom(const CPowerScheme& other);

    GUID m_guid;
    WCHAR m_szFriendlyName[256]; // 512 bytes
    bool m_bPasswordAC;
    bool m_bPasswordDC;
    CPowrProfWrapper m_powrprof;
};

// The plans in the order the system enumerates them.
class CPowerSchemeArray {
public:
    // Lists every plan with its name. 0 when the list is complete; else the
    // error that ended it (ERROR_CALL_NOT_IMPLEMENTED without PowrProf, or
    // the error of a plan's name read).
    DWORD EnumPowerScheme();
    // A copy of the listed plan, or an empty plan.
    CPowerScheme GetPowerScheme(const GUID* lpGUID) const;
    size_t GetCount() const { return m_schemes.size(); }

private:
    std::vector<CPowerScheme> m_schemes;
};

} // namespace zbpower
