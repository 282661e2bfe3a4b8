#include "install/battery_reset.h"

#include <windows.h>

#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/wrappers.h"
#include "common/powerplan/user_plan.h"

namespace zbinstall {
namespace {

// A refresh that was cut off left the refresh plan active and the user's
// plan in "UserPowerPlan"; the removal deletes that record with the
// settings key, so the user's plan is made active again first and the
// refresh plan deleted, as the scheduler does at its start. Windows XP's
// schemes are per user and stay for the scheduler of a later install.
void GiveUserPowerPlanBack() {
    if (IsWindowsXP())
        return;
    zbpower::UserPlanRestore how;
    how.keepRefreshPlanOnFailure = true;
    how.foundTrace = L"A refresh ended without giving the user's power plan back; restoring it.\n";
    zbpower::RestoreUserPowerPlan(how);
}

void LogResetFailure(UINT uiBattNo, HRESULT hr) {
    WriteLog(L"PutBatteriesBack", __LINE__, L"Battery %u: full charge not set. hr: %08x.\n",
             uiBattNo, hr);
}

} // namespace

void PutBatteriesBack() {
    RepairAfterInterruptedRefresh();
    GiveUserPowerPlanBack();
    SetEveryChargeModeFull(LogResetFailure);
    for (UINT battNo = 1; battNo <= 2; ++battNo)
        ForgetOriginalChargeMode(battNo);
}

} // namespace zbinstall
