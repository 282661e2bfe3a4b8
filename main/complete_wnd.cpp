// The completion window: the diagnosis after a completed refresh, or why the
// refresh did not complete with advice by charge mode, and the optional
// sleep countdown. Closing it gives the main window back, redrawn.
#include "main/main_app.h"

#include "common/help.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/toast.h"
#include "common/window_base.h"
#include "main/message_box.h"
#include "main/program_ids.h"
#include "main/result_info.h"

#include <memory>

namespace zbmain {

namespace {

constexpr UINT WM_USER_SLEEPCOUNTDOWN = 0x8601;
constexpr WORD IDM_WARRANTY = 0x800D;
constexpr DWORD kCompleteHelpTopic = 10134;
constexpr DWORD kPurchaseHelpTopic = 10135;
constexpr DWORD kReasonAborted = 2;
constexpr DWORD kReasonSleep = 6;

struct CompleteWindowState {
    MainApp& app;
    bool completed = false;
    HWND dialog = nullptr;
};

// The dialog after a completed refresh.
struct CompletedState {
    MainApp& app;
};

struct UncompleteState {
    MainApp& app;
    CBattery* reported = nullptr;
    DWORD reason = 0;
};

void ShowToast(HINSTANCE hInstance, UINT uTextId, UINT nKind) {
    if (!GetToastLibrary().IsToastMode())
        return;
    WCHAR text[256] = L"";
    LoadStringW(hInstance, uTextId, text, ARRAYSIZE(text));
    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(nKind, text);
    const HRESULT hr = GetToastLibrary().DisplayToast(&request);
    if (FAILED(hr))
        WriteLog(L"CompleteWndProc", __LINE__, L"Fail To KX_NTF_DisplayToast. hr: %08x.\n", hr);
}

void DeleteStoredStatus(HINSTANCE hInstance) {
    DWORD status = 0;
    if (FAILED(GetRegLastRefreshStatus(&status)))
        return;
    const HRESULT hr = DelRegLastRefreshStatus();
    if (FAILED(hr))
        WriteErrorLog(IDS_ERR_DELETE_STATUS, ERRLOG_CAPTION_ID, ERRLOG_FILE, static_cast<DWORD>(hr),
                      hInstance);
}

// The countdown runs only in the session at the console: nobody else could
// stop it.
void StartSleepCountdownIfAtConsole(HINSTANCE hInstance, HWND hDlg) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        WriteErrorLog(IDS_ERR_SESSION, ERRLOG_CAPTION_ID, ERRLOG_FILE, GetLastError(), hInstance);
        return;
    }
    if (session == WTSGetActiveConsoleSessionId())
        PostMessageW(hDlg, WM_USER_SLEEPCOUNTDOWN, 0, 0);
}

// Gives the main window back, redrawn, and ends the completion window.
void CloseCompleteWindow(const MainApp& app, HWND hWnd, bool bResult, bool bChargeMode) {
    HWND hMain = app.mainWindow;
    if (bResult)
        SendMessageW(hMain, WM_USER_UPDATERESULT, 0, 0);
    SendMessageW(hMain, WM_USER_UPDATEBATTERY, 0, 0);
    if (bChargeMode)
        SendMessageW(hMain, WM_USER_CHARGEMODECHANGED, 0, 0);
    // The confirmation that started the run handed over without giving the
    // main window its input back: it gets it here, with the screen.
    EnableWindow(hMain, TRUE);
    ShowWindow(hMain, SW_SHOW);
    DestroyWindow(hWnd);
}

void ReturnToMain(const MainApp& app, HWND hDlg, bool bResult, bool bChargeMode) {
    CloseCompleteWindow(app, GetParent(hDlg), bResult, bChargeMode);
}

INT_PTR CALLBACK CompleteDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    const CompletedState* state = zb::DialogState<CompletedState>(hDlg);
    if (!state)
        return FALSE;
    const MainApp& app = state->app;
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextW(hDlg, app.title);
        ShowWindow(GetDlgItem(hDlg, IDC_RESULT_PICTURE2), SW_HIDE);
        SetResultDlgInfo(hDlg, app.batteries);
        DeleteStoredStatus(app.instance);
        return FALSE;
    case WM_SHOWWINDOW:
        if (wParam && app.sleepAfterCompletion)
            StartSleepCountdownIfAtConsole(app.instance, hDlg);
        return FALSE;
    case WM_USER_SLEEPCOUNTDOWN:
        SleepTaskDlg(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            ReturnToMain(app, hDlg, true, true);
            break;
        case IDC_BUTTON_HELP:
            OpenHelp(GetDesktopWindow(), kCompleteHelpTopic);
            break;
        case IDC_PURCHASE:
            OpenHelp(GetDesktopWindow(), kPurchaseHelpTopic);
            break;
        case IDC_WARRANTY:
            PostMessageW(app.mainWindow, WM_COMMAND, IDM_WARRANTY, 0);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return WhiteResultMessage(app, wParam, lParam);
    default:
        return FALSE;
    }
}

void OnUncompleteInit(HWND hDlg, UncompleteState& state) {
    const MainApp& app = state.app;
    SetWindowTextW(hDlg, app.title);
    CBattery* battery1 = app.batteries ? app.batteries->GetBattery(1) : nullptr;
    CBattery* battery2 = app.batteries ? app.batteries->GetBattery(2) : nullptr;
    state.reported = battery1 && battery1->GetRefreshState() != 0 ? battery1 : battery2;
    if (state.reported) {
        state.reason = static_cast<DWORD>(state.reported->GetRefreshState());
    } else {
        GetRegLastRefreshStatus(&state.reason);
        WriteLog(L"UnCompleteDlgProc", __LINE__,
                 L"====================nRes = %d=====================\n", state.reason);
    }
    if (const UINT reasonId = ReasonTextId(state.reason)) {
        WCHAR text[512] = L"";
        LoadStringW(app.instance, reasonId, text, ARRAYSIZE(text));
        SetDlgItemTextW(hDlg, IDC_REASON, text);
    }
    DWORD mode = 0;
    if (state.reported && SUCCEEDED(state.reported->GetChargeMode(&mode))) {
        WCHAR text[1024] = L"";
        LoadStringW(app.instance, AdviceTextId(mode, state.reason), text, ARRAYSIZE(text));
        SetDlgItemTextW(hDlg, IDC_ADVICE, text);
    }
    DeleteStoredStatus(app.instance);
}

INT_PTR CALLBACK UnCompleteDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnUncompleteInit(hDlg, *reinterpret_cast<UncompleteState*>(lParam));
        return FALSE;
    }
    UncompleteState* state = zb::DialogState<UncompleteState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_SHOWWINDOW:
        if (wParam == 1 && (state->reported || state->reason != 0) &&
            state->app.sleepAfterCompletion && state->reason != kReasonAborted &&
            state->reason != kReasonSleep)
            StartSleepCountdownIfAtConsole(state->app.instance, hDlg);
        return FALSE;
    case WM_USER_SLEEPCOUNTDOWN:
        SleepTaskDlg(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            ReturnToMain(state->app, hDlg, false,
                         state->reported && state->reported->IsChargeModeSupported());
            break;
        case IDCANCEL:
            ReturnToMain(state->app, hDlg, false, false);
            break;
        case IDC_BUTTON_HELP:
            OpenHelp(GetDesktopWindow(), kCompleteHelpTopic);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_DESTROY:
        if (state->app.batteries)
            for (UINT battNo : {1u, 2u})
                if (CBattery* battery = state->app.batteries->GetBattery(battNo))
                    battery->SetRefreshState(0);
        return FALSE;
    default:
        return FALSE;
    }
}

bool BatteryDone(const CBattery* battery) {
    return !battery || battery->GetRefreshState() == 0;
}

bool OnCreate(HWND hWnd, CompleteWindowState& state) {
    MainApp& app = state.app;
    SetWindowTextW(hWnd, app.title);
    CBattery* battery1 = app.batteries ? app.batteries->GetBattery(1) : nullptr;
    CBattery* battery2 = app.batteries ? app.batteries->GetBattery(2) : nullptr;
    bool done = BatteryDone(battery1) && BatteryDone(battery2);
    DWORD status = 0;
    if (!battery1 && !battery2 && SUCCEEDED(GetRegLastRefreshStatus(&status)) && status != 0)
        done = false;
    if (!done) {
        ShowToast(app.instance, IDS_TOAST_UNCOMPLETED, 8);
        std::unique_ptr<UncompleteState> dialogState(new UncompleteState{app});
        state.dialog = zb::CreateDialogWithState<UnCompleteDlgProc>(
            app.instance, MAKEINTRESOURCEW(IDD_UNCOMPLETE), hWnd, std::move(dialogState));
        if (!state.dialog)
            WriteLog(L"CompleteWndProc", __LINE__,
                     L"Fail to CreateDialogParam(IDD_DIALOG_UNCOMPLETE). dwRet: %08x.\n",
                     GetLastError());
    } else {
        ShowToast(app.instance, IDS_TOAST_COMPLETED, 7);
        state.dialog = zb::CreateDialogWithState<CompleteDlgProc>(
            app.instance, MAKEINTRESOURCEW(IDD_COMPLETED), hWnd,
            std::unique_ptr<CompletedState>(new CompletedState{app}));
        if (!state.dialog)
            WriteLog(L"CompleteWndProc", __LINE__,
                     L"Fail to CreateDialogParam(IDD_DIALOG_COMPLETE). dwRet: %08x.\n",
                     GetLastError());
        state.completed = true;
    }
    if (!state.dialog)
        return false;
    ShowWindow(state.dialog, SW_SHOW);
    RECT rect = {};
    if (GetWindowRect(state.dialog, &rect))
        SetClientRect(hWnd, &rect);
    return true;
}

LRESULT CALLBACK CompleteWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CompleteWindowState* state = zb::WindowState<CompleteWindowState>(hWnd);
    if (!state)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
        return OnCreate(hWnd, *state) ? 0 : -1;
    case WM_ACTIVATE:
        if (state->dialog)
            SetFocus(state->dialog);
        return 0;
    case WM_CLOSE:
        CloseCompleteWindow(state->app, hWnd, state->completed, true);
        return 0;
    case WM_NCDESTROY:
        state->app.completeWindow.Forget(hWnd);
        return 0;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

} // namespace

UINT ReasonTextId(DWORD dwReason) {
    switch (dwReason) {
    case 2:
        return IDS_REASON_ABORTED;
    case 3:
        return IDS_REASON_REMOVED;
    case 4:
        return IDS_REASON_REMOVED2;
    case 5:
        return IDS_REASON_AC;
    case 6:
        return IDS_REASON_SLEEP;
    case 7:
        return IDS_REASON_DEVICE;
    case 9:
        return IDS_REASON_STATE;
    default:
        return 0;
    }
}

UINT AdviceTextId(DWORD dwChargeMode, DWORD dwReason) {
    if (dwChargeMode & CHARGEMODE_REFRESH_NEEDED)
        return IDS_ADVICE_CHARGE_AMOUNT;
    if (dwReason == 3 || dwReason == 4)
        return IDS_ADVICE_MODE_CHANGED;
    return IDS_ADVICE_REGULAR;
}

HWND CreateCompleteWindow(MainApp& app) {
    if (!RegisterRunWindowClass(app.instance, COMPLETE_WINDOW_CLASS,
                                zb::StateWindowProc<CompleteWindowState, CompleteWndProc>))
        return nullptr;
    std::unique_ptr<CompleteWindowState> state(new CompleteWindowState{app});
    HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, COMPLETE_WINDOW_CLASS, L"",
                                          WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, 0, 100, 100,
                                          nullptr, nullptr, app.instance);
    if (!hWnd) {
        LogApiFailure(L"WndProc", __LINE__, L"CreateWindow", GetLastError());
        return nullptr;
    }
    app.completeWindow.Record(hWnd);
    zb::CenterOnOwner(hWnd);
    ShowWindow(hWnd, SW_SHOW);
    UpdateWindow(hWnd);
    return hWnd;
}

} // namespace zbmain
