// The simulated notebook: one machine (AC adapter, up to two batteries and
// their firmware switches) shared by every process of the Wine prefix.
//
// The state lives in a file mapped by every process that uses it,
//   <common application data>\zbsim\machine.state  (C:\ProgramData\zbsim\...)
// guarded by the named mutex "Global\zbsim.machine.lock". Nothing runs in
// the background: whoever reads or changes the state first advances the
// physics by the real time elapsed since the last access, multiplied by the
// machine's speed (simulated seconds per real second). While the machine is
// suspended, time stands still.
//
// Used by cellio.dll (the battery device library), simctl.exe (the control
// tool) and the simulated power manager (SimSuspend / SimResume).
//
// Results are Win32 error codes (0 = success) unless stated.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

namespace sim {

constexpr uint32_t kBatterySlots = 2;
constexpr size_t kNameChars = 64;

// Physics defaults, for a battery at its design capacity: about 2 h from
// empty to full (constant power to 80 %, then tapering), about 3 h from full
// to empty under the machine's load or the firmware's refresh discharge.
constexpr double kFullChargeHours = 2.0;
constexpr double kDischargeHours = 3.0;
// The firmware ends its refresh discharge (sets ADPC) at this percentage,
// unless the machine says otherwise (Machine::refreshEndPercent).
constexpr uint32_t kDefaultRefreshEndPercent = 3;
// A charger that stopped at its limit starts again this many points below it.
constexpr double kRechargeHysteresis = 3.0;
// Temperature rise above ambient (0.1 K) at full charging power and under
// full discharge load, and how fast the cell follows (simulated seconds).
constexpr double kChargeHeat = 180.0;
constexpr double kDischargeHeat = 170.0;
constexpr double kThermalSeconds = 1200.0;
// Largest physics step, and the most simulated time one access catches up.
constexpr double kStepSeconds = 10.0;
constexpr double kMaxCatchUpSeconds = 2.0 * 24 * 3600;
constexpr double kMaxSpeed = 100000.0;
constexpr uint32_t kDefaultNotChargeLimit = 5;

// The gauge model. The cells hold trueCapacity; the firmware's gauge reports
// fullChargeCapacity, and the physics runs on what the gauge reports (the
// remaining charge is a share of it). The gauge learns the real capacity
// only from a whole cycle: a discharge down to the firmware's end of
// discharge (refreshEndPercent, by the machine's load or by a refresh
// discharge) followed by a charge to full sets fullChargeCapacity to
// trueCapacity. Each partial cycle instead (a charge that begins after a
// discharge which stopped above that end) lets the gauge's error grow by
// kGaugeDriftPercent of trueCapacity in the direction it already has, up to
// kGaugeMaxDriftPercent. A gauge without error stays exact, so a battery
// whose trueCapacity is 0 ("as the gauge says", the default) never drifts
// and never jumps.
constexpr double kGaugeDriftPercent = 1.0;
constexpr double kGaugeMaxDriftPercent = 20.0;
// Battery::gaugeState bits.
constexpr uint32_t kGaugeDischarged = 1; // discharged since the last charge began
constexpr uint32_t kGaugeReachedEnd = 2; // ... and down to the end of discharge
constexpr uint32_t kGaugeLearning = 4;   // a charge to full now completes a relearn

// One battery slot as the firmware knows it. Plain data, stored as is in
// the shared file: fixed sizes only.
struct Battery {
    uint32_t present;
    uint32_t tag;             // changes at every insertion; never 0
    wchar_t name[kNameChars]; // model name; BBIF carries it in the ANSI code page
    char chemistry[4];        // e.g. "LION"; NUL-padded when shorter
    uint32_t serial;
    uint32_t manufactureDate;    // FAT date: day 0-4, month 5-8, year-1980 9-15
    uint32_t startDate;          // first-use date word (EncodeStartDate)
    uint32_t designCapacity;     // mWh
    uint32_t fullChargeCapacity; // mWh
    uint32_t cycleCount;
    uint32_t designVoltage;       // mV
    uint32_t chargeMode;          // 0 full, 80/50 limits, NotChargeLimit hold, >=128 full
    uint32_t adpc;                // 1 normal; 0 = firmware refresh discharge
    uint32_t chgc;                // 1 normal; 0 = charging held off
    uint32_t chargeModeSupported; // RBCL/WBCL answer
    uint32_t protectSupported;    // PSTS bit 17
    uint32_t health;              // firmware health word (0, 10, 20)
    uint32_t chargeLatched;       // charger stopped at its limit; set by the physics
    uint32_t reserved;            // keeps the record free of padding
    uint32_t trueCapacity;        // mWh the cells hold; 0: what the gauge reports
    uint32_t gaugeState;          // kGauge* bits; set by the physics
    double remaining;             // mWh
    double temperature;           // 0.1 K
    double rate;                  // mW: > 0 charging, < 0 discharging; set by the physics
    double dischargedEnergy;      // mWh since the last cycle was counted
};

struct Machine {
    uint32_t platformType; // CellioGetPlatformType
    uint32_t platformKind; // GetSystemInfo
    uint32_t platformCode; // GetSystemInfo
    uint32_t acOnline;
    uint32_t suspended;
    uint32_t notChargeLimit; // copy of the suite's "NotChargeLimit" setting
    uint32_t suspendCount;   // sequence numbers that power-event watchers follow
    uint32_t resumeCount;
    uint32_t installCalls; // CellioOnInstall / CellioOnUninstall calls
    uint32_t uninstallCalls;
    uint32_t refreshEndPercent; // firmware ends its refresh discharge here (0: at empty)
    uint32_t reserved;
    double ambient;    // 0.1 K
    double speed;      // simulated seconds per real second; 0 pauses
    double simSeconds; // simulated time since setup
    Battery battery[kBatterySlots];
};

// ---- Derived values (pure) -------------------------------------------------

// Remaining capacity in percent as the suite computes it from BBIF/BBST:
// rounded half up, 100 once remaining >= full charge, 0 when absent.
uint32_t RemainingPercent(const Battery& b);
// All present batteries together; 255 when there is none.
uint32_t SystemPercent(const Machine& m);
bool IsCharging(const Battery& b);
bool IsDischarging(const Battery& b);
// The percentage at which the charger stops for a charge mode: 100 for 0 and
// for 128 and above, 0 (no charging) for the NotChargeLimit value, else the
// mode itself (80, 50, ...).
uint32_t ChargeLimitPercent(uint32_t chargeMode, uint32_t notChargeLimit);
// The machine's power status as Windows would report it: AC line, battery
// flags (1 high, 2 low, 4 critical, 8 charging, 128 none), percent, times.
void FillPowerStatus(const Machine& m, SYSTEM_POWER_STATUS* status);
// BBIF name bytes: the name in the ANSI code page, at most 255 bytes.
void BatteryNameAnsi(const Battery& b, char* out, size_t cbOut);

// ---- Physics (pure) --------------------------------------------------------

// Advances the machine by simSeconds of simulated time (no-op while
// suspended). Stable for any step size.
void Advance(Machine& m, double simSeconds);

// ---- Profiles and fields (pure) --------------------------------------------

struct ProfileInfo {
    const wchar_t* name;
    const wchar_t* description;
};
// The built-in profiles, in display order; *count receives their number.
const ProfileInfo* Profiles(size_t* count);
// Fills *out with a built-in profile; false for an unknown name.
bool BuildProfile(const wchar_t* name, Machine* out);

// Sets one field of the machine (slot 0) or of battery 1 or 2 from text, as
// simctl and setup files name them (see FieldHelp). Dates take YYYY-MM-DD
// or the raw word; numbers take decimal or 0x hex. On failure *out may be
// partly changed and error (if given) holds the reason.
DWORD SetField(Machine* out, uint32_t slot, const wchar_t* field, const wchar_t* value,
               wchar_t* error, size_t cchError);
// Multi-line description of every field, for help texts.
const wchar_t* FieldHelp();

// Checks that a machine is physically sensible (capacities, temperatures,
// speed, names...). 0 or ERROR_INVALID_DATA with the reason in error.
DWORD Validate(const Machine& m, wchar_t* error, size_t cchError);

// Parses a setup file's text (key=value lines, see simctl help) into *out.
// The file starts from an empty machine, or from "profile=<name>" when that
// is its first key. 0 or ERROR_INVALID_DATA with "line N: reason".
DWORD ParseSetupText(const wchar_t* text, Machine* out, wchar_t* error, size_t cchError);

// ---- The shared machine ----------------------------------------------------

// Path of the state file.
DWORD StatePath(wchar_t* path, size_t cchPath);

// Advances the physics to now and copies the machine out.
DWORD ReadMachine(Machine* out);

// Advances to now, then lets change edit a copy of the machine under the
// lock. The copy is written back only when change returns 0 and the result
// passes Validate; otherwise the shared state is left as it was and the
// failure is returned (the reason in error when given).
using MachineChange = DWORD (*)(Machine& m, void* context);
DWORD ModifyMachine(MachineChange change, void* context, wchar_t* error = nullptr,
                    size_t cchError = 0);

template <typename F> DWORD Modify(F&& change, wchar_t* error = nullptr, size_t cchError = 0) {
    using Fn = typename std::remove_reference<F>::type;
    return ModifyMachine([](Machine& m, void* c) -> DWORD { return (*static_cast<Fn*>(c))(m); },
                         &change, error, cchError);
}

// Replaces the whole machine (setup). Event sequence numbers and battery tags
// carry on from the old state, so running programs see a change, not a jump
// back; a suspended machine is resumed.
DWORD ReplaceMachine(const Machine& next, wchar_t* error = nullptr, size_t cchError = 0);

// The suite's "NotChargeLimit" setting (HKLM SOFTWARE\ZEL\VADOvur\Refresh),
// 5 when absent. Read when a charge mode is written and at setup.
uint32_t ReadNotChargeLimit();

} // namespace sim

// Power manager entry points. SimSuspend freezes the machine's time and
// makes every process's watcher send PBT_APMSUSPEND; SimResume restarts time
// and sends PBT_APMRESUMEAUTOMATIC and PBT_APMRESUMESUSPEND. Calling either
// in the state it asks for changes nothing and succeeds.
DWORD SimSuspend();
DWORD SimResume();
DWORD SimSetAcOnline(bool online);
DWORD SimSetBatteryPresent(uint32_t battNo, bool present);
DWORD SimSetSpeed(double speed);
// Loads a built-in profile (ERROR_NOT_FOUND for an unknown name).
DWORD SimSetupProfile(const wchar_t* profile);
