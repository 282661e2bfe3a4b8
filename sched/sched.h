// zbSched, the resident scheduler: a hidden window that lives for the
// session, checks the batteries on its routine timer, warns and reminds in
// the notification area (toasts from Windows 8 on), opens the main screen,
// answers pipe 3 and puts back what an interrupted refresh left behind.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "common/notify_icon.h"
#include "ipc/pipe.h"

namespace zbsched {

constexpr UINT ROUTINE_TIMER_ID = 1;
constexpr UINT HELP_TOPIC_SCHED = 10000;
constexpr wchar_t SCHED_MUTEX_NAME[] = L"vadovurMUTEX";
constexpr wchar_t ROUTINE_MUTEX_NAME[] = L"vadovurMUTEXTOAST";

// What the hidden window owns; created with it and freed at WM_NCDESTROY.
struct SchedState {
    HINSTANCE instance = nullptr;
    NOTIFYICONDATAW notif = {};
    CNotifyIconInput iconInput;
    UINT taskbarCreated = 0;
    // The overdue-reminder toast is on screen: it is not shown again.
    bool toastShowing = false;
    // Putting back the user's saved power plan failed in this run: it is
    // tried again on every tick, the error log has it once.
    bool planRestoreFailed = false;
    // One warning dialog per warning type (2 and 3).
    HWND warningDlg[2] = {};
    std::unique_ptr<CPipeToSch> pipe;
};

// The routine check at start-up, on the hidden window.
void StartDaySettingOnStart(HWND hWnd);

// Start-up (zbSched.cpp) -----------------------------------------------------
// Creates the hidden window, which owns the scheduler's state (SchedState);
// null (logged) when it cannot be created.
HWND InitInstance(HINSTANCE hInstance, int nCmdShow);
BOOL SetRoutineCheckTimer(HWND hWnd);
LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Registers the window's class (its name a string of the program); before
// COM and the toast library, so InitInstance finds the class ready.
ATOM RegisterSchedClass(HINSTANCE hInstance);

// Recovery and the main screen (sched_wnd.cpp) ---------------------------------
DWORD StartMain(UINT64 flags);
void CheckRefreshState(HWND hWnd);
void RestorePowerPlanAfterRefresh(HWND hWnd);
// When no refresh tool runs: recorded charge modes back, a firmware refresh
// left on ended, the user's power plan back. Safe to call on every tick.
void RecoverAfterInterruptedRefresh(HWND hWnd);

// Routine check (routine_check.cpp) ------------------------------------------
HRESULT StartDaySetting(HWND hWnd, SchedState& state);
bool IsBalloonDue();
bool IsChargeModeRefBalloonDue(const SYSTEMTIME& last, int nMonths);
DWORD ShowBalloon(HWND hWnd, HWND hTarget, bool bForce, SchedState& state);
void CheckChargeMode();
// The administrator's enforced charge mode ("ChargeMode" policy) written to
// every present battery whose mode differs, unless a refresh tool runs or
// the battery waits for its refresh. Each replacement is traced.
void EnforcePolicyChargeMode();

// Warning dialog (warning_dlg.cpp) --------------------------------------------
bool IsShowWarningDlg(HWND hDlg, int nWarningType, DWORD dwBattNo);
// Opens the dialog of that type for the battery unless it is open or hidden.
void OpenWarningDialog(HWND hWnd, SchedState& state, int nWarningType, DWORD dwBattNo);

} // namespace zbsched
