#include "refresh/power_plan.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "common/powerplan/user_plan.h"
#include "refresh/resource.h"

#include <strsafe.h>

namespace zbrefresh {

namespace {

void LogPowerError(HWND hWnd, UINT uMessageId, DWORD dwCode) {
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, GetErrorTextModule(hWnd));
}

} // namespace

HINSTANCE GetErrorTextModule(HWND hWnd) {
    if (hWnd) {
        if (auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE)))
            return module;
    }
    return GetModuleHandleW(nullptr);
}

// ---------------------------------------------------------------------------
// Entry points of the refresh window

void StorePowerPlan(HWND hWnd, CPowerScheme* pPs2) {
    if (!pPs2) {
        LogNullArg(L"StorePowerPlan", __LINE__, L"pPs2");
        return;
    }
    CPowerScheme active;
    DWORD rc = active.GetActiveScheme();
    if (rc != ERROR_SUCCESS) {
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
        // Without the user's plan there would be nothing to return to.
        if (active.IsEmpty())
            return;
    }
    if (IsEqualGUID(active.GetGuid(), REFRESH_POWER_PLAN_GUID)) {
        // Left active by a run that died: "UserPowerPlan" still names the
        // user's plan and must not be overwritten with ours, and our plan
        // is to go at the end like any other time.
        WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランが有効のままです\n");
        *pPs2 = active;
        return;
    }

    WCHAR szPath[MAX_PATH] = {};
    rc = GetCurrentPath(szPath, ARRAYSIZE(szPath));
    if (rc == ERROR_SUCCESS &&
        FAILED(StringCchCatW(szPath, ARRAYSIZE(szPath), REFRESH_PLAN_FILE_NAME)))
        rc = ERROR_INSUFFICIENT_BUFFER;
    if (rc != ERROR_SUCCESS) {
        LogPowerError(hWnd, IDS_ERR_MODULE_PATH, rc);
        return;
    }

    WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランが存在するかチェックします\n");
    CPowerSchemeArray plans;
    plans.EnumPowerScheme();
    *pPs2 = plans.GetPowerScheme(&REFRESH_POWER_PLAN_GUID);
    if (pPs2->IsEmpty()) {
        WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランをインポートします\n");
        rc = pPs2->ImportScheme(szPath, REFRESH_POWER_PLAN_GUID);
        if (rc != ERROR_SUCCESS)
            LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
    }

    // The user's plan is saved before it is replaced: a plan switched
    // without its record could never be given back.
    const HRESULT hr = SetRegUserPowerPlan(&active.GetGuid());
    if (FAILED(hr)) {
        LogPowerError(hWnd, IDS_ERR_USER_PLAN_WRITE, static_cast<DWORD>(hr));
        return;
    }
    rc = pPs2->SetActiveScheme();
    if (rc != ERROR_SUCCESS)
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
}

void RestoreToolPowerPlan(HWND hWnd, CPowerScheme* pRefreshPlan, zbpower::PowerApi api) {
    zbpower::UserPlanRestore how;
    how.textModule = GetErrorTextModule(hWnd);
    how.vista = {IDS_ERR_POWER_PLAN, IDS_ERR_USER_PLAN_READ, IDS_ERR_USER_PLAN_DELETE,
                 IDS_ERR_POWER_PLAN};
    // The texts 104 and 105 serve the power scheme on XP as well.
    how.xp = {IDS_ERR_REFRESH, 0, IDS_ERR_REFRESH_STATUS, IDS_ERR_REFRESH};
    how.refreshPlan = pRefreshPlan;
    zbpower::RestoreUserPowerPlan(how, api);
}

void RestorePowerPlan(HWND hWnd, CPowerScheme* pPs2) {
    if (!pPs2) {
        LogNullArg(L"RestorePowerPlan", __LINE__, L"pPs2");
        return;
    }
    RestoreToolPowerPlan(hWnd, pPs2, zbpower::PowerApi::kPlans);
}

DWORD ActivateRefreshPlan(CPowerScheme& refreshPlan) {
    return refreshPlan.SetActiveScheme();
}

bool IsRefreshPlanReplaced(const CPowerScheme& refreshPlan) {
    if (refreshPlan.IsEmpty())
        return false;
    CPowerScheme active;
    active.GetActiveScheme();
    if (active.IsEmpty())
        return false;
    return IsEqualGUID(active.GetGuid(), refreshPlan.GetGuid()) == 0;
}

} // namespace zbrefresh
