#include "common/power_status.h"

#include "battery/cellio.h"

BOOL GetMachinePowerStatus(SYSTEM_POWER_STATUS* status) {
    if (!status)
        return FALSE;
    // Looked up on each call: the library is linked at load time by the
    // programs that have it, and absent from those (instzb) that do not.
    if (HMODULE cellio = GetModuleHandleW(L"cellio.dll")) {
        auto query = reinterpret_cast<PFN_CellioGetSystemPowerStatus>(
            reinterpret_cast<void*>(GetProcAddress(cellio, CELLIO_POWER_STATUS_EXPORT)));
        if (query)
            return query(status);
    }
    return GetSystemPowerStatus(status);
}
