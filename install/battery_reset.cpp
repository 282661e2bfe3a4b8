#include "install/battery_reset.h"

#include <windows.h>

#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/wrappers.h"
#include "refresh/power_plan.h"

namespace zbinstall {
namespace {

// A refresh that was cut off left the refresh plan active and the user's
// plan in "UserPowerPlan"; the removal deletes that record with the
// settings key, so the user's plan is made active again first and the
// refresh plan deleted, as the scheduler does at its start. Windows XP's
// schemes are per user and stay for the scheduler of a later install.
void RestoreUserPowerPlan() {
    if (IsWindowsXP())
        return;
    GUID userPlan = {};
    if (FAILED(GetRegUserPowerPlan(&userPlan)))
        return;
    WriteLog(L"RestoreUserPowerPlan", __LINE__,
             L"A refresh ended without giving the user's power plan back; restoring it.\n");
    zbrefresh::CPowerScheme user(userPlan);
    if (user.SetActiveScheme() != 0)
        return;
    DelRegUserPowerPlan();
    zbrefresh::CPowerSchemeArray plans;
    plans.EnumPowerScheme();
    zbrefresh::CPowerScheme refreshPlan = plans.GetPowerScheme(&zbrefresh::REFRESH_POWER_PLAN_GUID);
    if (!refreshPlan.IsEmpty())
        refreshPlan.DeleteScheme();
}

void LogResetFailure(UINT uiBattNo, HRESULT hr) {
    WriteLog(L"PutBatteriesBack", __LINE__, L"Battery %u: full charge not set. hr: %08x.\n",
             uiBattNo, hr);
}

} // namespace

void PutBatteriesBack() {
    RepairAfterInterruptedRefresh();
    RestoreUserPowerPlan();
    SetEveryChargeModeFull(LogResetFailure);
    for (UINT battNo = 1; battNo <= 2; ++battNo)
        ForgetOriginalChargeMode(battNo);
}

} // namespace zbinstall
