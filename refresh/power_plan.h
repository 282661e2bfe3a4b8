// The refresh tool's power plan (Windows Vista and later): switched to when
// the refresh window is created, asked for again by the main screen, and
// given back at the end. The plan classes are common/powerplan's.
#pragma once

#include <windows.h>

#include "common/powerplan/power_plan.h"
#include "common/powerplan/user_plan.h"

namespace zbrefresh {

using zbpower::CPowerScheme;
using zbpower::CPowerSchemeArray;
using zbpower::REFRESH_PLAN_FILE_NAME;
using zbpower::REFRESH_POWER_PLAN_GUID;

// Refresh window created: switch to the refresh plan (pPs2 receives it) and
// save the user's plan. Errors go to the error log (ids 110, 111, 116) with
// the texts of hWnd's module; none stops the refresh.
void StorePowerPlan(HWND hWnd, CPowerScheme* pPs2);

// Clean-up: the saved user plan becomes active again, the saved value is
// deleted, then the refresh plan pPs2, also when the user's plan could not
// be made active (ids 110, 118, 119).
void RestorePowerPlan(HWND hWnd, CPowerScheme* pPs2);

// The tool's end of its own run for either interface: every failure is
// logged with the tool's ids, and the refresh plan (pRefreshPlan on Vista,
// the scheme of "RefreshPowerSetting" on XP) goes even when the user's plan
// could not be made active.
void RestoreToolPowerPlan(HWND hWnd, CPowerScheme* pRefreshPlan, zbpower::PowerApi api);

// The main screen asks for the refresh plan again: activates it (0 or the
// error; ERROR_INVALID_PARAMETER when no refresh plan was set up).
DWORD ActivateRefreshPlan(CPowerScheme& refreshPlan);

// Active-power-scheme notification: true when the refresh plan was set up
// and another plan is now active. A failed read of the active plan counts
// as no change, so that no false notice reaches the user.
bool IsRefreshPlanReplaced(const CPowerScheme& refreshPlan);

// Module whose string resources hold the error texts of hWnd (the program
// itself without a window).
HINSTANCE GetErrorTextModule(HWND hWnd);

} // namespace zbrefresh
