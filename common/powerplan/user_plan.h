// Giving the user's saved power plan back. The refresh tool does it at the
// end of its run, the scheduler after a run that died before its clean-up;
// one sequence serves both, and what differs between them is what they pass:
// the error-log entries (string ids of the caller's module) and how a failed
// re-activation is handled.
#pragma once

#include <windows.h>

#include "common/powerplan/power_plan.h"

namespace zbpower {

// The error-log entries of one restore form; 0 writes none.
struct PowerPlanErrorIds {
    UINT activate = 0;      // the user's plan could not be made active
    UINT readSaved = 0;     // no saved user plan could be read (Vista)
    UINT deleteSaved = 0;   // the saved record could not be deleted
    UINT deleteRefresh = 0; // the refresh plan could not be deleted
};

struct UserPlanRestore {
    // Module whose string resources hold the error texts.
    HINSTANCE textModule = nullptr;
    PowerPlanErrorIds vista; // power plans
    PowerPlanErrorIds xp;    // XP power schemes
    // Vista: the refresh plan to delete; null deletes the plan listed under
    // REFRESH_POWER_PLAN_GUID, when there is one.
    CPowerScheme* refreshPlan = nullptr;
    // When the user's plan cannot be made active, the refresh plan stays
    // (it is the active one, and deleting it would leave the machine on
    // whatever the system picks) and so does the record, for a later try.
    bool keepRefreshPlanOnFailure = false;
    // Non-null: a failed re-activation is logged only while *failureLogged
    // is false, which it then becomes; a success clears it. One that is
    // tried again on every tick logs once.
    bool* failureLogged = nullptr;
    // XP: with no saved user scheme a listed refresh scheme is still
    // deleted (it can only be left over from a run that died).
    bool deleteLeftoverSchemeXP = false;
    // Traced once a saved user plan is found (Vista); null traces nothing.
    LPCWSTR foundTrace = nullptr;
};

enum class PowerApi {
    kPlans,     // Windows Vista and later
    kSchemesXP, // Windows XP
};

// The interface of this system: XP schemes on Windows XP, plans elsewhere.
PowerApi CurrentPowerApi();

// Makes the saved user plan ("UserPowerPlan", on XP "UserPowerSetting")
// active again, deletes the record, then deletes the refresh plan. On XP
// nothing happens while the "Limited" setting is not 0.
void RestoreUserPowerPlan(const UserPlanRestore& how, PowerApi api = CurrentPowerApi());

} // namespace zbpower
