#include "common/powerplan/user_plan.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/powerplan/power_scheme_xp.h"
#include "common/wrappers.h"

namespace zbpower {

namespace {

void LogRestoreError(const UserPlanRestore& how, UINT uMessageId, DWORD dwCode) {
    if (uMessageId == 0)
        return;
    HINSTANCE module = how.textModule ? how.textModule : GetModuleHandleW(nullptr);
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, module);
}

void ReportActivateFailure(const UserPlanRestore& how, UINT uMessageId, DWORD dwCode) {
    if (how.failureLogged && *how.failureLogged)
        return;
    LogRestoreError(how, uMessageId, dwCode);
    if (how.failureLogged)
        *how.failureLogged = true;
}

void ForgetActivateFailure(const UserPlanRestore& how) {
    if (how.failureLogged)
        *how.failureLogged = false;
}

void DeleteRefreshPlan(const UserPlanRestore& how) {
    CPowerScheme listed;
    CPowerScheme* refresh = how.refreshPlan;
    if (!refresh) {
        CPowerSchemeArray plans;
        plans.EnumPowerScheme();
        listed = plans.GetPowerScheme(&REFRESH_POWER_PLAN_GUID);
        if (listed.IsEmpty())
            return;
        refresh = &listed;
    }
    const DWORD rc = refresh->DeleteScheme();
    WriteLog(L"RestoreUserPowerPlan", __LINE__, L"DeleteScheme=%x\n", rc);
    if (rc != ERROR_SUCCESS)
        LogRestoreError(how, how.vista.deleteRefresh, rc);
}

void RestoreUserPlan(const UserPlanRestore& how) {
    GUID userPlan = GUID_NULL;
    HRESULT hr = GetRegUserPowerPlan(&userPlan);
    if (FAILED(hr)) {
        LogRestoreError(how, how.vista.readSaved, static_cast<DWORD>(hr));
        return;
    }
    if (how.foundTrace)
        WriteLog(L"RestoreUserPowerPlan", __LINE__, L"%s", how.foundTrace);

    CPowerScheme user(userPlan);
    const DWORD rc = user.SetActiveScheme();
    WriteLog(L"RestoreUserPowerPlan", __LINE__, L"SetActiveScheme=%x\n", rc);
    if (rc != ERROR_SUCCESS) {
        ReportActivateFailure(how, how.vista.activate, rc);
        if (how.keepRefreshPlanOnFailure)
            return;
    } else {
        ForgetActivateFailure(how);
        WriteLog(L"RestoreUserPowerPlan", __LINE__, L"レジストリを削除します\n");
        hr = DelRegUserPowerPlan();
        if (FAILED(hr)) {
            LogRestoreError(how, how.vista.deleteSaved, static_cast<DWORD>(hr));
            return;
        }
    }
    DeleteRefreshPlan(how);
}

void RestoreUserSchemeXP(const UserPlanRestore& how) {
    if (GetRegLimited() != 0)
        return;
    const UINT userIndex = GetRegUserPowerSetting();
    if (userIndex == POWER_SCHEME_NONE && !how.deleteLeftoverSchemeXP)
        return;
    CPowerSchemeArrayXP schemes;
    schemes.EnumPowerSchemes();
    if (userIndex != POWER_SCHEME_NONE) {
        const DWORD rc = schemes.SetActivePowerScheme(userIndex);
        if (rc != ERROR_SUCCESS) {
            ReportActivateFailure(how, how.xp.activate, rc);
            if (how.keepRefreshPlanOnFailure)
                return;
        } else {
            ForgetActivateFailure(how);
            const HRESULT hr = DelRegUserPowerSetting();
            if (FAILED(hr)) {
                LogRestoreError(how, how.xp.deleteSaved, static_cast<DWORD>(hr));
                return;
            }
        }
    }

    // "RefreshPowerSetting" stays stored: the next run writes its scheme
    // under the same index.
    const UINT refreshIndex = GetRegRefreshPowerSetting();
    CPowerSchemeXP refresh;
    if (refreshIndex != POWER_SCHEME_NONE && schemes.GetPowerSchemeInfo(refreshIndex, &refresh)) {
        const DWORD rc = refresh.DeletePowerScheme();
        if (rc != ERROR_SUCCESS)
            LogRestoreError(how, how.xp.deleteRefresh, rc);
    }
}

} // namespace

PowerApi CurrentPowerApi() {
    return IsWindowsXP() ? PowerApi::kSchemesXP : PowerApi::kPlans;
}

void RestoreUserPowerPlan(const UserPlanRestore& how, PowerApi api) {
    if (api == PowerApi::kSchemesXP)
        RestoreUserSchemeXP(how);
    else
        RestoreUserPlan(how);
}

} // namespace zbpower
