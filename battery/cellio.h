// cellio.dll: the notebook's battery device library, linked at load time.
// It carries the standard battery requests and the firmware's battery
// methods to the machine, by battery number (1 or 2).
//
// Entry points by ordinal (cellio.def):
//   1 CellioDeviceControl   2 CellioGetPlatformType   3 CellioOnInstall
//   4 CellioOnUninstall     8 CellioGetBatteryMask
// and by name: unsigned long GetSystemInfo(driver::_SYSTEM_PLATFORM_INFO &).
#pragma once

#include <windows.h>

#include <stdint.h>

#ifdef CELLIO_BUILDING_DLL
#define CELLIO_API __declspec(dllexport)
#else
#define CELLIO_API __declspec(dllimport)
#endif

// Control codes of CellioDeviceControl: the Windows battery requests...
constexpr uint32_t CELLIO_IOCTL_QUERY_TAG = 0x294040;
constexpr uint32_t CELLIO_IOCTL_QUERY_INFORMATION = 0x294044;
constexpr uint32_t CELLIO_IOCTL_QUERY_STATUS = 0x29404C;
// ...and the firmware methods (records in battery/firmware.h).
constexpr uint32_t CELLIO_METHOD_BBIF = 0x296044;   // battery information
constexpr uint32_t CELLIO_METHOD_BBST = 0x296048;   // battery status
constexpr uint32_t CELLIO_METHOD_HEALTH = 0x29644C; // health word
constexpr uint32_t CELLIO_METHOD_PSTS = 0x296058;   // protect support
constexpr uint32_t CELLIO_METHOD_RBCL = 0x296068;   // read charge mode
constexpr uint32_t CELLIO_METHOD_WBSD = 0x29A04C;   // write first-use date
constexpr uint32_t CELLIO_METHOD_ADPC = 0x29A050;   // adapter control
constexpr uint32_t CELLIO_METHOD_CHGC = 0x29A054;   // charge control
constexpr uint32_t CELLIO_METHOD_WBCL = 0x29A064;   // write charge mode

extern "C" {
// 0 on success (output filled); any other value is the failure code.
CELLIO_API uint32_t WINAPI CellioDeviceControl(uint32_t battNo, uint32_t controlCode, void* inBuffer,
                                               uint32_t inSize, void* outBuffer, uint32_t outSize,
                                               uint32_t* bytesReturned);
// 0: standard requests go through CellioDeviceControl; other: to the OS device.
CELLIO_API int WINAPI CellioGetPlatformType();
CELLIO_API int WINAPI CellioOnInstall();
CELLIO_API int WINAPI CellioOnUninstall();
// Bit 0: battery 1 present, bit 1: battery 2 present.
CELLIO_API int WINAPI CellioGetBatteryMask();
}

namespace driver {
struct _SYSTEM_PLATFORM_INFO {
    uint32_t platformKind;
    uint32_t platformCode;
    uint32_t reserved;
};
} // namespace driver
static_assert(sizeof(driver::_SYSTEM_PLATFORM_INFO) == 12, "record size is fixed by the library");

CELLIO_API unsigned long GetSystemInfo(driver::_SYSTEM_PLATFORM_INFO& info);

// Optional export: the machine's power status as the device library sees it
// (AC adapter and batteries). When a library offers it, the suite reads the
// power status from it instead of GetSystemPowerStatus; see
// common/power_status.h.
#define CELLIO_POWER_STATUS_EXPORT "CellioGetSystemPowerStatus"
typedef BOOL(WINAPI* PFN_CellioGetSystemPowerStatus)(SYSTEM_POWER_STATUS* status);
