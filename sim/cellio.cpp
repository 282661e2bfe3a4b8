// cellio.dll for the simulated notebook: answers the battery device
// library's entry points from the shared simulated machine, and starts the
// power-event watcher of every process that loads it.
#include "battery/cellio.h"

#include "battery/firmware.h"
#include "sim/machine.h"
#include "sim/power_events.h"

#include <batclass.h>
#include <strsafe.h>

#include <string.h>

namespace {

// A battery that is not there (or a stale tag) answers with this, as a
// battery device that has gone away does.
constexpr uint32_t kNoBattery = ERROR_FILE_NOT_FOUND;

const wchar_t kManufacturer[] = L"SimCell";

struct Request {
    uint32_t slot; // 0 or 1
    const void* in;
    uint32_t inSize;
    void* out;
    uint32_t outSize;
    uint32_t* bytesReturned;
};

uint32_t ReplyBytes(const Request& r, const void* data, uint32_t size) {
    if (!r.out)
        return ERROR_INVALID_PARAMETER;
    if (r.outSize < size)
        return ERROR_INSUFFICIENT_BUFFER;
    memcpy(r.out, data, size);
    if (r.bytesReturned)
        *r.bytesReturned = size;
    return 0;
}

template <typename T> uint32_t Reply(const Request& r, const T& value) {
    return ReplyBytes(r, &value, sizeof(value));
}

uint32_t ReplyText(const Request& r, const wchar_t* text) {
    return ReplyBytes(r, text, static_cast<uint32_t>((wcslen(text) + 1) * sizeof(wchar_t)));
}

template <typename T> bool ReadInput(const Request& r, T* value) {
    if (!r.in || r.inSize < sizeof(T))
        return false;
    memcpy(value, r.in, sizeof(T));
    return true;
}

// The name as Windows' battery device reports it: the firmware's ANSI name
// read back, so that it always equals what BBIF yields in this code page.
void DeviceName(const sim::Battery& b, wchar_t* out, size_t cch) {
    char ansi[256];
    sim::BatteryNameAnsi(b, ansi, sizeof(ansi));
    if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, out, static_cast<int>(cch)) <= 0)
        out[0] = L'\0';
}

uint32_t Temperature(const sim::Battery& b) {
    return static_cast<uint32_t>(b.temperature + 0.5);
}

uint32_t Voltage(const sim::Battery& b) {
    // 10.8 V empty to 12.6 V full for a 11.1 V pack, scaled to its design.
    const double full = b.fullChargeCapacity ? b.remaining / b.fullChargeCapacity : 0.0;
    return static_cast<uint32_t>(b.designVoltage * (0.973 + 0.162 * full));
}

uint32_t EstimatedSeconds(const sim::Battery& b) {
    if (b.rate >= 0.0)
        return BATTERY_UNKNOWN_TIME;
    return static_cast<uint32_t>(b.remaining / -b.rate * 3600.0);
}

// ---- Standard battery requests ----------------------------------------------

uint32_t QueryTag(const Request& r, const sim::Battery& b) {
    return Reply<ULONG>(r, b.tag);
}

uint32_t QueryInformation(const Request& r, const sim::Battery& b) {
    BATTERY_QUERY_INFORMATION query;
    if (!ReadInput(r, &query))
        return ERROR_INVALID_PARAMETER;
    if (query.BatteryTag != b.tag)
        return kNoBattery;
    wchar_t text[300];
    switch (query.InformationLevel) {
    case BatteryInformation: {
        BATTERY_INFORMATION info = {};
        info.Capabilities = BATTERY_SYSTEM_BATTERY;
        info.Technology = 1; // rechargeable
        memcpy(info.Chemistry, b.chemistry, sizeof(info.Chemistry));
        info.DesignedCapacity = b.designCapacity;
        info.FullChargedCapacity = b.fullChargeCapacity;
        info.DefaultAlert1 = b.fullChargeCapacity / 10;
        info.DefaultAlert2 = b.fullChargeCapacity / 25;
        info.CriticalBias = 0;
        info.CycleCount = b.cycleCount;
        return Reply(r, info);
    }
    case BatteryGranularityInformation: {
        BATTERY_REPORTING_SCALE scale = {1, b.designCapacity};
        return Reply(r, scale);
    }
    case BatteryTemperature:
        return Reply<ULONG>(r, Temperature(b));
    case BatteryEstimatedTime:
        return Reply<ULONG>(r, EstimatedSeconds(b));
    case BatteryDeviceName:
        DeviceName(b, text, ARRAYSIZE(text));
        return ReplyText(r, text);
    case BatteryManufactureDate: {
        BATTERY_MANUFACTURE_DATE date = {};
        date.Day = static_cast<UCHAR>(b.manufactureDate & 0x1F);
        date.Month = static_cast<UCHAR>((b.manufactureDate >> 5) & 0xF);
        date.Year = static_cast<USHORT>(((b.manufactureDate >> 9) & 0x7F) + 1980);
        return Reply(r, date);
    }
    case BatteryManufactureName:
        return ReplyText(r, kManufacturer);
    case BatteryUniqueID: {
        wchar_t name[300];
        DeviceName(b, name, ARRAYSIZE(name));
        StringCchPrintfW(text, ARRAYSIZE(text), L"%s%s%u", kManufacturer, name, b.serial);
        return ReplyText(r, text);
    }
    case BatterySerialNumber:
        StringCchPrintfW(text, ARRAYSIZE(text), L"%u", b.serial);
        return ReplyText(r, text);
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

uint32_t QueryStatus(const Request& r, const sim::Machine& m, const sim::Battery& b) {
    BATTERY_WAIT_STATUS wait;
    if (!ReadInput(r, &wait))
        return ERROR_INVALID_PARAMETER;
    if (wait.BatteryTag != b.tag)
        return kNoBattery;
    BATTERY_STATUS status = {};
    if (m.acOnline)
        status.PowerState |= BATTERY_POWER_ON_LINE;
    if (sim::IsCharging(b))
        status.PowerState |= BATTERY_CHARGING;
    if (sim::IsDischarging(b)) {
        status.PowerState |= BATTERY_DISCHARGING;
        if (sim::RemainingPercent(b) < 5)
            status.PowerState |= BATTERY_CRITICAL;
    }
    status.Capacity = static_cast<ULONG>(b.remaining);
    status.Voltage = Voltage(b);
    status.Rate = static_cast<LONG>(b.rate);
    return Reply(r, status);
}

// ---- Firmware methods -----------------------------------------------------------

uint32_t MethodBBIF(const Request& r, const sim::Battery& b) {
    BBIF record = {};
    record.dwSN = b.serial;
    record.dwProduct = b.manufactureDate;
    record.dwStartDate = b.startDate;
    sim::BatteryNameAnsi(b, record.szBattName, sizeof(record.szBattName));
    record.dwDCAP = b.designCapacity;
    record.dwFCC = b.fullChargeCapacity;
    record.dwCycle = b.cycleCount;
    return Reply(r, record);
}

uint32_t MethodBBST(const Request& r, const sim::Battery& b) {
    BBST record = {};
    record.dwRemaining = static_cast<uint32_t>(b.remaining);
    record.dwReserved1 = static_cast<uint32_t>(b.rate < 0 ? -b.rate : b.rate); // mW
    record.dwReserved2 = Voltage(b);                                           // mV
    record.dwTemperature = Temperature(b);
    return Reply(r, record);
}

uint32_t MethodPSTS(const Request& r, const sim::Battery& b) {
    uint32_t word = (b.chgc ? PSTS_CHGC : 0u) | (b.adpc ? PSTS_ADPC : 0u) |
                    (b.protectSupported ? PSTS_PROTECT_SUPPORT : 0u);
    return Reply(r, word);
}

uint32_t MethodRBCL(const Request& r, const sim::Battery& b) {
    if (!b.chargeModeSupported)
        return ERROR_NOT_SUPPORTED;
    return Reply(r, b.chargeMode);
}

// The write methods: one 32-bit argument in, one 32-bit "data" word out
// (always 0 here; nothing in the suite reads it).
using WriteMethod = uint32_t (*)(sim::Battery& b, uint32_t value);

uint32_t WriteStartDate(sim::Battery& b, uint32_t value) {
    if (value > 0xFFFF)
        return ERROR_INVALID_PARAMETER;
    b.startDate = value;
    return 0;
}

uint32_t WriteSwitch(uint32_t* target, uint32_t value) {
    if (value > 1)
        return ERROR_INVALID_PARAMETER;
    *target = value;
    return 0;
}

uint32_t WriteAdpc(sim::Battery& b, uint32_t value) {
    return WriteSwitch(&b.adpc, value);
}
uint32_t WriteChgc(sim::Battery& b, uint32_t value) {
    return WriteSwitch(&b.chgc, value);
}

uint32_t WriteChargeMode(sim::Battery& b, uint32_t value) {
    if (!b.chargeModeSupported)
        return ERROR_NOT_SUPPORTED;
    b.chargeMode = value;
    b.chargeLatched = 0; // a new limit is judged afresh
    return 0;
}

uint32_t RunWrite(const Request& r, WriteMethod method, bool readsNotChargeLimit) {
    uint32_t value;
    if (!ReadInput(r, &value))
        return ERROR_INVALID_PARAMETER;
    // Read outside the machine lock: the registry is the suite's, not ours.
    const uint32_t notChargeLimit = readsNotChargeLimit ? sim::ReadNotChargeLimit() : 0;
    const uint32_t slot = r.slot;
    const DWORD rc = sim::Modify([&](sim::Machine& m) -> DWORD {
        sim::Battery& b = m.battery[slot];
        if (!b.present)
            return kNoBattery;
        if (readsNotChargeLimit)
            m.notChargeLimit = notChargeLimit;
        return method(b, value);
    });
    if (rc)
        return rc;
    if (r.out && r.outSize >= sizeof(uint32_t)) {
        const uint32_t data = 0;
        memcpy(r.out, &data, sizeof(data));
        if (r.bytesReturned)
            *r.bytesReturned = sizeof(data);
    }
    return 0;
}

uint32_t RunRead(const Request& r, uint32_t controlCode) {
    sim::Machine m;
    if (DWORD rc = sim::ReadMachine(&m))
        return rc;
    const sim::Battery& b = m.battery[r.slot];
    if (!b.present)
        return kNoBattery;
    switch (controlCode) {
    case CELLIO_IOCTL_QUERY_TAG:
        return QueryTag(r, b);
    case CELLIO_IOCTL_QUERY_INFORMATION:
        return QueryInformation(r, b);
    case CELLIO_IOCTL_QUERY_STATUS:
        return QueryStatus(r, m, b);
    case CELLIO_METHOD_BBIF:
        return MethodBBIF(r, b);
    case CELLIO_METHOD_BBST:
        return MethodBBST(r, b);
    case CELLIO_METHOD_HEALTH:
        return Reply(r, b.health);
    case CELLIO_METHOD_PSTS:
        return MethodPSTS(r, b);
    case CELLIO_METHOD_RBCL:
        return MethodRBCL(r, b);
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

} // namespace

extern "C" {

CELLIO_API uint32_t WINAPI CellioDeviceControl(uint32_t battNo, uint32_t controlCode,
                                               void* inBuffer, uint32_t inSize, void* outBuffer,
                                               uint32_t outSize, uint32_t* bytesReturned) {
    if (bytesReturned)
        *bytesReturned = 0;
    if (battNo < 1 || battNo > sim::kBatterySlots)
        return ERROR_INVALID_PARAMETER;
    const Request r{battNo - 1, inBuffer, inSize, outBuffer, outSize, bytesReturned};
    switch (controlCode) {
    case CELLIO_METHOD_WBSD:
        return RunWrite(r, WriteStartDate, false);
    case CELLIO_METHOD_ADPC:
        return RunWrite(r, WriteAdpc, false);
    case CELLIO_METHOD_CHGC:
        return RunWrite(r, WriteChgc, false);
    case CELLIO_METHOD_WBCL:
        return RunWrite(r, WriteChargeMode, true);
    default:
        return RunRead(r, controlCode);
    }
}

CELLIO_API int WINAPI CellioGetPlatformType() {
    sim::Machine m;
    return sim::ReadMachine(&m) ? 0 : static_cast<int>(m.platformType);
}

CELLIO_API int WINAPI CellioOnInstall() {
    return static_cast<int>(sim::Modify([](sim::Machine& m) -> DWORD {
        ++m.installCalls;
        return 0;
    }));
}

CELLIO_API int WINAPI CellioOnUninstall() {
    return static_cast<int>(sim::Modify([](sim::Machine& m) -> DWORD {
        ++m.uninstallCalls;
        return 0;
    }));
}

CELLIO_API int WINAPI CellioGetBatteryMask() {
    sim::Machine m;
    if (sim::ReadMachine(&m))
        return 0;
    int mask = 0;
    for (uint32_t i = 0; i < sim::kBatterySlots; ++i) {
        if (m.battery[i].present)
            mask |= 1 << i;
    }
    return mask;
}

// The suite's power-status seam (CELLIO_POWER_STATUS_EXPORT).
__declspec(dllexport) BOOL WINAPI CellioGetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::Machine m;
    if (DWORD rc = sim::ReadMachine(&m)) {
        SetLastError(rc);
        return FALSE;
    }
    sim::FillPowerStatus(m, status);
    return TRUE;
}

} // extern "C"

CELLIO_API unsigned long GetSystemInfo(driver::_SYSTEM_PLATFORM_INFO& info) {
    sim::Machine m;
    if (DWORD rc = sim::ReadMachine(&m))
        return rc;
    info.platformKind = m.platformKind;
    info.platformCode = m.platformCode;
    info.reserved = 0;
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        sim::StartPowerEventWatcher();
    return TRUE;
}
