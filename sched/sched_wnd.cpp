// The scheduler's hidden window: its messages, the tray menu, opening the
// main screen, and what it puts right after a refresh that was cut off.
#include "sched/sched.h"

#include <wtsapi32.h>

#include "battery/refresh_repair.h"
#include "common/handles.h"
#include "common/help.h"
#include "common/log.h"
#include "common/notify_icon.h"
#include "common/powerplan/user_plan.h"
#include "common/settings.h"
#include "common/toast.h"
#include "common/util.h"
#include "common/window_base.h"
#include "common/wrappers.h"
#include "battery/battery.h"
#include "sched/resource.h"
#include "sched/sched_logic.h"

namespace zbsched {

namespace {

constexpr size_t kMainArgsCch = 64;

// The error log's texts are the program's own strings.
HINSTANCE ErrorModule() {
    return GetModuleHandleW(nullptr);
}

void WriteSchedError(UINT uId, DWORD dwCode) {
    WriteErrorLog(uId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, ErrorModule());
}

void StoreNowAsBalloon() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const HRESULT hr = SetRegBalloon(&now);
    if (FAILED(hr))
        WriteLog(L"WndProc", __LINE__, L"Fail to SetRegBalloon(). hr: %08x.", hr);
}

void RemoveIcon(HWND hWnd, SchedState& state) {
    PostNcDestroy(hWnd, &state.notif);
}

void OpenMainAndRemoveIcon(HWND hWnd, SchedState& state) {
    StartMain(0);
    RemoveIcon(hWnd, state);
}

// Tray menu at the cursor; the chosen item comes back as WM_COMMAND.
void ShowTrayMenu(HWND hWnd, HINSTANCE hInstance) {
    POINT pt = {};
    if (!GetCursorPos(&pt))
        return;
    HMENU hMenu = CreatePopupMenu();
    if (!hMenu)
        return;
    const struct {
        UINT command;
        UINT text;
    } items[] = {
        {IDM_OPEN_MAIN, IDS_MENU_OPEN}, {IDM_HELP, IDS_MENU_HELP}, {IDM_EXIT, IDS_MENU_EXIT}};
    for (const auto& item : items) {
        WCHAR szText[100] = {};
        LoadStringW(hInstance, item.text, szText, static_cast<int>(ARRAYSIZE(szText)));
        AppendMenuW(hMenu, MF_STRING, item.command, szText);
    }
    SetForegroundWindow(hWnd);
    TrackPopupMenu(hMenu, TPM_RIGHTALIGN, pt.x, pt.y, 0, hWnd, nullptr);
    DestroyMenu(hMenu);
}

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) {
    if (uMsg == WM_INITDIALOG)
        return TRUE;
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void OpenPipe3(HWND hWnd, SchedState& state) {
    state.pipe.reset(new CPipeToSch());
    if (!state.pipe->Create(hWnd, PIPE3_NAME))
        WriteLog(L"WndProc", __LINE__, L"Fail to create the pipe-3 server.\n");
}

void ClosePipe3(SchedState& state) {
    if (state.pipe)
        state.pipe->Close();
    state.pipe.reset();
}

LRESULT OnCreate(HWND hWnd, SchedState& state) {
    const KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(hWnd);
    GetToastLibrary().InitToastCommonInfo(&info);
    RecoverAfterInterruptedRefresh(hWnd);
    CheckRefreshState(hWnd);
    EnforcePolicyChargeMode();
    OpenPipe3(hWnd, state);
    state.taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    if (!WTSRegisterSessionNotification(hWnd, NOTIFY_FOR_THIS_SESSION))
        LogApiFailure(L"WndProc", __LINE__, L"WTSRegisterSessionNotification", GetLastError());
    return 0;
}

void OnDestroy(HWND hWnd, SchedState& state) {
    if (!IsWindowsXP())
        zb::ShutdownBlockReasonDestroy(hWnd);
    WTSUnRegisterSessionNotification(hWnd);
    RemoveIcon(hWnd, state);
    ClosePipe3(state);
    PostQuitMessage(0);
}

LRESULT OnQueryEndSession(HWND hWnd, SchedState& state, LPARAM lParam) {
    if (IsWindowsXP() || (lParam & ENDSESSION_LOGOFF) ||
        PipeCheckUser(PIPE2_NAME) != PIPE_USER_OTHER)
        return TRUE;
    WCHAR szReason[100] = {};
    LoadStringW(state.instance, IDS_SHUTDOWN_REASON, szReason,
                static_cast<int>(ARRAYSIZE(szReason)));
    zb::ShutdownBlockReasonCreate(hWnd, szReason);
    return FALSE;
}

void OnRoutineTimer(HWND hWnd, SchedState& state, WPARAM timerId) {
    KillTimer(hWnd, timerId);
    if (timerId != ROUTINE_TIMER_ID)
        return;
    // A refresh tool that died while the scheduler runs is put right within
    // one interval, whether or not the day's check is due.
    RecoverAfterInterruptedRefresh(hWnd);
    EnforcePolicyChargeMode();
    DWORD dwDays = 1;
    GetRegRoutineCheckIntervalDays(&dwDays);
    SYSTEMTIME last = {}, now = {};
    GetLocalTime(&now);
    const bool due = FAILED(GetRegLastBatteryStatusCheckTime(&last)) ||
                     IsPassedDay(static_cast<int>(dwDays), &last, &now);
    if (due) {
        const HRESULT hr = StartDaySetting(hWnd, state);
        if (FAILED(hr))
            WriteLog(L"WndProc", __LINE__, L"Fail to StartDaySetting(). hr: %08x.", hr);
        GetLocalTime(&now);
        const HRESULT hrSet = SetRegLastBatteryStatusCheckTime(&now);
        if (FAILED(hrSet))
            WriteLog(L"WndProc", __LINE__, L"Fail to SetRegLastBatteryStatusCheckTime(). hr: %08x.",
                     hrSet);
    }
    if (!SetRoutineCheckTimer(hWnd))
        WriteLog(L"WndProc", __LINE__, L"Fail to SetRoutineCheckTimer.");
}

void OnSessionChange(HWND hWnd, SchedState& state, WPARAM wParam) {
    if (wParam == WTS_CONSOLE_CONNECT) {
        OpenPipe3(hWnd, state);
        CheckRefreshState(hWnd);
    } else if (wParam == WTS_CONSOLE_DISCONNECT) {
        ClosePipe3(state);
    }
}

LRESULT OnCommand(HWND hWnd, SchedState& state, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        DialogBoxParamW(state.instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hWnd, AboutDlgProc, 0);
        return 0;
    case IDM_EXIT:
        RemoveIcon(hWnd, state);
        return 0;
    case IDM_OPEN_MAIN:
        OpenMainAndRemoveIcon(hWnd, state);
        return 0;
    case IDM_HELP:
        OpenHelp(GetDesktopWindow(), HELP_TOPIC_SCHED);
        return 0;
    default:
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

void OnIconEvent(HWND hWnd, SchedState& state, UINT uMsg, LPARAM lParam) {
    switch (state.iconInput.Decode(lParam)) {
    case NotifyIconAction::kOpen:
        OpenMainAndRemoveIcon(hWnd, state);
        break;
    case NotifyIconAction::kBalloonClicked:
        if (uMsg == WM_NOTIFYICON)
            StoreNowAsBalloon();
        OpenMainAndRemoveIcon(hWnd, state);
        break;
    case NotifyIconAction::kBalloonTimedOut:
        if (uMsg == WM_NOTIFYICON)
            StoreNowAsBalloon();
        break;
    case NotifyIconAction::kMenu:
        ShowTrayMenu(hWnd, state.instance);
        break;
    default:
        break;
    }
}

void OnResetChargeMode() {
    SetEveryChargeModeFull([](UINT /*uiBattNo*/, HRESULT hr) {
        WriteSchedError(IDS_ERR_RESET_CHARGEMODE, static_cast<DWORD>(hr));
    });
}

bool IsReminderToast(WPARAM kind) {
    return kind == 4 || kind == 5 || kind == 6;
}

void SwitchToDesktopLogged(HWND hWnd) {
    const HRESULT hr = GetToastLibrary().SwitchToDesktop(hWnd);
    if (FAILED(hr))
        WriteLog(L"WndProc", __LINE__, L"Failed to KX_NTF_SwitchToDT. hr: %08x.\n", hr);
}

void OnToastActivated(HWND hWnd, SchedState& state, WPARAM kind) {
    if (kind == 2 || kind == 3) {
        SwitchToDesktopLogged(hWnd);
    } else if (IsReminderToast(kind)) {
        SwitchToDesktopLogged(hWnd);
        StoreNowAsBalloon();
        OpenMainAndRemoveIcon(hWnd, state);
    } else if (kind == 9) {
        SwitchToDesktopLogged(hWnd);
        OpenMainAndRemoveIcon(hWnd, state);
    }
}

void ClearToastShowing(SchedState& state) {
    state.toastShowing = false;
    WriteLog(L"WndProc", __LINE__, L"clear bToastShowing...........");
}

} // namespace

DWORD StartMain(UINT64 flags) {
    WCHAR szArgs[kMainArgsCch] = {};
    BuildMainArguments(flags, szArgs, ARRAYSIZE(szArgs));
    const DWORD rc = CurrentModuleExe(MAIN_EXE_NAME, szArgs, SW_SHOWNORMAL);
    if (rc != 0)
        WriteSchedError(IDS_ERR_START_MAIN, rc);
    return rc;
}

void RecoverAfterInterruptedRefresh(HWND hWnd) {
    if (IsRefreshToolRunning())
        return;
    RepairAfterInterruptedRefresh();
    RestorePowerPlanAfterRefresh(hWnd);
}

void CheckRefreshState(HWND /*hWnd*/) {
    const int pipeUser = PipeCheckUser(PIPE2_NAME);
    if (pipeUser != PIPE_USER_SAME) {
        DWORD dwStatus = 0;
        if (SUCCEEDED(GetRegLastRefreshStatus(&dwStatus)))
            StartMain(RUNMAINDLG_COMP);
        // Another user's refresh holds its other battery at the no-charge
        // mode on purpose: only a mode that no running refresh holds is a
        // leftover to put back.
        else if (pipeUser == PIPE_USER_NONE && !RefreshToolMutexExists())
            CheckChargeMode();
        else
            WriteLog(L"CheckRefreshState", __LINE__,
                     L"A refresh tool runs: charge modes left as they are.\n");
        return;
    }
    CPipe pipe;
    if (!pipe.PipeRetry(PIPE2_NAME, 50, 5))
        return;
    PipeRecord request = {};
    request.message = WM_USER_REFQUERY;
    PipeRecord reply = {};
    if (pipe.Send(&request, sizeof(request)) != static_cast<int>(sizeof(request)) ||
        pipe.Receive(&reply, sizeof(reply)) != static_cast<int>(sizeof(reply)))
        return;
    StartMain((reply.wparam & 1) ? (RUNMAINDLG_ICON | RUNMAINDLG_SLEEP) : RUNMAINDLG_ICON);
}

void RestorePowerPlanAfterRefresh(HWND hWnd) {
    if (PipeCheckUser(PIPE2_NAME) != PIPE_USER_NONE)
        return;
    SchedState* state = hWnd ? zb::WindowState<SchedState>(hWnd) : nullptr;
    // What a refresh that died left behind. The user's plan (or XP scheme)
    // that cannot be made active again keeps its record, and the refresh
    // plan stays the active one: the next tick or start tries again, and the
    // error log gets the failure once per run.
    zbpower::UserPlanRestore how;
    how.textModule = ErrorModule();
    how.vista = {IDS_ERR_POWER_PLAN, 0, IDS_ERR_USER_PLAN_DELETE, 0};
    how.xp = {IDS_ERR_POWER_PLAN, 0, IDS_ERR_USER_PLAN_DELETE, IDS_ERR_REFRESH_PLAN_DELETE};
    how.keepRefreshPlanOnFailure = true;
    how.failureLogged = state ? &state->planRestoreFailed : nullptr;
    how.deleteLeftoverSchemeXP = true;
    how.foundTrace = L"A refresh ended without giving the user's power plan back; restoring it.\n";
    zbpower::RestoreUserPowerPlan(how);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    SchedState* state = zb::WindowState<SchedState>(hWnd);
    if (!state)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    switch (uMsg) {
    case WM_CREATE:
        return OnCreate(hWnd, *state);
    case WM_DESTROY:
        OnDestroy(hWnd, *state);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_QUERYENDSESSION:
        return OnQueryEndSession(hWnd, *state, lParam);
    case WM_ENDSESSION:
        if (lParam == 0)
            WriteLog(L"WndProc", __LINE__,
                     L"再起動またはシャットダウンによる、zbSched.exe 常駐終了\n");
        return 0;
    case WM_TIMER:
        OnRoutineTimer(hWnd, *state, wParam);
        return 0;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMESUSPEND)
            StartDaySetting(hWnd, *state);
        return 0;
    case WM_WTSSESSION_CHANGE:
        OnSessionChange(hWnd, *state, wParam);
        return 0;
    case WM_COMMAND:
        return OnCommand(hWnd, *state, uMsg, wParam, lParam);
    case WM_NOTIFYICON:
    case WM_NOTIFYICON_CAUTION:
        OnIconEvent(hWnd, *state, uMsg, lParam);
        return 0;
    case WM_USER_RUNMAINDLG:
        RemoveIcon(hWnd, *state);
        StartMain(static_cast<UINT64>(wParam));
        return 0;
    case WM_USER_RESETCHARGEMODE:
        OnResetChargeMode();
        return 0;
    case TOAST_MSG_ACTIVATED:
        OnToastActivated(hWnd, *state, wParam);
        return 0;
    case TOAST_MSG_TIMEDOUT:
        if (IsReminderToast(wParam)) {
            ClearToastShowing(*state);
            StoreNowAsBalloon();
        }
        return 0;
    case TOAST_MSG_DISMISSED:
        ClearToastShowing(*state);
        return 0;
    case TOAST_MSG_SHOWN:
    case TOAST_MSG_FAILED:
        return 0;
    default:
        if (uMsg == state->taskbarCreated && uMsg != 0)
            StartDaySetting(hWnd, *state);
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

} // namespace zbsched
