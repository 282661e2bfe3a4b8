// The refresh tool's power code as Windows XP sees it: the test gives this
// program the Wine version "winxp64". The Vista plan functions must then stay
// unused (the wrapper loads nothing) while the XP schemes work.
// Exit code: 0 when every check held, else the number of the first failure.
#include <windows.h>

#include "common/settings.h"
#include "common/wrappers.h"
#include "refresh/power_plan.h"
#include "refresh/power_scheme_xp.h"

using namespace zbrefresh;

int wmain() {
    if (!IsWindowsXP())
        return 10;

    CPowerScheme active;
    if (active.GetActiveScheme() != ERROR_CALL_NOT_IMPLEMENTED)
        return 11;
    CPowerScheme refresh;
    StorePowerPlan(nullptr, &refresh);
    GUID saved = GUID_NULL;
    if (!refresh.IsEmpty() || SUCCEEDED(GetRegUserPowerPlan(&saved)))
        return 12;

    UINT before = POWER_SCHEME_NONE;
    if (!GetActivePwrScheme(&before))
        return 13;
    ApplyRefreshPowerSchemeXP(nullptr);
    if (!IsRefreshPowerSchemeActiveXP() || GetRegUserPowerSetting() != before)
        return 14;
    RestorePowerSchemeXP(nullptr);
    UINT after = POWER_SCHEME_NONE;
    if (!GetActivePwrScheme(&after) || after != before || IsRefreshPowerSchemeActiveXP())
        return 15;
    return 0;
}
