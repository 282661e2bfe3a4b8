#include "main/message_box.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "common/wrappers.h" // also powrprof.h, which has no include guard
#include "main/resource.h"

#include <commctrl.h>
#include <strsafe.h>

#include <memory>

namespace zbmain {
namespace {

constexpr size_t kResourceCch = 256;
constexpr int kCustomButtonId = 0;

HINSTANCE OwnerInstance(HWND hWnd) {
    if (hWnd && IsWindow(hWnd))
        return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE));
    return GetModuleHandleW(nullptr);
}

void LoadText(HINSTANCE hInstance, UINT uId, LPWSTR lpszText, int cchText) {
    if (!LoadStringW(hInstance, uId, lpszText, cchText))
        WriteLog(L"LoadText", __LINE__, L"Fail to LoadString(%u). ErrorCode: %08x.\n", uId,
                 GetLastError());
}

// A task dialog is not resized or minimised: its system menu keeps only
// Move and Close.
void TrimSystemMenu(HWND hDlg) {
    HMENU hMenu = GetSystemMenu(hDlg, FALSE);
    if (!hMenu)
        return;
    for (UINT uCommand : {SC_SIZE, SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE})
        DeleteMenu(hMenu, uCommand, MF_BYCOMMAND);
}

HRESULT CALLBACK MessageBoxCallback(HWND hDlg, UINT uNotification, WPARAM, LPARAM, LONG_PTR) {
    if (uNotification == TDN_CREATED)
        TrimSystemMenu(hDlg);
    return S_OK;
}

int ClassicMessageBox(HWND hWnd, LPCWSTR lpstrMsg, LPCWSTR lpstrCaption, UINT uType,
                      LPCWSTR lpstrButton) {
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof(params);
    params.hwndOwner = hWnd;
    params.hInstance = OwnerInstance(hWnd);
    params.lpszText = lpstrMsg;
    params.lpszCaption = lpstrCaption;
    // A classic box cannot name its button: a plain OK box instead.
    params.dwStyle = lpstrButton ? (uType & ~static_cast<UINT>(MB_TYPEMASK)) : uType;
    return MessageBoxIndirectW(&params);
}

TASKDIALOG_COMMON_BUTTON_FLAGS CommonButtons(UINT uType) {
    switch (uType & MB_TYPEMASK) {
    case MB_YESNO:
        return TDCBF_YES_BUTTON | TDCBF_NO_BUTTON;
    case MB_OKCANCEL:
        return TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
    default:
        return TDCBF_OK_BUTTON;
    }
}

// The main icon for the type's icon bits; the question icon is the
// program's own (Vista's task dialog has no question icon).
void SetMainIcon(UINT uType, HINSTANCE hInstance, TASKDIALOGCONFIG* pConfig) {
    switch (uType & MB_ICONMASK) {
    case MB_ICONWARNING:
        pConfig->pszMainIcon = TD_WARNING_ICON;
        break;
    case MB_ICONINFORMATION:
        pConfig->pszMainIcon = TD_INFORMATION_ICON;
        break;
    case MB_ICONERROR:
        pConfig->pszMainIcon = TD_ERROR_ICON;
        break;
    case MB_ICONQUESTION:
        pConfig->dwFlags |= TDF_USE_HICON_MAIN;
        pConfig->hMainIcon =
            static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_ZBQUESTION), IMAGE_ICON,
                                          0, 0, LR_DEFAULTSIZE | LR_SHARED));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Sleep countdown

struct SleepCountdown {
    HINSTANCE hInstance = nullptr;
    DWORD dwTotalSeconds = 0;
    DWORD dwStartTick = 0;
    bool bSleep = false; // the time ran out: sleep once the dialog is gone
};

void FormatCountdown(const SleepCountdown& state, int nSecondsLeft, LPWSTR lpszText,
                     size_t cchText) {
    WCHAR szFormat[kResourceCch] = {};
    LoadText(state.hInstance, IDS_SLEEP_COUNTDOWN, szFormat, ARRAYSIZE(szFormat));
    StringCchPrintfW(lpszText, cchText, szFormat, nSecondsLeft);
}

// One tick of either countdown: the seconds left, and whether time is up
// (then the dialog closes and the computer sleeps, once).
int TickCountdown(SleepCountdown* pState) {
    const int nLeft =
        SleepSecondsLeft(pState->dwTotalSeconds, GetTickCount() - pState->dwStartTick);
    if (nLeft <= 0)
        pState->bSleep = true;
    return nLeft;
}

HRESULT Suspend(const SleepCountdown& state) {
    if (SetSuspendState(FALSE, FALSE, FALSE))
        return S_OK;
    const DWORD dwError = GetLastError();
    WriteErrorLog(IDS_ERR_SUSPEND, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwError, state.hInstance);
    return HRESULT_FROM_WIN32(dwError);
}

HRESULT CALLBACK SleepCallback(HWND hDlg, UINT uNotification, WPARAM, LPARAM, LONG_PTR dwRefData) {
    auto* pState = reinterpret_cast<SleepCountdown*>(dwRefData);
    if (!pState) {
        LogNullArg(L"SleepCallback", __LINE__, L"dwRefData");
        return E_POINTER;
    }
    switch (uNotification) {
    case TDN_CREATED:
        TrimSystemMenu(hDlg);
        break;
    case TDN_TIMER: {
        if (pState->bSleep)
            break;
        const int nLeft = TickCountdown(pState);
        WCHAR szText[kResourceCch] = {};
        FormatCountdown(*pState, nLeft, szText, ARRAYSIZE(szText));
        SendMessageW(hDlg, TDM_SET_ELEMENT_TEXT, TDE_CONTENT, reinterpret_cast<LPARAM>(szText));
        if (pState->bSleep)
            PostMessageW(hDlg, WM_CLOSE, 0, 0);
        break;
    }
    default:
        break;
    }
    return S_OK;
}

// Windows XP: the same countdown in the program's own dialog, ticking every
// 200 ms like the task dialog's timer. It ends with kCountdownElapsed when
// the time ran out, else with the command that closed it.
constexpr UINT_PTR kCountdownTimer = 1;
constexpr UINT kCountdownTickMs = 200;
constexpr INT_PTR kCountdownElapsed = IDOK;

void ShowCountdownText(HWND hDlg, SleepCountdown* pState) {
    const int nLeft = TickCountdown(pState);
    WCHAR szText[kResourceCch] = {};
    FormatCountdown(*pState, nLeft, szText, ARRAYSIZE(szText));
    SetDlgItemTextW(hDlg, IDC_COUNTDOWN_TEXT, szText);
    if (pState->bSleep)
        EndDialog(hDlg, kCountdownElapsed);
}

INT_PTR OnCountdownInit(HWND hDlg, SleepCountdown* pState) {
    TrimSystemMenu(hDlg);
    SendDlgItemMessageW(hDlg, IDC_COUNTDOWN_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_INFORMATION)), 0);
    WCHAR szTitle[kResourceCch] = {};
    LoadText(pState->hInstance, IDS_APP_TITLE, szTitle, ARRAYSIZE(szTitle));
    SetWindowTextW(hDlg, szTitle);
    WCHAR szAbort[kResourceCch] = {};
    LoadText(pState->hInstance, IDS_ABORT, szAbort, ARRAYSIZE(szAbort));
    SetDlgItemTextW(hDlg, IDC_COUNTDOWN_ABORT, szAbort);
    if (!SetTimer(hDlg, kCountdownTimer, kCountdownTickMs, nullptr))
        LogApiFailure(L"SleepCountdownDlgProc", __LINE__, L"SetTimer", GetLastError());
    // The text with the full time at once, not only at the first tick.
    ShowCountdownText(hDlg, pState);
    return TRUE;
}

INT_PTR CALLBACK SleepCountdownDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    SleepCountdown* pState = zb::DialogState<SleepCountdown>(hDlg);
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnCountdownInit(hDlg, reinterpret_cast<SleepCountdown*>(lParam));
    case WM_TIMER:
        if (pState && wParam == kCountdownTimer && !pState->bSleep)
            ShowCountdownText(hDlg, pState);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_COUNTDOWN_ABORT || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        KillTimer(hDlg, kCountdownTimer);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

int SleepSecondsLeft(DWORD dwTotalSeconds, DWORD dwElapsedMs) {
    const DWORD dwElapsedSeconds = dwElapsedMs / 1000;
    return dwElapsedSeconds >= dwTotalSeconds ? 0
                                              : static_cast<int>(dwTotalSeconds - dwElapsedSeconds);
}

int TaskDlgMessageBox(HWND hWnd, LPCWSTR lpstrMsg, LPCWSTR lpstrCaption, UINT uType,
                      LPCWSTR lpstrButton) {
    if (IsAnyNullArg({{lpstrMsg, L"lpstrMsg"}, {lpstrCaption, L"lpstrCaption"}},
                     L"TaskDlgMessageBox", __LINE__))
        return 0;
    if (IsWindowsXP())
        return ClassicMessageBox(hWnd, lpstrMsg, lpstrCaption, uType, lpstrButton);

    const HINSTANCE hInstance = OwnerInstance(hWnd);
    TASKDIALOG_BUTTON button = {kCustomButtonId, lpstrButton};
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    config.hwndParent = hWnd;
    config.hInstance = hInstance;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = lpstrCaption;
    config.pszContent = lpstrMsg;
    config.pfCallback = MessageBoxCallback;
    if (lpstrButton) {
        config.pButtons = &button;
        config.cButtons = 1;
    } else {
        config.dwCommonButtons = CommonButtons(uType);
    }
    SetMainIcon(uType, hInstance, &config);

    int nButton = 0;
    const HRESULT hr = zb::TaskDialogIndirect(&config, &nButton, nullptr, nullptr);
    if (FAILED(hr))
        WriteLog(L"TaskDlgMessageBox", __LINE__, L"Fail to TaskDialogIndirect(): %d. ", hr);
    return nButton;
}

int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType) {
    const HINSTANCE hInstance = OwnerInstance(hWnd);
    WCHAR szMsg[kResourceCch] = {};
    WCHAR szCaption[kResourceCch] = {};
    LoadText(hInstance, uMsgId, szMsg, ARRAYSIZE(szMsg));
    LoadText(hInstance, uCaptionId, szCaption, ARRAYSIZE(szCaption));
    return TaskDlgMessageBox(hWnd, szMsg, szCaption, uType);
}

int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType, UINT uButtonId) {
    const HINSTANCE hInstance = OwnerInstance(hWnd);
    WCHAR szMsg[kResourceCch] = {};
    WCHAR szCaption[kResourceCch] = {};
    WCHAR szButton[kResourceCch] = {};
    LoadText(hInstance, uMsgId, szMsg, ARRAYSIZE(szMsg));
    LoadText(hInstance, uCaptionId, szCaption, ARRAYSIZE(szCaption));
    LoadText(hInstance, uButtonId, szButton, ARRAYSIZE(szButton));
    return TaskDlgMessageBox(hWnd, szMsg, szCaption, uType, szButton);
}

HRESULT SleepTaskDlg(HWND hWnd) {
    SleepCountdown state;
    state.hInstance = OwnerInstance(hWnd);
    state.dwTotalSeconds = GetRegPCSleep();
    state.dwStartTick = GetTickCount();

    if (IsWindowsXP()) {
        const INT_PTR nResult = zb::DialogBoxWithState<SleepCountdownDlgProc>(
            state.hInstance, MAKEINTRESOURCEW(IDD_SLEEP_COUNTDOWN), hWnd,
            std::make_unique<SleepCountdown>(state));
        if (nResult == -1 || nResult == 0) {
            const DWORD dwError = GetLastError();
            LogApiFailure(L"SleepTaskDlg", __LINE__, L"DialogBoxParam", dwError);
            return HRESULT_FROM_WIN32(dwError);
        }
        return nResult == kCountdownElapsed ? Suspend(state) : S_OK;
    }

    WCHAR szTitle[kResourceCch] = {};
    WCHAR szAbort[kResourceCch] = {};
    WCHAR szContent[kResourceCch] = {};
    LoadText(state.hInstance, IDS_APP_TITLE, szTitle, ARRAYSIZE(szTitle));
    LoadText(state.hInstance, IDS_ABORT, szAbort, ARRAYSIZE(szAbort));
    FormatCountdown(state, static_cast<int>(state.dwTotalSeconds), szContent, ARRAYSIZE(szContent));

    TASKDIALOG_BUTTON button = {kCustomButtonId, szAbort};
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    config.hwndParent = hWnd;
    config.hInstance = state.hInstance;
    config.dwFlags =
        TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW | TDF_CALLBACK_TIMER;
    config.pszWindowTitle = szTitle;
    config.pszContent = szContent;
    config.pszMainIcon = TD_INFORMATION_ICON;
    config.pButtons = &button;
    config.cButtons = 1;
    config.pfCallback = SleepCallback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&state);

    int nButton = 0;
    const HRESULT hr = zb::TaskDialogIndirect(&config, &nButton, nullptr, nullptr);
    if (FAILED(hr)) {
        WriteLog(L"SleepTaskDlg", __LINE__, L"Fail to TaskDialogIndirect(): %d.\n", hr);
        return hr;
    }
    return state.bSleep ? Suspend(state) : S_OK;
}

} // namespace zbmain
