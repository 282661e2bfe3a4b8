// powrprof.dll of the simulated notebook: the power manager that the test
// prefix loads instead of Wine's (which lacks most plan functions and whose
// SetSuspendState does nothing). Plans and schemes live in the prefix's
// registry (power_store.h); battery figures and sleep come from the shared
// simulated machine (sim/machine.h).
//
// Root-key arguments are accepted and ignored: there is one store.
#include <windows.h>

#include <winternl.h>

#include "sim/machine.h"
#include "sim/powrprof/plan_file.h"
// powrprof.h has no include guard: it comes in once, through power_store.h.
#include "sim/powrprof/power_store.h"

#include <wchar.h>

#include <vector>

using namespace simpower;

namespace {

// How long the simulated notebook sleeps in SetSuspendState before it wakes
// by itself, in real milliseconds. Like the real call, SetSuspendState
// returns only after the machine has resumed.
const DWORD kSuspendRealMs = 1000;

#ifndef STATUS_BUFFER_TOO_SMALL
const NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023L);
#endif
const NTSTATUS kStatusSuccess = 0;

// A GUID the caller frees with LocalFree, as the system hands them out.
DWORD HandOutGuid(const GUID& guid, GUID** out) {
    GUID* copy = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
    if (!copy)
        return ERROR_NOT_ENOUGH_MEMORY;
    *copy = guid;
    *out = copy;
    return ERROR_SUCCESS;
}

DWORD NewGuid(GUID* guid) {
    // CoCreateGuid would pull in COM; the identifier only has to be unique.
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return GetLastError();
    const BOOL ok = CryptGenRandom(provider, sizeof(*guid), reinterpret_cast<BYTE*>(guid));
    const DWORD rc = ok ? ERROR_SUCCESS : GetLastError();
    CryptReleaseContext(provider, 0);
    guid->Data3 = static_cast<WORD>((guid->Data3 & 0x0FFF) | 0x4000); // version 4
    guid->Data4[0] = static_cast<BYTE>((guid->Data4[0] & 0x3F) | 0x80);
    return rc;
}

// Reads a plan's name or description into a caller's byte buffer.
DWORD ReadPlanTextTo(const GUID* scheme, const GUID* subgroup, const GUID* setting, PlanText which,
                     PUCHAR buffer, LPDWORD bufferSize) {
    if (!bufferSize || !scheme)
        return ERROR_INVALID_PARAMETER;
    // Settings and subgroups carry no texts in the simulation.
    if (subgroup || setting)
        return ERROR_FILE_NOT_FOUND;
    std::wstring text;
    const DWORD rc = ReadPlanText(*scheme, which, &text);
    if (rc != ERROR_SUCCESS)
        return rc;
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (!buffer) {
        *bufferSize = needed;
        return ERROR_SUCCESS;
    }
    if (*bufferSize < needed) {
        *bufferSize = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, text.c_str(), needed);
    *bufferSize = needed;
    return ERROR_SUCCESS;
}

DWORD WritePlanTextFrom(const GUID* scheme, const GUID* subgroup, const GUID* setting,
                        PlanText which, const UCHAR* buffer, DWORD bufferSize) {
    if (!scheme || !buffer)
        return ERROR_INVALID_PARAMETER;
    if (subgroup || setting)
        return ERROR_ACCESS_DENIED;
    const wchar_t* chars = reinterpret_cast<const wchar_t*>(buffer);
    const std::wstring text(chars, wcsnlen(chars, bufferSize / sizeof(wchar_t)));
    return WritePlanText(*scheme, which, text.c_str());
}

DWORD ReadIndex(const GUID* scheme, const GUID* subgroup, const GUID* setting, bool ac,
                LPDWORD value) {
    if (!scheme || !setting || !value)
        return ERROR_INVALID_PARAMETER;
    return ReadValueIndex(*scheme, subgroup, *setting, ac, value);
}

DWORD WriteIndex(const GUID* scheme, const GUID* subgroup, const GUID* setting, bool ac,
                 DWORD value) {
    if (!scheme || !setting)
        return ERROR_INVALID_PARAMETER;
    return WriteValueIndex(*scheme, subgroup, *setting, ac, value);
}

// XP functions answer with a BOOLEAN and leave the reason in the last error.
BOOLEAN Answer(DWORD rc) {
    SetLastError(rc);
    return rc == ERROR_SUCCESS;
}

NTSTATUS ForwardToNt(POWER_INFORMATION_LEVEL level, PVOID in, ULONG inSize, PVOID out,
                     ULONG outSize) {
    using NtPowerInformationFn =
        NTSTATUS(WINAPI*)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);
    auto fn = reinterpret_cast<NtPowerInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtPowerInformation")));
    if (!fn)
        return static_cast<NTSTATUS>(0xC0000002L); // STATUS_NOT_IMPLEMENTED
    return fn(level, in, inSize, out, outSize);
}

// The caller's own windows get PBT_APMSUSPEND while the machine sleeps, as
// the other processes' windows do, instead of only after it woke up.
void SleepServingSentMessages(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        const DWORD wait = MsgWaitForMultipleObjectsEx(
            0, nullptr, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (wait == WAIT_FAILED)
            Sleep(static_cast<DWORD>(deadline - now));
    }
}

void FillBatteryState(const sim::Machine& m, SYSTEM_BATTERY_STATE* state) {
    *state = SYSTEM_BATTERY_STATE{};
    state->AcOnLine = m.acOnline ? TRUE : FALSE;
    double rate = 0;
    for (const sim::Battery& b : m.battery) {
        if (!b.present)
            continue;
        state->BatteryPresent = TRUE;
        state->MaxCapacity += b.fullChargeCapacity;
        state->RemainingCapacity += static_cast<DWORD>(b.remaining + 0.5);
        state->DefaultAlert1 += b.designCapacity / 20; // low: 5 %
        state->DefaultAlert2 += b.designCapacity / 10; // warning: 10 %
        if (sim::IsCharging(b))
            state->Charging = TRUE;
        if (sim::IsDischarging(b))
            state->Discharging = TRUE;
        rate += b.rate;
    }
    // The rate is signed (mW, negative while discharging) in an unsigned field.
    state->Rate = static_cast<DWORD>(static_cast<LONG>(rate));
    state->EstimatedTime = 0xFFFFFFFF;
    if (state->Discharging && rate < 0)
        state->EstimatedTime = static_cast<DWORD>(state->RemainingCapacity * 3600.0 / -rate);
}

} // namespace

extern "C" {

// ---- Plans (Vista and later) -----------------------------------------------

DWORD WINAPI PowerGetActiveScheme(HKEY, GUID** ActivePolicyGuid) {
    if (!ActivePolicyGuid)
        return ERROR_INVALID_PARAMETER;
    GUID active;
    const DWORD rc = GetActivePlan(&active);
    if (rc != ERROR_SUCCESS)
        return rc;
    return HandOutGuid(active, ActivePolicyGuid);
}

DWORD WINAPI PowerSetActiveScheme(HKEY, const GUID* SchemeGuid) {
    if (!SchemeGuid)
        return ERROR_INVALID_PARAMETER;
    return SetActivePlan(*SchemeGuid);
}

DWORD WINAPI PowerEnumerate(HKEY, const GUID* SchemeGuid, const GUID* SubGroupOfPowerSettingsGuid,
                            POWER_DATA_ACCESSOR AccessFlags, ULONG Index, UCHAR* Buffer,
                            DWORD* BufferSize) {
    if (!BufferSize)
        return ERROR_INVALID_PARAMETER;
    std::vector<GUID> items;
    DWORD rc = ERROR_SUCCESS;
    switch (AccessFlags) {
    case ACCESS_SCHEME:
        rc = ListPlans(&items);
        break;
    case ACCESS_SUBGROUP:
        rc = SchemeGuid ? ListSubgroups(*SchemeGuid, &items) : ERROR_INVALID_PARAMETER;
        break;
    case ACCESS_INDIVIDUAL_SETTING:
        rc = SchemeGuid ? ListSettings(*SchemeGuid, SubGroupOfPowerSettingsGuid, &items)
                        : ERROR_INVALID_PARAMETER;
        break;
    default:
        rc = ERROR_INVALID_PARAMETER;
        break;
    }
    if (rc != ERROR_SUCCESS)
        return rc;
    if (Index >= items.size())
        return ERROR_NO_MORE_ITEMS;
    if (!Buffer || *BufferSize < sizeof(GUID)) {
        *BufferSize = sizeof(GUID);
        return ERROR_MORE_DATA;
    }
    memcpy(Buffer, &items[Index], sizeof(GUID));
    *BufferSize = sizeof(GUID);
    return ERROR_SUCCESS;
}

DWORD WINAPI PowerImportPowerScheme(HKEY, LPCWSTR ImportFileNamePath,
                                    GUID** DestinationSchemeGuid) {
    if (!ImportFileNamePath || !DestinationSchemeGuid)
        return ERROR_INVALID_PARAMETER;
    PowerPlan plan;
    std::wstring error;
    DWORD rc = ReadPlanFile(ImportFileNamePath, &plan, &error);
    if (rc != ERROR_SUCCESS)
        return rc;
    const bool allocate = *DestinationSchemeGuid == nullptr;
    if (allocate) {
        if ((rc = NewGuid(&plan.guid)) != ERROR_SUCCESS)
            return rc;
    } else {
        plan.guid = **DestinationSchemeGuid;
    }
    if ((rc = CreatePlan(plan)) != ERROR_SUCCESS)
        return rc;
    return allocate ? HandOutGuid(plan.guid, DestinationSchemeGuid) : ERROR_SUCCESS;
}

DWORD WINAPI PowerDuplicateScheme(HKEY, const GUID* SourceSchemeGuid,
                                  GUID** DestinationSchemeGuid) {
    if (!SourceSchemeGuid || !DestinationSchemeGuid)
        return ERROR_INVALID_PARAMETER;
    const bool allocate = *DestinationSchemeGuid == nullptr;
    GUID target;
    DWORD rc = ERROR_SUCCESS;
    if (allocate) {
        if ((rc = NewGuid(&target)) != ERROR_SUCCESS)
            return rc;
    } else {
        target = **DestinationSchemeGuid;
    }
    if ((rc = DuplicatePlan(*SourceSchemeGuid, target)) != ERROR_SUCCESS)
        return rc;
    return allocate ? HandOutGuid(target, DestinationSchemeGuid) : ERROR_SUCCESS;
}

DWORD WINAPI PowerDeleteScheme(HKEY, const GUID* SchemeGuid) {
    if (!SchemeGuid)
        return ERROR_INVALID_PARAMETER;
    return DeletePlan(*SchemeGuid);
}

DWORD WINAPI PowerReadFriendlyName(HKEY, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, PUCHAR Buffer,
                                   LPDWORD BufferSize) {
    return ReadPlanTextTo(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                          PlanText::FriendlyName, Buffer, BufferSize);
}

DWORD WINAPI PowerWriteFriendlyName(HKEY, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, UCHAR* Buffer, DWORD BufferSize) {
    return WritePlanTextFrom(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                             PlanText::FriendlyName, Buffer, BufferSize);
}

DWORD WINAPI PowerReadDescription(HKEY, const GUID* SchemeGuid,
                                  const GUID* SubGroupOfPowerSettingsGuid,
                                  const GUID* PowerSettingGuid, PUCHAR Buffer, LPDWORD BufferSize) {
    return ReadPlanTextTo(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                          PlanText::Description, Buffer, BufferSize);
}

DWORD WINAPI PowerWriteDescription(HKEY, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, UCHAR* Buffer, DWORD BufferSize) {
    return WritePlanTextFrom(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                             PlanText::Description, Buffer, BufferSize);
}

DWORD WINAPI PowerReadACValueIndex(HKEY, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD AcValueIndex) {
    return ReadIndex(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid, true, AcValueIndex);
}

DWORD WINAPI PowerReadDCValueIndex(HKEY, const GUID* SchemeGuid,
                                   const GUID* SubGroupOfPowerSettingsGuid,
                                   const GUID* PowerSettingGuid, LPDWORD DcValueIndex) {
    return ReadIndex(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid, false,
                     DcValueIndex);
}

DWORD WINAPI PowerWriteACValueIndex(HKEY, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD AcValueIndex) {
    return WriteIndex(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid, true,
                      AcValueIndex);
}

DWORD WINAPI PowerWriteDCValueIndex(HKEY, const GUID* SchemeGuid,
                                    const GUID* SubGroupOfPowerSettingsGuid,
                                    const GUID* PowerSettingGuid, DWORD DcValueIndex) {
    return WriteIndex(SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid, false,
                      DcValueIndex);
}

POWER_PLATFORM_ROLE WINAPI PowerDeterminePlatformRole(void) {
    return PlatformRoleMobile;
}

// ---- Schemes (Windows XP) --------------------------------------------------

BOOLEAN WINAPI GetActivePwrScheme(PUINT puiID) {
    if (!puiID)
        return Answer(ERROR_INVALID_PARAMETER);
    return Answer(GetActiveXpScheme(puiID));
}

BOOLEAN WINAPI SetActivePwrScheme(UINT uiID, PGLOBAL_POWER_POLICY lpGlobalPowerPolicy,
                                  PPOWER_POLICY lpPowerPolicy) {
    return Answer(SetActiveXpScheme(uiID, lpGlobalPowerPolicy, lpPowerPolicy));
}

BOOLEAN WINAPI EnumPwrSchemes(PWRSCHEMESENUMPROC lpfnPwrSchemesEnumProc, LPARAM lParam) {
    if (!lpfnPwrSchemesEnumProc)
        return Answer(ERROR_INVALID_PARAMETER);
    std::vector<XpScheme> schemes;
    const DWORD rc = ListXpSchemes(&schemes);
    if (rc != ERROR_SUCCESS)
        return Answer(rc);
    for (XpScheme& s : schemes) {
        // The callback gets writable copies and sizes in bytes, terminator included.
        std::vector<wchar_t> name(s.name.begin(), s.name.end());
        std::vector<wchar_t> description(s.description.begin(), s.description.end());
        name.push_back(L'\0');
        description.push_back(L'\0');
        if (!lpfnPwrSchemesEnumProc(s.index, static_cast<DWORD>(name.size() * sizeof(wchar_t)),
                                    name.data(),
                                    static_cast<DWORD>(description.size() * sizeof(wchar_t)),
                                    description.data(), &s.policy, lParam))
            break;
    }
    return Answer(ERROR_SUCCESS);
}

BOOLEAN WINAPI ReadPwrScheme(UINT uiID, PPOWER_POLICY pPowerPolicy) {
    if (!pPowerPolicy)
        return Answer(ERROR_INVALID_PARAMETER);
    XpScheme scheme;
    const DWORD rc = ReadXpScheme(uiID, &scheme);
    if (rc == ERROR_SUCCESS)
        *pPowerPolicy = scheme.policy;
    return Answer(rc);
}

BOOLEAN WINAPI WritePwrScheme(PUINT puiID, LPWSTR lpszName, LPWSTR lpszDescription,
                              PPOWER_POLICY lpScheme) {
    if (!puiID || !lpszName || !lpScheme)
        return Answer(ERROR_INVALID_PARAMETER);
    return Answer(
        WriteXpScheme(puiID, lpszName, lpszDescription ? lpszDescription : L"", *lpScheme));
}

BOOLEAN WINAPI DeletePwrScheme(UINT uiID) {
    return Answer(DeleteXpScheme(uiID));
}

BOOLEAN WINAPI GetCurrentPowerPolicies(PGLOBAL_POWER_POLICY pGlobalPowerPolicy,
                                       PPOWER_POLICY pPowerPolicy) {
    if (pGlobalPowerPolicy) {
        const DWORD rc = ReadXpGlobalPolicy(pGlobalPowerPolicy);
        if (rc != ERROR_SUCCESS)
            return Answer(rc);
    }
    if (pPowerPolicy) {
        UINT active = 0;
        DWORD rc = GetActiveXpScheme(&active);
        XpScheme scheme;
        if (rc == ERROR_SUCCESS)
            rc = ReadXpScheme(active, &scheme);
        if (rc != ERROR_SUCCESS)
            return Answer(rc);
        *pPowerPolicy = scheme.policy;
    }
    return Answer(ERROR_SUCCESS);
}

BOOLEAN WINAPI ReadGlobalPwrPolicy(PGLOBAL_POWER_POLICY pGlobalPowerPolicy) {
    if (!pGlobalPowerPolicy)
        return Answer(ERROR_INVALID_PARAMETER);
    return Answer(ReadXpGlobalPolicy(pGlobalPowerPolicy));
}

BOOLEAN WINAPI WriteGlobalPwrPolicy(PGLOBAL_POWER_POLICY pGlobalPowerPolicy) {
    if (!pGlobalPowerPolicy)
        return Answer(ERROR_INVALID_PARAMETER);
    return Answer(WriteXpGlobalPolicy(*pGlobalPowerPolicy));
}

BOOLEAN WINAPI CanUserWritePwrScheme(VOID) {
    return Answer(ERROR_SUCCESS);
}

BOOLEAN WINAPI IsAdminOverrideActive(PADMINISTRATOR_POWER_POLICY) {
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

BOOLEAN WINAPI GetPwrDiskSpindownRange(PUINT puiMax, PUINT puiMin) {
    if (!puiMax || !puiMin)
        return Answer(ERROR_INVALID_PARAMETER);
    *puiMax = 3600;
    *puiMin = 3;
    return Answer(ERROR_SUCCESS);
}

// ---- Machine ---------------------------------------------------------------

NTSTATUS WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL InformationLevel, PVOID InputBuffer,
                                       ULONG InputBufferLength, PVOID OutputBuffer,
                                       ULONG OutputBufferLength) {
    sim::Machine machine;
    switch (InformationLevel) {
    case SystemBatteryState:
        if (!OutputBuffer || OutputBufferLength < sizeof(SYSTEM_BATTERY_STATE))
            return STATUS_BUFFER_TOO_SMALL;
        if (sim::ReadMachine(&machine) != ERROR_SUCCESS)
            break;
        FillBatteryState(machine, static_cast<SYSTEM_BATTERY_STATE*>(OutputBuffer));
        return kStatusSuccess;
    case SystemPowerCapabilities: {
        if (!OutputBuffer || OutputBufferLength < sizeof(SYSTEM_POWER_CAPABILITIES))
            return STATUS_BUFFER_TOO_SMALL;
        const NTSTATUS status = ForwardToNt(InformationLevel, InputBuffer, InputBufferLength,
                                            OutputBuffer, OutputBufferLength);
        auto* caps = static_cast<SYSTEM_POWER_CAPABILITIES*>(OutputBuffer);
        if (status != kStatusSuccess)
            *caps = SYSTEM_POWER_CAPABILITIES{};
        // A notebook: lid, sleep and hibernation, and its batteries.
        caps->PowerButtonPresent = TRUE;
        caps->SleepButtonPresent = TRUE;
        caps->LidPresent = TRUE;
        caps->SystemS3 = TRUE;
        caps->SystemS4 = TRUE;
        caps->SystemS5 = TRUE;
        caps->HiberFilePresent = TRUE;
        caps->VideoDimPresent = TRUE;
        caps->DiskSpinDown = TRUE;
        caps->SystemBatteriesPresent = FALSE;
        if (sim::ReadMachine(&machine) == ERROR_SUCCESS)
            for (const sim::Battery& b : machine.battery)
                caps->SystemBatteriesPresent |= b.present ? TRUE : FALSE;
        caps->BatteriesAreShortTerm = FALSE;
        caps->AcOnLineWake = PowerSystemSleeping3;
        caps->SoftLidWake = PowerSystemSleeping3;
        caps->RtcWake = PowerSystemSleeping3;
        caps->MinDeviceWakeState = PowerSystemSleeping3;
        caps->DefaultLowLatencyWake = PowerSystemSleeping1;
        return kStatusSuccess;
    }
    default:
        break;
    }
    return ForwardToNt(InformationLevel, InputBuffer, InputBufferLength, OutputBuffer,
                       OutputBufferLength);
}

BOOLEAN WINAPI GetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES lpSystemPowerCapabilities) {
    if (!lpSystemPowerCapabilities)
        return Answer(ERROR_INVALID_PARAMETER);
    const NTSTATUS status =
        CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, lpSystemPowerCapabilities,
                               sizeof(*lpSystemPowerCapabilities));
    return Answer(status == kStatusSuccess ? ERROR_SUCCESS : ERROR_GEN_FAILURE);
}

BOOLEAN WINAPI IsPwrSuspendAllowed(VOID) {
    return Answer(ERROR_SUCCESS);
}
BOOLEAN WINAPI IsPwrHibernateAllowed(VOID) {
    return Answer(ERROR_SUCCESS);
}
BOOLEAN WINAPI IsPwrShutdownAllowed(VOID) {
    return Answer(ERROR_SUCCESS);
}

// Puts the simulated notebook to sleep (every process's windows get
// PBT_APMSUSPEND, sent by cellio.dll's power-event watcher of that process),
// lets it sleep kSuspendRealMs, wakes it again (resume events) and only then
// returns, as the real call does. Hibernation is the
// same to the simulation.
BOOLEAN WINAPI SetSuspendState(BOOLEAN bHibernate, BOOLEAN bForce, BOOLEAN bWakeupEventsDisabled) {
    (void)bHibernate;
    (void)bForce;
    (void)bWakeupEventsDisabled;
    DWORD rc = SimSuspend();
    if (rc != ERROR_SUCCESS)
        return Answer(rc);
    SleepServingSentMessages(kSuspendRealMs);
    rc = SimResume();
    return Answer(rc);
}

} // extern "C"
