#include "refresh/refresh_wnd.h"

#include <memory>

#include "battery/battery.h"
#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "common/window_base.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"
#include "refresh/battery_select.h"
#include "refresh/brightness.h"
#include "refresh/phases.h"
#include "refresh/power_plan.h"
#include "refresh/power_scheme_xp.h"
#include "refresh/refresh_state.h"
#include "refresh/resource.h"

namespace zbrefresh {

namespace {

// Data of a GUID_ACDC_POWER_SOURCE notification: the machine runs on battery.
constexpr BYTE kPowerSourceDc = 1;

constexpr DWORD kDestroyPauseMs = 10;

// Timer 1's period when no phase has asked for an earlier look.
constexpr UINT kFirstLookMs = 60000;

HINSTANCE Instance() {
    return GetRefreshStartup().instance;
}

void LogRefreshError(UINT uMessageId, DWORD dwCode) {
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, Instance());
}

void Tick(HWND hWnd) {
    SendMessageW(hWnd, WM_USER_REFPROC, 0, 0);
}

// An abort from a power event: the progress-log line, then the report.
void Abort(HWND hWnd, RefreshWindowState& state, LPCWSTR lpszReason, LONG status, bool bArm) {
    if (!IsAbortNews(state.phase, status))
        return;
    WriteProgressLog(state.phase.live.battery, kProgressAborted, lpszReason);
    ReportRefreshAbort(hWnd, state.pipeDlg.get(), &state.phase, status, bArm);
}

void SendPowerPlanNotice(RefreshWindowState& state) {
    if (!state.powerPlanNoticeArmed)
        return;
    state.powerPlanNoticeArmed = false;
    state.pipeDlg->SendAll(WM_USER_REFPOWERPLAN, 0, state.phase.live.battery);
}

// ---------------------------------------------------------------------------
// Creation

// XP: the refresh power scheme and display brightness, and the watcher that
// reports when somebody changes the power configuration. False when the
// watcher cannot start.
bool PrepareMachineXP(HWND hWnd, RefreshWindowState& state) {
    WriteLog(L"WndProc", __LINE__, L"リフレッシュ用電源設定を設定します\n");
    ApplyRefreshPowerSchemeXP(hWnd);
    WriteLog(L"WndProc", __LINE__, L"リフレッシュ時の輝度に設定します。\n");
    BYTE level = 0;
    if (!state.brightness.GetRefreshBrightnessValue(&level)) {
        LogRefreshError(IDS_ERR_BRIGHTNESS_GET, 0);
    } else if (!state.brightness.StoreBrightness()) {
        LogRefreshError(IDS_ERR_BRIGHTNESS_SET, 0);
    } else {
        state.brightness.SetBrightness(level, level);
    }
    return StartPowerSchemeNotifyThread(hWnd) != FALSE;
}

void RegisterPowerNotifications(HWND hWnd, RefreshWindowState& state) {
    state.battPercentNotify = zb::RegisterPowerSettingNotification(
        hWnd, &GUID_BATTERY_PERCENTAGE_REMAINING, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!state.battPercentNotify)
        WriteLog(L"WndProc", __LINE__, L"hBattPer is NULL\n");
    state.acdcNotify = zb::RegisterPowerSettingNotification(hWnd, &GUID_ACDC_POWER_SOURCE,
                                                            DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!state.acdcNotify)
        WriteLog(L"WndProc", __LINE__, L"hACDC is NULL\n");
    state.activeSchemeNotify = zb::RegisterPowerSettingNotification(hWnd, &GUID_ACTIVE_POWERSCHEME,
                                                                    DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!state.activeSchemeNotify)
        WriteLog(L"WndProc", __LINE__, L"hActive is NULL\n");
}

void UnregisterPowerNotifications(RefreshWindowState& state) {
    for (HPOWERNOTIFY* pNotify :
         {&state.battPercentNotify, &state.acdcNotify, &state.activeSchemeNotify}) {
        if (*pNotify)
            zb::UnregisterPowerSettingNotification(*pNotify);
        *pNotify = nullptr;
    }
}

// XP has no battery-percentage notification: the first CHARGING1 tick is
// sent here, and timer 2 watches the percentage from now on.
void StartBatteryWatchXP(HWND hWnd, RefreshWindowState& state) {
    const BYTE percent = state.phase.battery->GetStandardRemainingPercent();
    WriteLog(L"WndProc", __LINE__, L"充電状態を確認します。 per=%d\n", percent);
    state.phase.capacity = percent == 255 ? 0 : percent;
    Tick(hWnd);
    WriteLog(L"WndProc", __LINE__, L"充電状態監視タイマーの開始\n");
    if (!SetTimer(hWnd, REFRESH_TIMER_WATCH, GetRegWaitWatchBatteryStatusTime(), nullptr))
        LogApiFailure(L"WndProc", __LINE__, L"SetTimer", GetLastError());
}

LRESULT OnCreate(HWND hWnd, RefreshWindowState& state) {
    WriteLog(L"WndProc", __LINE__, L"WM_CREATE\n");
    RefreshQueue* pQueue = state.queue;
    if (!pQueue || pQueue->empty()) {
        SendMessageW(hWnd, WM_CLOSE, 0, 0);
        return 1;
    }

    const bool xp = IsWindowsXP() != FALSE;
    RefreshPhaseState& phase = state.phase;
    state.sleepSwitch = GetRefreshStartup().switchSleep;
    state.phase.live.sleep = state.sleepSwitch ? 1 : 0;
    phase.battery = pQueue->front();
    phase.live.mode = REFRESH_MODE_CHARGING1;
    phase.live.battery = phase.battery->GetBattNo();
    phase.chargingSeen = false;
    phase.suspended = false;
    state.powerPlanNoticeArmed = true;

    if (!PrepareBatteryChargeModes(hWnd, &phase, L""))
        return 1;

    if (!xp) {
        WriteLog(L"WndProc", __LINE__, L"StorePowerPlan\n");
        StorePowerPlan(hWnd, &state.refreshPlan);
    } else if (GetRegLimited() == 0) {
        if (!PrepareMachineXP(hWnd, state)) {
            SendMessageW(hWnd, WM_CLOSE, 0, 0);
            return 1;
        }
    }

    if (!xp) {
        RegisterPowerNotifications(hWnd, state);
        // The first battery-percentage notification starts CHARGING1; should
        // it be missed, timer 1 does within a minute.
        if (!SetTimer(hWnd, REFRESH_TIMER_TICK, kFirstLookMs, nullptr))
            LogApiFailure(L"WndProc", __LINE__, L"SetTimer", GetLastError());
    } else {
        StartBatteryWatchXP(hWnd, state);
    }

    WriteLog(L"WndProc", __LINE__, L"%sのバッテリリフレッシュを開始します。\n",
             phase.battery->GetBattName());
    WriteLog(L"WndProc", __LINE__, L"初回充電開始\n");
    DeleteProgressLog(phase.live.battery);
    WriteProgressLog(phase.live.battery, kProgressStart);
    ReportRefreshStarted(phase.battery, &phase.events);
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);

    if (!xp) {
        WCHAR szReason[LOG_RESOURCE_CCH] = {};
        LoadStringW(Instance(), IDS_SHUTDOWN_REASON, szReason, ARRAYSIZE(szReason));
        if (!zb::ShutdownBlockReasonCreate(hWnd, szReason))
            LogApiFailure(L"WndProc", __LINE__, L"ShutdownBlockReasonCreate", GetLastError());
    }

    // Each waits a while for a first client; a refresh runs without one.
    state.pipeDlg->Create(PIPE1_NAME);
    state.pipeRef.Create(hWnd, PIPE2_NAME, &phase.live);
    return 0;
}

// ---------------------------------------------------------------------------
// Power events

void OnPowerStatusChange(HWND hWnd, RefreshWindowState& state) {
    CBattery* pBattery = state.phase.battery;
    if (!pBattery)
        return;
    SYSTEM_POWER_STATUS sps = {};
    if (!GetPowerStatusDoubleCheck(&sps, pBattery)) {
        WriteLog(L"WndProc", __LINE__, L"電源状態取得に失敗しました。リフレッシュを中止します\n");
        Abort(hWnd, state, L"Invalid Power Status.", REFRESH_STATUS_FAILED, true);
        return;
    }
    if (sps.BatteryFlag == BATTERY_FLAG_UNKNOWN) {
        WriteLog(L"WndProc", __LINE__,
                 L"バッテリのステータスが不明です。リフレッシュを中止します\n");
        Abort(hWnd, state, L"Invalid Battery Status.", REFRESH_STATUS_FAILED, true);
        return;
    }
    if (sps.BatteryFlag & BATTERY_FLAG_NO_BATTERY) {
        LogPowerStatusFields(L"WndProc", __LINE__,
                             L"バッテリが外されました。リフレッシュを中止します ", sps);
        // Not armed: a later phase failure still reports itself.
        const LONG status = state.phase.chargeModeReleased ? REFRESH_STATUS_RELEASED_BATTERY_REMOVED
                                                           : REFRESH_STATUS_BATTERY_REMOVED;
        Abort(hWnd, state, L"Unplugged the battery.", status, false);
        return;
    }
    if (!(sps.BatteryFlag & BATTERY_FLAG_CHARGING)) {
        WriteLog(L"WndProc", __LINE__, L"バッテリの状態が変化 ACLineStatus=%x\n", sps.ACLineStatus);
        if (sps.ACLineStatus == AC_LINE_ONLINE)
            Tick(hWnd);
    }
    // Later systems report the unplugging through GUID_ACDC_POWER_SOURCE.
    if (IsWindowsXP() && sps.ACLineStatus == AC_LINE_OFFLINE) {
        WriteLog(L"WndProc", __LINE__, L"DCに切り替わりました。リフレッシュを中止します\n");
        Abort(hWnd, state, L"The AC adapter has been unpluged.", REFRESH_STATUS_AC_UNPLUGGED, true);
    }
}

void OnPowerSettingChange(HWND hWnd, RefreshWindowState& state,
                          const POWERBROADCAST_SETTING* pSetting) {
    if (IsEqualGUID(pSetting->PowerSetting, GUID_BATTERY_PERCENTAGE_REMAINING)) {
        // The notification's own figure is the system's; the phases want
        // this battery's.
        if (state.phase.battery)
            state.phase.capacity = state.phase.battery->GetRemainingPercent();
        Tick(hWnd);
    } else if (IsEqualGUID(pSetting->PowerSetting, GUID_ACDC_POWER_SOURCE)) {
        if (pSetting->DataLength >= 1 && pSetting->Data[0] == kPowerSourceDc) {
            WriteLog(L"WndProc", __LINE__, L"DCに切り替わりました。リフレッシュを中止します\n");
            Abort(hWnd, state, L"Unplugged the AC adapter.", REFRESH_STATUS_AC_UNPLUGGED, true);
        }
    } else if (IsEqualGUID(pSetting->PowerSetting, GUID_ACTIVE_POWERSCHEME)) {
        if (IsRefreshPlanReplaced(state.refreshPlan))
            SendPowerPlanNotice(state);
    }
}

void OnPowerBroadcast(HWND hWnd, RefreshWindowState& state, WPARAM event, LPARAM lParam) {
    WriteLog(L"WndProc", __LINE__, L"WM_POWERBROADCAST wParam=%x\n", static_cast<UINT>(event));
    LogPowerState(state.phase.battery, L"WndProc", __LINE__);
    switch (event) {
    case PBT_APMPOWERSTATUSCHANGE:
        OnPowerStatusChange(hWnd, state);
        break;
    case PBT_APMSUSPEND: {
        // A sleep while charging does not hurt; one while discharging or
        // cooling down spoils the measurement.
        const LONG mode = state.phase.live.mode;
        if (mode != REFRESH_MODE_CHARGING1 && mode != REFRESH_MODE_CHARGING2) {
            WriteLog(L"WndProc", __LINE__, L"S3/S4に移行しました。\n");
            state.phase.suspended = true;
        }
        break;
    }
    case PBT_APMRESUMESUSPEND:
        WriteLog(L"WndProc", __LINE__, L"S3/S4から復帰しました。\n");
        if (state.phase.suspended) {
            WriteLog(L"WndProc", __LINE__, L"リフレッシュを中止します。\n");
            Abort(hWnd, state, L"Resumed.", REFRESH_STATUS_RESUMED, true);
        }
        break;
    case PBT_POWERSETTINGCHANGE:
        if (!IsWindowsXP() && lParam != 0)
            OnPowerSettingChange(hWnd, state,
                                 reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Timers and requests

void OnBatteryWatchTimerXP(HWND hWnd, RefreshWindowState& state) {
    if (!state.phase.battery)
        return;
    const BYTE percent = state.phase.battery->GetStandardRemainingPercent();
    WriteLog(L"WndProc", __LINE__, L"充電状態を確認します。 per=%d\n", percent);
    if (percent == 255 || percent == state.phase.capacity)
        return;
    WriteLog(L"WndProc", __LINE__, L"充電状態変化通知");
    state.phase.capacity = percent;
    Tick(hWnd);
}

void OnTimer(HWND hWnd, RefreshWindowState& state, UINT_PTR id) {
    if (id == REFRESH_TIMER_CLOSE) {
        WriteLog(L"WndProc", __LINE__, L"WM_USER_REFERROR message timeout.");
        KillTimer(hWnd, REFRESH_TIMER_CLOSE);
        state.phase.closeTimerRunning = false;
        SendMessageW(hWnd, WM_CLOSE, 0, 0);
        return;
    }
    if (id == REFRESH_TIMER_WATCH && IsWindowsXP()) {
        OnBatteryWatchTimerXP(hWnd, state);
        return;
    }
    // Timer 1 is a one-shot: the phase arms it again when it wants a look.
    KillTimer(hWnd, id);
    Tick(hWnd);
}

// The main screen asks to put the refresh power settings back.
void OnPowerPlanRequest(RefreshWindowState& state) {
    state.powerPlanNoticeArmed = true;
    if (!IsWindowsXP()) {
        const DWORD result = ActivateRefreshPlan(state.refreshPlan);
        if (result != 0)
            LogRefreshError(IDS_ERR_POWER_PLAN, result);
        return;
    }
    WriteLog(L"WndProc", __LINE__, L"リフレッシュ時の輝度に設定します。\n");
    BYTE level = 0;
    if (state.brightness.GetRefreshBrightnessValue(&level))
        state.brightness.SetBrightness(level, level);
    else
        LogRefreshError(IDS_ERR_BRIGHTNESS_GET, 0);
    const DWORD result = ActivateRefreshPowerSchemeXP();
    if (result != 0)
        LogRefreshError(IDS_ERR_POWER_PLAN, result);
}

void OnPowerConfigChanged(RefreshWindowState& state) {
    if (!IsWindowsXP())
        return;
    WriteLog(L"WndProc", __LINE__, L"電源設定変更通知を送信します。\n");
    SendPowerPlanNotice(state);
}

// ---------------------------------------------------------------------------
// Clean-up: the battery, the other battery, the power plan, the brightness.

void OnRefreshEnd(HWND hWnd, RefreshWindowState& state) {
    // WM_ENDSESSION and WM_DESTROY may both ask; the first does the work, a
    // second would only find its own traces gone and log false errors.
    if (state.cleanedUp)
        return;
    state.cleanedUp = true;

    const bool xp = IsWindowsXP() != FALSE;
    RefreshPhaseState& phase = state.phase;
    WriteLog(L"WndProc", __LINE__, L"リフレッシュ終了処理を行います。\n");
    // Closed in the middle of a refresh that neither completed nor aborted.
    RecordRefreshEnd(&phase, REFRESH_STATUS_STOPPED);
    if (phase.battery) {
        const DWORD stage = EndRefresh(phase.battery);
        if (stage != 0)
            LogRefreshError(IDS_ERR_REFRESH_END, stage);
        if (phase.chargeModeReleased) {
            WriteLog(L"WndProc", __LINE__, L"充電モードを元に戻します。\n");
            if (FAILED(phase.battery->AslMethodWBCL(
                    ChargeModeToGiveBack(phase.live.battery, phase.savedChargeMode))))
                LogRefreshError(IDS_ERR_CHARGE_MODE_SET, GetLastError());
            else
                ForgetOriginalChargeMode(phase.live.battery);
        }
        StopChargeOtherBattery(phase.battery, FALSE);
        ReportRefreshEnded(phase.battery, &phase.events, phase.aborted, phase.abortStatus);
    } else {
        WriteLog(L"WndProc", __LINE__, L"pBattery is NULL.");
    }

    if (!xp) {
        RestorePowerPlan(hWnd, &state.refreshPlan);
    } else if (GetRegLimited() == 0) {
        EndPowerSchemeNotifyThread();
        state.brightness.RestoreBrightness();
        WriteLog(L"WndProc", __LINE__, L"電源設定を戻します\n");
        RestorePowerSchemeXP(hWnd);
    }

    KillTimer(hWnd, REFRESH_TIMER_TICK);
    KillTimer(hWnd, REFRESH_TIMER_CLOSE);
    phase.closeTimerRunning = false;
    if (!xp) {
        zb::ShutdownBlockReasonDestroy(hWnd);
    }
    // Every main screen sees its pipe end now, not only when the process
    // does; later notices (after WM_ENDSESSION) go to an idle endpoint.
    state.pipeDlg->Close();
    state.pipeDlg = std::make_unique<CPipeToDlg>();
    SetThreadExecutionState(ES_CONTINUOUS);
    if (xp)
        KillTimer(hWnd, REFRESH_TIMER_WATCH);
    else
        UnregisterPowerNotifications(state);
}

// ---------------------------------------------------------------------------
// The rest of the window

void OnDestroy(HWND hWnd) {
    Sleep(kDestroyPauseMs);
    WriteLog(L"WndProc", __LINE__, L"WM_DESTROY\n");
    SendMessageW(hWnd, WM_USER_REFEND, 0, 0);
    PostQuitMessage(0);
}

void OnPaint(HWND hWnd) {
    PAINTSTRUCT ps;
    BeginPaint(hWnd, &ps);
    EndPaint(hWnd, &ps);
}

LRESULT OnQueryEndSession() {
    WriteLog(L"WndProc", __LINE__, L"WM_QUERYENDSESSION\n");
    // From Vista on the shutdown is held, and the user sees the block
    // reason; XP cannot say why, so it lets the session end and the
    // clean-up runs from WM_ENDSESSION.
    return IsWindowsXP() ? TRUE : FALSE;
}

void OnEndSession(HWND hWnd, WPARAM wParam) {
    WriteLog(L"WndProc", __LINE__, L"WM_ENDSESSION wParam=%x\n", static_cast<UINT>(wParam));
    if (wParam == TRUE)
        SendMessageW(hWnd, WM_USER_REFEND, 0, 0);
}

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    UNREFERENCED_PARAMETER(lParam);
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

bool OnCommand(HWND hWnd, WORD command) {
    switch (command) {
    case IDM_ABOUT:
        DialogBoxW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), hWnd, AboutDlgProc);
        return true;
    case IDM_EXIT:
        DestroyWindow(hWnd);
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Null before WM_NCCREATE and after WM_NCDESTROY, when the class
    // procedure has freed the state.
    RefreshWindowState* pState = zb::WindowState<RefreshWindowState>(hWnd);
    if (!pState)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    RefreshWindowState& state = *pState;

    // Once the clean-up has begun the refresh is over: power events that
    // other threads send while it waits (closing pipes, firmware pauses)
    // must not run a phase tick, which would find the refresh it has just
    // switched off and report an error, or complete a battery twice.
    // Nor may a re-apply request of the main screen or the XP watcher's
    // notice put the refresh plan or brightness back after it was given
    // back.
    if (state.cleanedUp &&
        (message == WM_POWERBROADCAST || message == WM_TIMER || message == WM_USER_REFPROC ||
         message == WM_USER_REFPOWERPLAN || message == WM_USER_POWERCFGCHANGED))
        return message == WM_POWERBROADCAST ? TRUE : 0;

    switch (message) {
    case WM_CREATE:
        return OnCreate(hWnd, state);
    case WM_DESTROY:
        OnDestroy(hWnd);
        return 0;
    case WM_PAINT:
        OnPaint(hWnd);
        return 0;
    case WM_QUERYENDSESSION:
        return OnQueryEndSession();
    case WM_ENDSESSION:
        OnEndSession(hWnd, wParam);
        return 0;
    case WM_COMMAND:
        if (OnCommand(hWnd, LOWORD(wParam)))
            return 0;
        break;
    case WM_TIMER:
        OnTimer(hWnd, state, wParam);
        return 0;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(hWnd, state, wParam, lParam);
        return TRUE;
    case WM_USER_REFERROR:
        // The main screen's answer to an error notice. Without a notice
        // there is nothing to answer: a stray one must not end a healthy
        // refresh.
        if (!state.phase.aborted) {
            WriteLog(L"WndProc", __LINE__, L"WM_USER_REFERROR without an error; ignored.");
            return 0;
        }
        WriteLog(L"WndProc", __LINE__, L"Refresh error occured. Close zbRefresh.exe.");
        SendMessageW(hWnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_USER_REFPOWERPLAN:
        OnPowerPlanRequest(state);
        return 0;
    case WM_USER_REFQUERY:
        // Bit 0: started with "/sleep" (the scheduler then opens the main
        // screen with "/sleep" too).
        return state.sleepSwitch ? 1 : 0;
    case WM_USER_REFPROC:
        RunRefreshPhases(hWnd, state.queue, state.pipeDlg.get(), &state.phase);
        return 0;
    case WM_USER_REFEND:
        OnRefreshEnd(hWnd, state);
        return 0;
    case WM_USER_POWERCFGCHANGED:
        OnPowerConfigChanged(state);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

} // namespace

ATOM RegisterRefreshWindowClass(HINSTANCE hInstance, const wchar_t* className) {
    const ATOM atom = zb::RegisterAppWindowClass(
        hInstance, className, zb::StateWindowProc<RefreshWindowState, WndProc>, IDI_ZBREFRESH,
        IDI_SMALL, MAKEINTRESOURCEW(IDC_ZBREFRESH));
    if (!atom)
        LogApiFailure(L"RegisterRefreshWindowClass", __LINE__, L"RegisterClassExW", GetLastError());
    return atom;
}

HWND CreateRefreshWindow(HINSTANCE hInstance, LPCWSTR className, LPCWSTR title,
                         RefreshQueue* pQueue) {
    auto state = std::make_unique<RefreshWindowState>();
    state->queue = pQueue;
    return zb::CreateWindowWithState(std::move(state), 0, className, title, WS_OVERLAPPEDWINDOW,
                                     CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr,
                                     hInstance);
}

} // namespace zbrefresh
