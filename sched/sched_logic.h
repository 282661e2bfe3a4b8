// The scheduler's decisions that need no window: the main screen's switches,
// when a reminder is due, and which reminder a battery has reached.
#pragma once

#include <windows.h>

#include <stddef.h>

namespace zbsched {

// The argument text of zbMain for the RUNMAINDLG_* flags: bit 1 "/sleep",
// bit 2 " /icon", bit 4 " /comp" (flags 3 give "/sleep /icon").
void BuildMainArguments(UINT64 flags, LPWSTR lpszArgs, size_t cchArgs);

// The overdue reminder is repeated at most weekly: due when "Balloon" was
// never stored (bStored false) or 7 days have passed since it.
bool IsBalloonDueAt(bool bStored, const SYSTEMTIME& balloon, const SYSTEMTIME& now);

// A charge-mode reminder stage began nMonths after the last refresh; its
// reminder is due when "ChargeModeRefBalloon" was never stored or was
// stored before the stage began.
bool IsChargeModeRefBalloonDueAt(bool bStored, const SYSTEMTIME& stored, const SYSTEMTIME& last,
                                 int nMonths);

// Where a battery stands since its last refresh (or first use).
enum class ReminderStage {
    kNone,      // refreshed recently enough
    kOneMonth,  // one to two months, batteries in a reduced charge mode only
    kTwoMonths, // two months to "RefreshInterval" months, the same
    kOverdue,   // "RefreshInterval" months or more
};

// bReducedMode: the battery charges in a mode other than full charge, which
// gets the one- and two-month reminders before the overdue one.
ReminderStage GetReminderStage(const SYSTEMTIME& now, const SYSTEMTIME& last,
                               int nRefreshIntervalMonths, bool bReducedMode);

// "RoutineCheckInterval" (milliseconds) as the routine timer uses it: at
// least a second (0 or 1 would wake the scheduler, and read both batteries,
// many times a second) and at most a day (a huge value would leave the
// check to resume and restarts alone).
constexpr DWORD ROUTINE_INTERVAL_MIN_MS = 1000;
constexpr DWORD ROUTINE_INTERVAL_MAX_MS = 24 * 60 * 60 * 1000;
DWORD ClampRoutineCheckInterval(DWORD dwIntervalMs);

// A first-use date the firmware never got (year 0 or 1980, month or day 0).
bool IsStartDayUnset(const SYSTEMTIME& day);

} // namespace zbsched
