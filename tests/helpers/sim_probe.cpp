// Test helper: reads one value of the simulated machine through cellio.dll
// in a process of its own and returns it as the exit code.
//
//   sim_probe mask              battery mask
//   sim_probe mode <battery>    charge mode (RBCL)
//   sim_probe psts <battery>    PSTS word, low 16 bits
//   sim_probe percent           system percentage (power status)
// A failed request exits with 1000 + its code (capped).
#include "battery/cellio.h"

#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

namespace {

int Failed(uint32_t code) {
    return 1000 + static_cast<int>(code > 999 ? 999 : code);
}

int ReadWord(uint32_t battery, uint32_t controlCode, uint32_t mask) {
    uint32_t value = 0;
    uint32_t returned = 0;
    const uint32_t rc =
        CellioDeviceControl(battery, controlCode, nullptr, 0, &value, sizeof(value), &returned);
    return rc ? Failed(rc) : static_cast<int>(value & mask);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && wcscmp(argv[1], L"mask") == 0)
        return CellioGetBatteryMask();
    if (argc == 2 && wcscmp(argv[1], L"percent") == 0) {
        auto query = reinterpret_cast<PFN_CellioGetSystemPowerStatus>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"cellio.dll"), CELLIO_POWER_STATUS_EXPORT)));
        SYSTEM_POWER_STATUS status = {};
        if (!query || !query(&status))
            return Failed(GetLastError());
        return status.BatteryLifePercent;
    }
    if (argc == 3) {
        const uint32_t battery = static_cast<uint32_t>(_wtoi(argv[2]));
        if (wcscmp(argv[1], L"mode") == 0)
            return ReadWord(battery, CELLIO_METHOD_RBCL, 0xFFFFFFFF);
        if (wcscmp(argv[1], L"psts") == 0)
            return ReadWord(battery, CELLIO_METHOD_PSTS, 0xFFFF);
    }
    return 999;
}
