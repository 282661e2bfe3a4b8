// "RefreshLimit" lives with the battery code: its default depends on the
// machine, which only the device library can tell.
#include "battery/battery.h"

#include "common/reg.h"
#include "common/settings.h"

DWORD GetRegRefreshLimit() {
    DWORD limit = 0;
    // A remaining capacity in percent; 101 never ends the discharge early.
    if (GetPolicyDword(SETTINGS_KEY_POLICY_REFRESH, L"RefreshLimit", 0, 101, &limit))
        return limit;
    if (SUCCEEDED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"RefreshLimit", &limit)))
        return limit;
    driver::_SYSTEM_PLATFORM_INFO info = {};
    GetSystemInfo(info);
    return RefreshLimitForPlatform(info);
}
