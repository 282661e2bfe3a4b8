// The refresh phase machine. One battery at a time goes through
//   CHARGING1 -> REFRESHING -> COOLDOWN1 -> COOLDOWN2 -> CHARGING2 -> done
// and then the next battery of the queue begins. The machine is driven by
// WM_USER_REFPROC, which the refresh window sends to itself on timer ticks
// and power events; each message runs the current phase's handler once (and
// the next phase's first tick at once when a handler advances).
//
// Everything here runs on the refresh window's thread.
#pragma once

#include <windows.h>

#include "refresh/refresh_state.h"
#include "refresh/refresh_tool.h"

class CBattery;
class CPipeToDlg;

namespace zbrefresh {

// Fixed texts of the progress log, spaces included (people and support
// tools line the columns up by them).
constexpr wchar_t kProgressStart[] = L"START!";
constexpr wchar_t kProgressCompleted[] = L"COMPLETED!";
constexpr wchar_t kProgressInformation[] = L"INFORMATION %s";
constexpr wchar_t kProgressError[] = L"ERROR       %s";
constexpr wchar_t kProgressAborted[] = L"ABORTED!    %s";

// Outcome of a refresh run, stored as "LastRefreshStatus" and carried by the
// error notice.
constexpr LONG REFRESH_STATUS_COMPLETED = 0;
constexpr LONG REFRESH_STATUS_BATTERY_REMOVED = 3;
constexpr LONG REFRESH_STATUS_RELEASED_BATTERY_REMOVED = 4; // its charge mode was released
constexpr LONG REFRESH_STATUS_AC_UNPLUGGED = 5;
constexpr LONG REFRESH_STATUS_RESUMED = 6; // slept while discharging or cooling down
constexpr LONG REFRESH_STATUS_FAILED = 7;  // unreadable state, or a phase failed
// Only in the battery history, never stored: the tool was closed during a
// refresh without an abort (the main screen's stop, a shutdown).
constexpr LONG REFRESH_STATUS_STOPPED = 8;

// ---------------------------------------------------------------------------
// Phase handlers. Each marks the mode -1 first and returns E_POINTER with
// it left there when the battery, the broadcaster or the state is missing;
// otherwise it puts the mode back and does its work. A negative result (or
// the mode left at -1) makes the dispatcher run the error tail.

// CHARGING1: charge until full, then switch the firmware's refresh on.
HRESULT ProcFirstCHGC(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState);
// REFRESHING: wait for the discharge to end (or end it at RefreshLimit).
HRESULT ProcRefresh(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState);
// COOLDOWN1: rest for RefreshCoolDownTime minutes.
HRESULT ProcCoolDown1(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState);
// COOLDOWN2: rest until cool or RefreshCoolDownLimit minutes, then switch the
// refresh off and give the battery its charge mode back.
HRESULT ProcCoolDown2(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState);
// CHARGING2: charge again until the battery stops charging.
HRESULT ProcSecondCHGC(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState);
// A battery is done: record its refresh date; after the last one (bFinish)
// store the outcome, maybe suspend, and close the window.
HRESULT ProcComplete(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState,
                     bool bFinish);

// One WM_USER_REFPROC: runs the current phase (and the ones it advances
// into), completes batteries and begins the next, and ends with the error
// tail when something failed.
void RunRefreshPhases(HWND hWnd, RefreshQueue* pQueue, CPipeToDlg* pPipe,
                      RefreshPhaseState* pState);

// ---------------------------------------------------------------------------
// Pieces the refresh window shares with the phases.

// Trace of the battery's power status and refresh flags, under the caller's
// name and line; only while the tool's trace switch is on. Changes nothing.
void LogPowerState(CBattery* pBattery, LPCWSTR lpszFunction, int nLine);

// Trace of a power status record's fields, after lpszPrefix.
void LogPowerStatusFields(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszPrefix,
                          const SYSTEM_POWER_STATUS& status);

// Takes the battery's charge mode as it begins: a reduced level is released
// to 0 (full charge) and remembered for the restore, a marked one is left
// alone; then the other battery is held off charging. Trace lines carry
// lpszTracePrefix. False when releasing failed: the error is logged and the
// window has been sent WM_CLOSE.
bool PrepareBatteryChargeModes(HWND hWnd, RefreshPhaseState* pState, LPCWSTR lpszTracePrefix);

// Switches the firmware's refresh off (ADPC 1, pause, CHGC 1).
// 0 on success, 2 when ADPC failed (CHGC is then not tried), 1 when CHGC failed.
DWORD EndRefresh(CBattery* pBattery);

// The battery history's rows of a refresh. The start row is written when
// the discharge begins; the end row once after it, with the status unless
// the refresh completed. A row that cannot be written is logged; the
// refresh goes on.
void RecordRefreshStart(RefreshPhaseState* pState);
void RecordRefreshEnd(RefreshPhaseState* pState, LONG status);

// Starts the close timer (timer 3), unless it already runs: the window
// closes at most REFRESH_CLOSE_TIMEOUT_MS after the first error, however
// often the error is repeated.
void StartCloseTimer(HWND hWnd, RefreshPhaseState* pState);

// False when an abort was reported already and this one must not replace
// it: the first stands, except that a phase failure (7) gives way once to
// a specific abort seen after it.
bool IsAbortNews(const RefreshPhaseState& state, LONG status);

// Reports an abort, unless IsAbortNews says no: stores the status (unless a
// scheduler of this user will do so), sends the error notice on pipe 1,
// arms the repeat when bArm, and starts the close timer.
void ReportRefreshAbort(HWND hWnd, CPipeToDlg* pPipe, RefreshPhaseState* pState, LONG status,
                        bool bArm);

// Index of a battery number in the per-battery tables: 1 -> 0, else 1.
inline size_t BatteryIndex(DWORD battNo) {
    return battNo == 1 ? 0 : 1;
}

} // namespace zbrefresh
