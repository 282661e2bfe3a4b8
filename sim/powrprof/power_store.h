// The simulated power manager's state: the power plans of Windows Vista and
// later and the power schemes of Windows XP, both kept in the registry of
// the Wine prefix so that every process sees the same plans.
//
// Plans (Vista and later), laid out as Windows itself keeps them:
//   HKLM\SYSTEM\CurrentControlSet\Control\Power\User\PowerSchemes
//     "ActivePowerScheme"  REG_SZ  identifier of the active plan
//     <plan>\              one key per plan, named by its identifier
//       "FriendlyName"     REG_SZ
//       "Description"      REG_SZ
//       <subgroup>\<setting>\  "ACSettingIndex", "DCSettingIndex" (DWORD)
// Identifiers are written lower case without braces
// ("381b4222-f694-41f0-9685-ff5bb260df2e"). A setting a plan does not hold
// reads as its default from a small table of known settings (sleep,
// hibernate, display and disk time-outs, battery actions, password on wake);
// any other setting is not found.
//
// Schemes (Windows XP), again laid out as XP keeps them, all under
//   HKCU\Control Panel\PowerCfg
//     "CurrentPowerPolicy" REG_SZ  index of the active scheme, decimal
//     "LastID"             REG_SZ  highest index handed out so far
//     PowerPolicies\<index>\  "Name", "Description" (REG_SZ),
//                            "Policies" (REG_BINARY, a whole POWER_POLICY)
//     GlobalPowerPolicy\     "Policies" (REG_BINARY, GLOBAL_POWER_POLICY)
// (XP keeps the machine half of each policy under HKLM; the simulation keeps
// the whole policy here, so that one registry watch sees every change.)
//
// Either store is seeded with the system's usual plans or schemes the first
// time it is used, and again after its key was deleted (which is how tests
// and "simctl plans reset" start over). All access goes through the named
// mutex "Global\zbsim.power.lock", so concurrent processes never see half a
// plan. Results are Win32 error codes (0 = success).
#pragma once

#include <windows.h>

#include <powrprof.h>

#include <string>
#include <vector>

namespace simpower {

// ---- Identifiers -----------------------------------------------------------

// Well-known plans and settings (the values Windows uses).
extern const GUID kBalancedPlan;
extern const GUID kHighPerformancePlan;
extern const GUID kPowerSaverPlan;
extern const GUID kNoSubgroup;
extern const GUID kSleepSubgroup;
extern const GUID kStandbyTimeout;
extern const GUID kHibernateTimeout;
extern const GUID kVideoSubgroup;
extern const GUID kVideoTimeout;
extern const GUID kDiskSubgroup;
extern const GUID kDiskTimeout;
extern const GUID kBatterySubgroup;
extern const GUID kCriticalBatteryAction;
extern const GUID kLowBatteryAction;
extern const GUID kLockConsoleOnWake;

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case.
std::wstring GuidToText(const GUID& guid);
// Accepts the form above with or without braces, in either case.
bool GuidFromText(const wchar_t* text, GUID* guid);
bool IsNullGuid(const GUID& guid);

// ---- Plans (Vista and later) -----------------------------------------------

struct PlanSetting {
    GUID subgroup;
    GUID setting;
    DWORD ac;
    DWORD dc;
};

struct PowerPlan {
    GUID guid;
    std::wstring name;
    std::wstring description;
    std::vector<PlanSetting> settings;
};

// Identifiers of every plan, in the order PowerEnumerate reports them.
DWORD ListPlans(std::vector<GUID>* plans);
bool PlanExists(const GUID& plan);
DWORD GetActivePlan(GUID* plan);
// ERROR_FILE_NOT_FOUND for an unknown plan.
DWORD SetActivePlan(const GUID& plan);
// ERROR_ALREADY_EXISTS when a plan with that identifier exists.
DWORD CreatePlan(const PowerPlan& plan);
// The active plan cannot be deleted (ERROR_ACCESS_DENIED), as on Windows.
DWORD DeletePlan(const GUID& plan);
// Copies every value of source into a new plan target (which must not exist).
DWORD DuplicatePlan(const GUID& source, const GUID& target);

enum class PlanText { FriendlyName, Description };
// Texts of a plan itself; only plans carry texts in the simulation.
DWORD ReadPlanText(const GUID& plan, PlanText which, std::wstring* text);
DWORD WritePlanText(const GUID& plan, PlanText which, const wchar_t* text);

// subgroup may be null (no subgroup). ac selects the AC or the DC index.
DWORD ReadValueIndex(const GUID& plan, const GUID* subgroup, const GUID& setting, bool ac,
                     DWORD* value);
DWORD WriteValueIndex(const GUID& plan, const GUID* subgroup, const GUID& setting, bool ac,
                      DWORD value);

// Subgroups of a plan, or settings of a plan's subgroup, as stored.
DWORD ListSubgroups(const GUID& plan, std::vector<GUID>* subgroups);
DWORD ListSettings(const GUID& plan, const GUID* subgroup, std::vector<GUID>* settings);

// ---- Schemes (Windows XP) --------------------------------------------------

struct XpScheme {
    UINT index;
    std::wstring name;
    std::wstring description;
    POWER_POLICY policy;
};

// Every scheme, by ascending index.
DWORD ListXpSchemes(std::vector<XpScheme>* schemes);
DWORD ReadXpScheme(UINT index, XpScheme* scheme);
// Writes over the scheme *index when it exists; otherwise (NEWSCHEME or an
// index not in use) creates a new scheme with the next free index, which is
// returned in *index.
DWORD WriteXpScheme(UINT* index, const wchar_t* name, const wchar_t* description,
                    const POWER_POLICY& policy);
// The active scheme cannot be deleted (ERROR_ACCESS_DENIED).
DWORD DeleteXpScheme(UINT index);
DWORD GetActiveXpScheme(UINT* index);
// ERROR_FILE_NOT_FOUND for an unknown index. A given policy replaces the
// scheme's own before it becomes active.
DWORD SetActiveXpScheme(UINT index, const GLOBAL_POWER_POLICY* global, const POWER_POLICY* policy);
DWORD ReadXpGlobalPolicy(GLOBAL_POWER_POLICY* global);
DWORD WriteXpGlobalPolicy(const GLOBAL_POWER_POLICY& global);

// ---- Whole store -----------------------------------------------------------

// Deletes both stores; the next use seeds them again.
DWORD ResetPowerStore();

// A readable listing of the plans (with their sleep and hibernate time-outs)
// and the XP schemes, the active ones marked with "*".
std::wstring DescribePowerStore();

} // namespace simpower
