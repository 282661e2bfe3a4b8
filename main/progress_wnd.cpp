// The main screen's refresh progress window (the refresh tool's own hidden
// window is refresh/refresh_wnd.cpp): starts the refresh tool the person
// confirmed, or follows one that runs; follows it over the pipes (pipe 1
// brings every notice, pipe 2 answers the first query and takes the abort),
// shows the three animated steps and the percentage, sits in the
// notification area on request, and at the end hands over to the
// completion window.
//
// Everything runs on the user-interface thread: the listening pipe client
// posts each record to the refresh dialog.
#include "main/main_app.h"

#include "common/handles.h"
#include "common/help.h"
#include "common/log.h"
#include "common/notify_icon.h"
#include "common/settings.h"
#include "common/toast.h"
#include "common/window_base.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"
#include "main/message_box.h"
#include "main/program_ids.h"

#include <strsafe.h>

#include <memory>

namespace zbmain {

namespace {

constexpr UINT_PTR TIMER_LISTEN = 1;
constexpr UINT_PTR TIMER_QUERY = 2;
constexpr UINT_PTR TIMER_ANIMATE = 3;
constexpr UINT kTimerMs = 1000;

constexpr WORD IDM_TRAY_ABORT = 0x8006;
constexpr WORD IDM_TRAY_BACK = 0x8007;
constexpr DWORD kRefreshHelpTopic = 10131;
constexpr int kModeBeforeReport = 6;
constexpr int kModeDone = 5;

// The abort's pipe-2 retry: the tool may be busy for a while.
constexpr DWORD kAbortRetryPauseMs = 200;
constexpr DWORD kAbortRetryAttempts = 100;
// The tool's own clean-up after WM_CLOSE takes well under this; a tool that
// hangs must not freeze the main screen.
constexpr DWORD kAbortWaitMs = 60000;

// The step pictures, in the order of their table indexes 0 to 11.
constexpr UINT kStepBitmaps[12] = {
    IDB_STEP_CHARGE0,    IDB_STEP_CHARGE1,    IDB_STEP_CHARGE2,    IDB_STEP_CHARGE_IDLE,
    IDB_STEP_DISCHARGE0, IDB_STEP_DISCHARGE1, IDB_STEP_DISCHARGE2, IDB_STEP_DISCHARGE_IDLE,
    IDB_STEP_RECHARGE0,  IDB_STEP_RECHARGE1,  IDB_STEP_RECHARGE2,  IDB_STEP_RECHARGE_IDLE};

struct RefreshWindowState {
    MainApp& app;
    UINT selector = 0;
    // The shell's "TaskbarCreated": it restarted and lost every icon.
    UINT taskbarCreated = 0;
};

struct RefreshDialogState {
    explicit RefreshDialogState(MainApp& owner) : app(owner) {}
    MainApp& app;
    UINT selector = 0;
    CBattery* battery1 = nullptr; // in use
    CBattery* battery2 = nullptr; // in use
    CBattery* current = nullptr;
    int mode = 0;
    int progress = 0;
    int lastDrawnMode = -1;
    int frame = 0;
    bool tooltipArmed = true;
    bool aborting = false;
    bool finished = false;
    zb::UniqueHandle process;
    NOTIFYICONDATAW notify = {};
    CNotifyIconInput iconInput;
    bool inTray = false; // the window is hidden and stands in the notification area
    std::unique_ptr<CPipeClient> listener;
    HWND abortQuestion = nullptr;
    zb::UniqueBitmap steps[12];
};

RefreshDialogState* StateOf(HWND hDlg) {
    return zb::DialogState<RefreshDialogState>(hDlg);
}

void ForEachBatteryInUse(RefreshDialogState& state, int nRefreshState) {
    for (CBattery* battery : {state.battery1, state.battery2})
        if (battery)
            battery->SetRefreshState(nRefreshState);
}

// The picture's table index (plus one, so that 0 means none yet) also goes
// into the control's user data: a bitmap handle means nothing outside this
// process, the index tells automation and accessibility tools which
// picture each step shows.
void SetStep(HWND hDlg, RefreshDialogState& state, int id, int index) {
    HWND picture = GetDlgItem(hDlg, id);
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(state.steps[index].Get()));
    zb::SetControlTag(picture, index + 1);
}

void EnableLabels(HWND hDlg, bool b1, bool b2, bool b3) {
    EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL1), b1);
    EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL2), b2);
    EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL3), b3);
}

void DrawSteps(HWND hDlg, RefreshDialogState& state, int mode) {
    if (mode != state.lastDrawnMode) {
        SetStep(hDlg, state, IDC_STEP1, 3);
        SetStep(hDlg, state, IDC_STEP2, 7);
        SetStep(hDlg, state, IDC_STEP3, 11);
        EnableLabels(hDlg, false, false, false);
    }
    switch (mode) {
    case 0:
        EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL1), TRUE);
        SetStep(hDlg, state, IDC_STEP1, NextStepPicture(mode, &state.frame));
        break;
    case 1:
    case 2:
    case 3:
        EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL2), TRUE);
        SetStep(hDlg, state, IDC_STEP2, NextStepPicture(mode, &state.frame));
        break;
    case 4:
        EnableWindow(GetDlgItem(hDlg, IDC_STEP_LABEL3), TRUE);
        SetStep(hDlg, state, IDC_STEP3, NextStepPicture(mode, &state.frame));
        break;
    case kModeBeforeReport: {
        SYSTEM_POWER_STATUS status = {};
        CBattery* battery = state.battery1 ? state.battery1 : state.battery2;
        if (!battery || !GetPowerStatusDoubleCheck(&status, battery))
            break;
        const bool full = status.BatteryLifePercent >= 100;
        SetStep(hDlg, state, IDC_STEP1, full ? 3 : 0);
        SetStep(hDlg, state, IDC_STEP2, 5);
        SetStep(hDlg, state, IDC_STEP3, 10);
        EnableLabels(hDlg, !full, true, true);
        break;
    }
    default:
        break;
    }
    state.lastDrawnMode = mode;
}

UINT TrayIconOf(int mode) {
    if (mode >= 1 && mode <= 3)
        return IDI_TRAY_DISCHARGE;
    if (mode == 4)
        return IDI_TRAY_RECHARGE;
    return IDI_TRAY_CHARGE;
}

void AddTrayIcon(HWND hDlg, RefreshDialogState& state) {
    const DWORD error = AddNotifyIcon(hDlg, L"", TrayIconOf(state.mode), &state.notify);
    if (error)
        WriteErrorLog(IDS_ERR_TRAY_ICON, ERRLOG_CAPTION_ID, ERRLOG_FILE, error, state.app.instance);
}

void ToTray(HWND hDlg, RefreshDialogState& state) {
    ShowWindow(GetParent(hDlg), SW_HIDE);
    state.inTray = true;
    AddTrayIcon(hDlg, state);
}

// The shell restarted: a hidden window is reachable only through its icon.
void ReAddTrayIcon(HWND hDlg) {
    RefreshDialogState* state = hDlg ? StateOf(hDlg) : nullptr;
    if (state && state->inTray)
        AddTrayIcon(hDlg, *state);
}

void BackFromTray(HWND hDlg, RefreshDialogState& state) {
    state.inTray = false;
    PostNcDestroy(hDlg, &state.notify);
    HWND hWnd = GetParent(hDlg);
    ShowWindow(hWnd, SW_RESTORE);
    SetForegroundWindow(hWnd);
}

// Hands over to the completion window: completed, not completed or aborted
// alike.
void Finish(HWND hDlg, RefreshDialogState& state) {
    if (state.finished)
        return;
    state.finished = true;
    HWND hMain = FindWindowW(state.app.className, nullptr);
    if (!hMain || !IsWindowVisible(hMain))
        BackFromTray(hDlg, state);
    if (hMain)
        SendMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDM_SHOW_COMPLETE, 0), 0);
    DestroyWindow(GetParent(hDlg));
}

// Selector 0 follows a refresh tool that already runs ("/icon"): the main
// screen never starts a refresh that nobody confirmed.
bool StartTool(RefreshDialogState& state) {
    LPCWSTR args = nullptr;
    switch (state.selector) {
    case 0:
        return true;
    case 1:
        args = state.battery1 ? L"/b1 /nomain" : nullptr;
        break;
    case 2:
        args = state.battery2 ? L"/b2 /nomain" : nullptr;
        break;
    default:
        return false;
    }
    if (!args)
        return true;
    HANDLE process = nullptr;
    if (const DWORD error = CurrentModuleExe(REFRESH_EXE_NAME, args, SW_HIDE, &process))
        WriteErrorLog(IDS_ERR_REFRESH_FAILED, ERRLOG_CAPTION_ID, ERRLOG_FILE, error,
                      state.app.instance);
    state.process.Reset(process);
    return true;
}

void OnInit(HWND hDlg, RefreshDialogState& state) {
    MainApp& app = state.app;
    SetWindowTextW(hDlg, app.title);
    for (size_t i = 0; i < ARRAYSIZE(kStepBitmaps); ++i)
        state.steps[i].Reset(LoadFaceBitmap(app.instance, MAKEINTRESOURCEW(kStepBitmaps[i])));
    SetFocus(GetDlgItem(hDlg, IDCANCEL));
    CBatteryArray* batteries = app.batteries;
    if (batteries) {
        if (state.selector == 0 || state.selector == 1)
            state.battery1 = batteries->GetBattery(1);
        if (state.selector == 0 || state.selector == 2)
            state.battery2 = batteries->GetBattery(2);
    }
    DrawSteps(hDlg, state, kModeBeforeReport);
    SendMessageW(hDlg, WM_USER_REFPROGRESS, 0, 0);
    ShowWindow(GetDlgItem(hDlg, IDC_SLEEP_CHECK), SW_SHOW);
    CheckDlgButton(hDlg, IDC_SLEEP_CHECK, app.sleepAfterCompletion ? BST_CHECKED : BST_UNCHECKED);
    // The cautions of the confirmation hold for the whole run.
    WCHAR notes[1024] = L"";
    LoadStringW(app.instance, IDS_CONFIRM_NOTES, notes, ARRAYSIZE(notes));
    SetDlgItemTextW(hDlg, IDC_NOTES, notes);

    ForEachBatteryInUse(state, 1);
    if (!StartTool(state))
        return;
    SetTimer(hDlg, TIMER_LISTEN, kTimerMs, nullptr);
    SetTimer(hDlg, TIMER_QUERY, kTimerMs, nullptr);
}

// The tool we started (if we started one) has ended and no refresh tool
// runs. A tool followed from "/icon" may still be starting, its pipes not
// served yet: it is waited for as long as it holds its mutex.
bool ToolHasEnded(const RefreshDialogState& state) {
    if (state.process.IsValid() && WaitForSingleObject(state.process.Get(), 0) != WAIT_OBJECT_0)
        return false;
    if (!RefreshToolMutexExists())
        return true;
    WriteLog(L"RefreshDlgProc", __LINE__, L"A refresh tool runs and does not answer yet.\n");
    return false;
}

// A tool that refused to start (no mains, no battery) never serves its
// pipes: the run ends with the reason it stored.
void FinishWithStoredStatus(HWND hDlg, RefreshDialogState& state) {
    DWORD status = 0;
    if (FAILED(GetRegLastRefreshStatus(&status)))
        status = 7;
    WriteLog(L"RefreshDlgProc", __LINE__, L"The refresh tool ended unreached. nRes = %d.\n",
             status);
    ForEachBatteryInUse(state, static_cast<int>(status));
    Finish(hDlg, state);
}

void OnListenTimer(HWND hDlg, RefreshDialogState& state) {
    KillTimer(hDlg, TIMER_LISTEN);
    if (!state.listener)
        state.listener.reset(new CPipeClient);
    if (state.listener->Connect(hDlg, PIPE1_NAME) && state.listener->StartReceive())
        return;
    state.listener->Close();
    SetTimer(hDlg, TIMER_LISTEN, kTimerMs, nullptr);
}

void OnQueryTimer(HWND hDlg, RefreshDialogState& state) {
    KillTimer(hDlg, TIMER_QUERY);
    CPipeClient query;
    if (!query.Connect(hDlg, PIPE2_NAME)) {
        if (ToolHasEnded(state)) {
            FinishWithStoredStatus(hDlg, state);
            return;
        }
        SetTimer(hDlg, TIMER_QUERY, kTimerMs, nullptr);
        return;
    }
    PipeRecord record = {};
    if (query.SendMessageW(WM_USER_REFMODE, 0) > 0 &&
        query.Receive(&record, sizeof(record)) == static_cast<int>(sizeof(record))) {
        query.Close();
        SendMessageW(hDlg, WM_USER_REFMODE, static_cast<WPARAM>(record.wparam),
                     static_cast<LPARAM>(record.battid));
        if (!IsWindow(hDlg))
            return;
        SendMessageW(hDlg, WM_USER_REFPROGRESS, static_cast<WPARAM>(record.lparam), 0);
    }
    if (IsWindow(hDlg))
        SetTimer(hDlg, TIMER_ANIMATE, kTimerMs, nullptr);
}

void OnAnimateTimer(HWND hDlg, RefreshDialogState& state) {
    KillTimer(hDlg, TIMER_ANIMATE);
    if (state.current)
        DrawSteps(hDlg, state, state.mode);
    SetTimer(hDlg, TIMER_ANIMATE, kTimerMs, nullptr);
}

void OnMode(HWND hDlg, RefreshDialogState& state, int mode, UINT battNo) {
    if (state.finished || state.aborting)
        return;
    state.mode = mode;
    WCHAR text[256] = L"";
    LoadStringW(state.app.instance, battNo == 2 ? IDS_STATUS_RUNNING2 : IDS_STATUS_RUNNING, text,
                ARRAYSIZE(text));
    SetDlgItemTextW(hDlg, IDC_REFRESH_STATUS, text);
    state.current = battNo == 2 ? state.battery2 : state.battery1;
    if (!state.current || mode < 0)
        return;
    if (mode < kModeDone) {
        if (!IsWindowVisible(hDlg) || !IsWindowVisible(GetParent(hDlg)))
            ToTray(hDlg, state);
        DrawSteps(hDlg, state, mode);
        return;
    }
    if (mode == kModeDone) {
        for (CBattery* battery : {state.battery1, state.battery2}) {
            if (!battery)
                continue;
            // The refresh changed the battery's figures: the diagnosis shows
            // the new ones.
            battery->RefreshBBIF();
            battery->SetRefreshState(0);
        }
        Finish(hDlg, state);
    }
}

void OnProgress(HWND hDlg, RefreshDialogState& state, int progress) {
    const int tens = NewToastTens(state.progress, progress);
    if (tens >= 0 && GetToastLibrary().IsToastMode()) {
        WCHAR format[128] = L"";
        WCHAR text[128] = L"";
        LoadStringW(state.app.instance, IDS_TOAST_PERCENT, format, ARRAYSIZE(format));
        StringCchPrintfW(text, ARRAYSIZE(text), format, tens);
        const KX_NTF_TOAST_REQUEST request = MakeToastRequest(1, text);
        const HRESULT hr = GetToastLibrary().DisplayToast(&request);
        if (FAILED(hr))
            WriteLog(L"RefreshDlgProc", __LINE__, L"Fail To KX_NTF_DisplayToast. hr: %08x.\n", hr);
    }
    state.progress = progress;
    WCHAR format[64] = L"";
    WCHAR text[64] = L"";
    LoadStringW(state.app.instance, IDS_PERCENT_DONE, format, ARRAYSIZE(format));
    StringCchPrintfW(text, ARRAYSIZE(text), format, progress);
    SetDlgItemTextW(hDlg, IDC_PERCENT, text);
}

void SendToTool(UINT message, UINT64 wparam) {
    CPipeClient client;
    if (client.Connect(nullptr, PIPE2_NAME))
        client.SendMessageW(message, wparam);
}

void OnError(HWND hDlg, RefreshDialogState& state, int code) {
    if (state.finished || state.aborting)
        return;
    ForEachBatteryInUse(state, code);
    SendToTool(WM_USER_REFERROR, static_cast<UINT64>(code));
    Finish(hDlg, state);
}

void OnPowerPlan(HWND hDlg) {
    if (TaskDlgMessageBox(hDlg, IDS_POWERPLAN_CHANGED, IDS_APP_TITLE, MB_YESNO | MB_ICONQUESTION) ==
        IDYES)
        SendToTool(WM_USER_REFPOWERPLAN, 0);
}

// The abort question tells the refresh dialog it is open, so that the
// dialog brings it forward instead of asking twice.
struct AbortQuestionState {
    RefreshDialogState& asker;
};

INT_PTR CALLBACK AbortQuestionDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    AbortQuestionState* state = zb::DialogState<AbortQuestionState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        state->asker.abortQuestion = hDlg;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    case WM_NCDESTROY:
        state->asker.abortQuestion = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

// Waits for hObject (none: for the time alone) while the windows keep
// answering; true when the object was signalled in time.
bool WaitServingMessages(HANDLE hObject, DWORD dwTimeoutMs) {
    const DWORD count = hObject ? 1 : 0;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= dwTimeoutMs)
            return false;
        const DWORD result =
            MsgWaitForMultipleObjects(count, &hObject, FALSE, dwTimeoutMs - elapsed, QS_ALLINPUT);
        if (count && result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_TIMEOUT)
            return false;
        if (result != WAIT_OBJECT_0 + count) {
            LogApiFailure(L"RefreshDlgProc", __LINE__, L"MsgWaitForMultipleObjects",
                          GetLastError());
            return false;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Every wait of the abort hands messages on, and one of them may end the
// run meanwhile (timer 2 finds the tool gone, another instance hands over
// to the completion window): the dialog and its state are then gone.
bool StillOpen(HWND hDlg, const RefreshDialogState* state) {
    return IsWindow(hDlg) && StateOf(hDlg) == state;
}

// Connects to pipe 2, retrying while the tool is busy; the window answers
// between the attempts.
bool ConnectForAbort(HWND hDlg, const RefreshDialogState* state, CPipeClient& client) {
    for (DWORD attempt = 0; attempt < kAbortRetryAttempts; ++attempt) {
        if (client.PipeRetry(PIPE2_NAME, 0, 1))
            return true;
        WaitServingMessages(nullptr, kAbortRetryPauseMs);
        if (!StillOpen(hDlg, state))
            return false;
    }
    return false;
}

void OnAbort(HWND hDlg, RefreshDialogState& state) {
    if (state.abortQuestion) {
        SetForegroundWindow(state.abortQuestion);
        return;
    }
    if (state.finished || state.aborting)
        return;
    const RefreshDialogState* const self = &state;
    // The question keeps its template's place at the top left of the window.
    const INT_PTR answer =
        zb::DialogBoxWithState<AbortQuestionDlgProc, zb::DialogPlacement::kFromTemplate>(
            state.app.instance, MAKEINTRESOURCEW(IDD_ABORT_QUESTION), hDlg,
            std::unique_ptr<AbortQuestionState>(new AbortQuestionState{state}));
    if (!StillOpen(hDlg, self) || answer != IDOK || state.finished)
        return;
    state.aborting = true;
    ForEachBatteryInUse(state, 2);
    CPipeClient client;
    const bool connected = ConnectForAbort(hDlg, self, client);
    if (!StillOpen(hDlg, self))
        return;
    if (!connected) {
        SendMessageW(GetParent(hDlg), WM_CLOSE, 0, 0);
    } else {
        if (state.current)
            WriteProgressLog(state.current->GetBattNo(), L"ABORTED!    %s", L"Canceled.");
        client.SendMessageW(WM_CLOSE, 0);
        client.Close();
        DWORD exitCode = 0;
        if (state.process.IsValid() && GetExitCodeProcess(state.process.Get(), &exitCode) &&
            exitCode == STILL_ACTIVE && !WaitServingMessages(state.process.Get(), kAbortWaitMs) &&
            StillOpen(hDlg, self))
            WriteLog(L"RefreshDlgProc", __LINE__, L"The refresh tool did not end in time.\n");
        if (!StillOpen(hDlg, self))
            return;
    }
    state.process.Reset();
    Finish(hDlg, state);
}

void ShowTrayMenu(HWND hDlg, RefreshDialogState& state) {
    if (state.abortQuestion) {
        SetForegroundWindow(state.abortQuestion);
        return;
    }
    POINT cursor = {};
    if (!GetCursorPos(&cursor))
        return;
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    WCHAR abortText[128] = L"";
    WCHAR backText[128] = L"";
    LoadStringW(state.app.instance, IDS_TRAY_MENU_ABORT, abortText, ARRAYSIZE(abortText));
    LoadStringW(state.app.instance, IDS_TRAY_MENU_BACK, backText, ARRAYSIZE(backText));
    AppendMenuW(menu, MF_STRING, IDM_TRAY_ABORT, abortText);
    AppendMenuW(menu, MF_STRING, IDM_TRAY_BACK, backText);
    const bool xp = IsWindowsXP() != FALSE;
    if (xp)
        state.tooltipArmed = false;
    SetForegroundWindow(hDlg);
    TrackPopupMenu(menu, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, hDlg, nullptr);
    DestroyMenu(menu);
    if (xp)
        state.tooltipArmed = true;
}

void OnNotifyIcon(HWND hDlg, RefreshDialogState& state, WPARAM wParam, LPARAM lParam) {
    switch (state.iconInput.Decode(lParam)) {
    case NotifyIconAction::kPointerOver:
        if (wParam && state.tooltipArmed) {
            WCHAR title[128] = L"";
            WCHAR format[64] = L"";
            WCHAR text[64] = L"";
            LoadStringW(state.app.instance, IDS_BALLOON_TITLE, title, ARRAYSIZE(title));
            LoadStringW(state.app.instance, IDS_BALLOON_PERCENT, format, ARRAYSIZE(format));
            StringCchPrintfW(text, ARRAYSIZE(text), format, state.progress);
            OpenBalloonEx(hDlg, title, text, TrayIconOf(state.mode), BALLOON_INFO, &state.notify);
            state.tooltipArmed = false;
        }
        break;
    case NotifyIconAction::kOpen:
        PostMessageW(hDlg, WM_COMMAND, IDM_TRAY_BACK, 0);
        break;
    case NotifyIconAction::kMenu:
        ShowTrayMenu(hDlg, state);
        break;
    case NotifyIconAction::kBalloonTimedOut:
        state.tooltipArmed = true;
        break;
    case NotifyIconAction::kBalloonClicked:
        PostMessageW(hDlg, WM_COMMAND, IDM_TRAY_BACK, 0);
        state.tooltipArmed = true;
        break;
    default:
        break;
    }
}

void OnCommand(HWND hDlg, RefreshDialogState& state, WORD id) {
    switch (id) {
    case IDOK:
    case IDCANCEL:
    case IDM_TRAY_ABORT:
        OnAbort(hDlg, state);
        break;
    case IDC_TO_TRAY:
        state.tooltipArmed = true;
        ToTray(hDlg, state);
        break;
    case IDC_BUTTON_HELP:
        OpenHelp(GetDesktopWindow(), kRefreshHelpTopic);
        break;
    case IDC_SLEEP_CHECK:
        state.app.sleepAfterCompletion = IsDlgButtonChecked(hDlg, IDC_SLEEP_CHECK) == BST_CHECKED;
        break;
    case IDM_TRAY_BACK:
        BackFromTray(hDlg, state);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK RefreshDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto& state = *reinterpret_cast<RefreshDialogState*>(lParam);
        state.app.refreshDialog.Record(hDlg);
        OnInit(hDlg, state);
        return FALSE;
    }
    RefreshDialogState* state = StateOf(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        OnCommand(hDlg, *state, LOWORD(wParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == TIMER_LISTEN)
            OnListenTimer(hDlg, *state);
        else if (wParam == TIMER_QUERY)
            OnQueryTimer(hDlg, *state);
        else if (wParam == TIMER_ANIMATE)
            OnAnimateTimer(hDlg, *state);
        return TRUE;
    case WM_USER_REFMODE:
        OnMode(hDlg, *state, static_cast<int>(wParam), static_cast<UINT>(lParam));
        return TRUE;
    case WM_USER_REFPROGRESS:
        OnProgress(hDlg, *state, static_cast<int>(wParam));
        return TRUE;
    case WM_USER_REFERROR:
        OnError(hDlg, *state, static_cast<int>(wParam));
        return TRUE;
    case WM_USER_REFPOWERPLAN:
        OnPowerPlan(hDlg);
        return TRUE;
    case WM_NOTIFYICON:
        OnNotifyIcon(hDlg, *state, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        if (state->listener)
            state->listener->Close();
        KillTimer(hDlg, TIMER_LISTEN);
        KillTimer(hDlg, TIMER_QUERY);
        KillTimer(hDlg, TIMER_ANIMATE);
        PostNcDestroy(hDlg, &state->notify);
        return FALSE;
    case WM_NCDESTROY:
        state->app.refreshDialog.Forget(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

bool OnCreate(HWND hWnd, RefreshWindowState& state) {
    MainApp& app = state.app;
    SetWindowTextW(hWnd, app.title);
    state.taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    std::unique_ptr<RefreshDialogState> dialogState(new RefreshDialogState(app));
    dialogState->selector = state.selector;
    HWND hDlg = zb::CreateDialogWithState<RefreshDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_REFRESH), hWnd, std::move(dialogState));
    if (!hDlg) {
        LogApiFailure(L"RefreshWndProc", __LINE__, L"CreateDialogParam", GetLastError());
        return false;
    }
    ShowWindow(hDlg, SW_SHOW);
    RECT rect = {};
    if (GetWindowRect(hDlg, &rect))
        SetClientRect(hWnd, &rect);
    else
        WriteLog(L"RefreshWndProc", __LINE__, L"Fail to GetWindowRect(). dwRet: %08x.\n",
                 GetLastError());
    if (!IsWindowsXP()) {
        WCHAR reason[256] = L"";
        LoadStringW(app.instance, IDS_SHUTDOWN_REASON, reason, ARRAYSIZE(reason));
        zb::ShutdownBlockReasonCreate(hWnd, reason);
    }
    return true;
}

LRESULT CALLBACK RefreshWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    RefreshWindowState* state = zb::WindowState<RefreshWindowState>(hWnd);
    if (!state)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        return OnCreate(hWnd, *state) ? 0 : -1;
    case WM_DESTROY:
        if (!IsWindowsXP())
            zb::ShutdownBlockReasonDestroy(hWnd);
        return 0;
    case WM_ACTIVATE:
        if (state->app.refreshDialog)
            SetFocus(state->app.refreshDialog.Get());
        return 0;
    case WM_CLOSE:
        if (state->app.refreshDialog)
            PostMessageW(state->app.refreshDialog.Get(), WM_COMMAND, IDCANCEL, 0);
        return 0;
    case WM_QUERYENDSESSION:
        return IsWindowsXP() ? 1 : 0;
    default:
        // Sent to top-level windows only: the dialog that owns the icon is
        // this window's child.
        if (message == state->taskbarCreated && message != 0)
            ReAddTrayIcon(state->app.refreshDialog.Get());
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

} // namespace

int NextStepPicture(int nMode, int* pFrame) {
    int& frame = *pFrame;
    if (nMode >= 1 && nMode <= 3) {
        if (frame < 0)
            frame = 2;
        return 4 + frame--;
    }
    if (nMode != 0 && nMode != 4)
        return -1;
    // The counter is shared and the discharge leaves it at -1: a charge
    // step that follows starts at its own first picture instead of one
    // before it (the recharge step would show the discharge's idle picture,
    // the first charge step a picture before the table).
    if (frame < 0 || frame > 2)
        frame = 0;
    const int picture = (nMode == 0 ? 0 : 8) + frame;
    frame = frame >= 2 ? 0 : frame + 1;
    return picture;
}

int NewToastTens(int nLastProgress, int nProgress) {
    const int tens = nProgress / 10 * 10;
    return tens > nLastProgress / 10 * 10 ? tens : -1;
}

BOOL RegisterRunWindowClass(HINSTANCE hInstance, LPCWSTR lpszClass, WNDPROC proc) {
    if (zb::RegisterAppWindowClass(hInstance, lpszClass, proc, IDI_ZBMAIN, IDI_SMALL) ||
        GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        return TRUE;
    LogApiFailure(L"RegisterClassEx", __LINE__, L"RegisterClassEx", GetLastError());
    return FALSE;
}

HWND CreateRefreshWindow(MainApp& app, UINT uBattNo) {
    if (!RegisterRunWindowClass(app.instance, REFRESH_WINDOW_CLASS,
                                zb::StateWindowProc<RefreshWindowState, RefreshWndProc>))
        return nullptr;
    std::unique_ptr<RefreshWindowState> state(new RefreshWindowState{app, uBattNo});
    HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, REFRESH_WINDOW_CLASS, L"",
                                          WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                          0, 100, 100, nullptr, nullptr, app.instance);
    if (!hWnd) {
        LogApiFailure(L"WndProc", __LINE__, L"CreateWindow", GetLastError());
        return nullptr;
    }
    zb::CenterOnOwner(hWnd);
    if (IsWindowShowMode(app) == 1) {
        ShowWindow(hWnd, SW_SHOW);
        UpdateWindow(hWnd);
    }
    return hWnd;
}

} // namespace zbmain
