// The decisions of the refresh phases that need neither a window nor a
// battery: progress figures, the charge-mode normalisation, the cool-down
// clocks and the end-of-phase rules. The phase handlers (phases.h) read the
// machine and call these, so every rule can be checked on its own.
#pragma once

#include <windows.h>

#include <functional>

namespace zbrefresh {

// ---------------------------------------------------------------------------
// Progress: percent of one battery's whole refresh. Each phase owns a fifth:
// CHARGING1 0-20, REFRESHING 20-40, COOLDOWN1 40-60, COOLDOWN2 60-80,
// CHARGING2 80-100.

// CHARGING1: capacity / 5.
int CalcFirstChargeProgress(unsigned capacity);

// REFRESHING: the discharge from 100 % down to 0 % fills 20..40.
int CalcRefreshingProgress(unsigned capacity);

// COOLDOWN1: elapsed / time of the rest, 40..60 (single precision, as the
// main screen has always been shown). coolDownTime must not be 0.
int CalcCoolDown1Progress(LONGLONG elapsedMinutes, DWORD coolDownTime);

// COOLDOWN2: elapsed / limit, 60..80. coolDownLimit must not be 0.
int CalcCoolDown2Progress(LONGLONG elapsedMinutes, DWORD coolDownLimit);

// CHARGING2: 80 + capacity / 5, or, for a battery restored to the 80 % or
// 50 % mode, scaled so that the battery reaches 100 at that level. Never
// above 100: a battery that charges past its mode's level is simply done.
int CalcSecondChargeProgress(unsigned capacity, DWORD savedChargeMode);

// ---------------------------------------------------------------------------
// Charge mode

// The mode a battery gets back after its refresh: the bit-7 mark dropped,
// 65..80 -> 80, 50..64 -> 50, anything else -> 0 (full).
DWORD NormalizeChargeMode(DWORD savedChargeMode);

// What the tool does with a battery's charge mode when the battery begins.
enum class ChargeModeAtStart {
    Keep,    // already 0: nothing to release
    Release, // a reduced level: write 0 so the battery can charge fully
    Marked,  // bit 7 set: charges fully anyway, leave it alone
};
ChargeModeAtStart DecideChargeModeAtStart(DWORD chargeMode);

// A level a person can choose for a battery: full (0) or 50..80. The
// hold-off limit and the bit-7 mark are written by programs only.
bool IsPersonChargeLevel(DWORD chargeMode, DWORD notChargeLimit);

// ---------------------------------------------------------------------------
// Cool-down clocks

// Whole minutes from start to now (both local times), never negative: a
// clock set back counts as no time passed rather than as an endless wait.
// 0 when either time cannot be converted.
LONGLONG CalcElapsedMinutes(const SYSTEMTIME& start, const SYSTEMTIME& now);

// COOLDOWN1 rests for the fixed time (0: ends at its first tick).
bool IsCoolDown1Over(LONGLONG elapsedMinutes, DWORD coolDownTime);

// COOLDOWN2 rests while the battery is warmer than the limit and the time
// limit has not passed. A temperature that could not be read counts as 0.
bool IsCoolDown2Over(DWORD temperature, DWORD temperatureLimit, LONGLONG elapsedMinutes,
                     DWORD coolDownLimit);

// ---------------------------------------------------------------------------
// Charging and discharging rules

// Asks whether the battery reaches a charging flag (CHARGING_FLAG_* of
// common/util.h) within the usual wait. Called only when the rule needs it.
using ChargingStateProbe = std::function<bool(int wantedFlag)>;

enum class FirstChargeStep {
    Stay,                 // not full yet (or still charging): look again later
    StayUntilNotCharging, // at the top but not yet found not charging
    Complete,             // start the discharge
};

// CHARGING1 ends when the capacity has reached completeMax, or is at least
// complete and the battery is no longer charging; with completeMax 100 the
// battery must also be found not charging.
FirstChargeStep DecideFirstCharge(unsigned capacity, DWORD completeMax, DWORD complete,
                                  const ChargingStateProbe& probe);

enum class SecondChargeStep {
    Stay,     // charging and below completeMax
    Retry,    // never seen charging in this phase
    Complete, // seen charging, and now not charging or at completeMax
};

// CHARGING2: the battery must have taken charge in this phase before it can
// be called charged. chargingSeen belongs to the battery being refreshed;
// it is set here and cleared when a battery begins.
SecondChargeStep DecideSecondCharge(unsigned capacity, DWORD completeMax, bool chargingNow,
                                    bool& chargingSeen);

// The firmware's refresh flags (PSTS bits 1 ADPC and 0 CHGC).
enum class RefreshFlagsState {
    Released,    // both set: no refresh (the firmware has ended it)
    Discharging, // both clear: the discharge runs
    Ended,       // ADPC set, CHGC clear: discharge over, charging held off
    ChgcOnly,    // only CHGC set: not a state of a refresh; wait
};
RefreshFlagsState ClassifyRefreshFlags(DWORD flags);

// On platforms where the firmware does not end the discharge by itself the
// tool ends it at refreshLimit percent; a limit of 100 or more leaves it to
// the firmware.
bool ShouldStopDischarge(DWORD refreshLimit, unsigned capacity);

// ---------------------------------------------------------------------------
// Dispatcher

// What the end of a WM_USER_REFPROC does about errors.
enum class ErrorFollowUp {
    None,         // no error
    RepeatNotice, // an abort armed the repeat: send its notice again
    ErrorTail,    // a phase failed (or failed before): status 7 and notice 7
};
ErrorFollowUp DecideErrorFollowUp(bool errorArmed, int mode, HRESULT result);

} // namespace zbrefresh
