// Power notifications of the simulated machine, as Windows would deliver
// them: each process that loads cellio.dll runs one watcher thread that
// follows the shared machine and sends WM_POWERBROADCAST to the top-level
// windows of its own process.
//
//   PBT_APMPOWERSTATUSCHANGE  AC line, a battery inserted or removed, a
//                             battery starting or stopping to charge or
//                             discharge, or the charge moving 3 points
//   PBT_POWERSETTINGCHANGE    GUID_ACDC_POWER_SOURCE on AC changes and
//                             GUID_BATTERY_PERCENTAGE_REMAINING on every
//                             percentage change; a window seen for the first
//                             time gets both once (as after registering),
//                             whenever its thread takes them
//   PBT_APMSUSPEND            the machine went to sleep
//   PBT_APMRESUMEAUTOMATIC,   it woke up (in this order)
//   PBT_APMRESUMESUSPEND
//
// Status changes that happen while the machine sleeps are delivered after
// the resume events.
#pragma once

namespace sim {

// Real-time interval at which the watcher looks at the machine.
constexpr unsigned kWatchIntervalMs = 75;

// Starts the watcher once per process. Safe inside DllMain: it neither
// waits for the thread nor lets the library unload under it (the module is
// pinned for the life of the process).
void StartPowerEventWatcher();

} // namespace sim
