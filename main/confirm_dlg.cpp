// The confirmation before a refresh: the estimate, the cautions and the
// sleep-after-completion choice. Yes checks the power state and that the
// refresh tool is installed before it hands over to the refresh window; a
// refusal explains itself and leaves the dialog open for another try.
#include "main/main_app.h"

#include "common/log.h"
#include "common/window_base.h"
#include "ipc/contract.h"
#include "main/message_box.h"
#include "main/program_ids.h"

#include <strsafe.h>

#include <memory>

namespace zbmain {

namespace {

constexpr size_t kNotesCch = 1024;

struct ConfirmState {
    MainApp& app;
    CBattery* battery;
};

void SetEstimateText(HINSTANCE instance, HWND hDlg, CBattery* pBattery) {
    if (!pBattery)
        return;
    WCHAR format[512] = L"";
    WCHAR text[512] = L"";
    DWORD maxHours = 0;
    DWORD fullChargedHours = 0;
    if (SUCCEEDED(pBattery->GetEstimateRefreshTimes(&maxHours, &fullChargedHours))) {
        LoadStringW(instance, IDS_CONFIRM_ESTIMATE, format, ARRAYSIZE(format));
        StringCchPrintfW(text, ARRAYSIZE(text), format, fullChargedHours, maxHours);
    } else {
        LoadStringW(instance, IDS_CONFIRM_MAX_ONLY, format, ARRAYSIZE(format));
        StringCchPrintfW(text, ARRAYSIZE(text), format, pBattery->GetRefreshMaxTime());
    }
    SetDlgItemTextW(hDlg, IDC_CONFIRM_TEXT, text);
}

void OnInit(HWND hDlg, const ConfirmState& state) {
    const MainApp& app = state.app;
    SetWindowTextW(hDlg, app.title);
    ShowWindow(GetDlgItem(hDlg, IDC_SLEEP_CHECK), SW_SHOW);
    CheckDlgButton(hDlg, IDC_SLEEP_CHECK, app.sleepAfterCompletion ? BST_CHECKED : BST_UNCHECKED);
    WCHAR notes[kNotesCch] = L"";
    LoadStringW(app.instance, IDS_CONFIRM_NOTES, notes, ARRAYSIZE(notes));
    SetDlgItemTextW(hDlg, IDC_NOTES, notes);
    SetEstimateText(app.instance, hDlg, state.battery);
}

// The message that refuses the start, or 0 when the refresh may start.
UINT RefusalOf(CBattery* pBattery) {
    SYSTEM_POWER_STATUS status = {};
    if (!GetPowerStatusDoubleCheck(&status, pBattery))
        return IDS_POWER_STATUS_FAILED;
    return RefusalForPowerStatus(status, FileExistsCurrentPath(REFRESH_EXE_NAME) != FALSE);
}

void OnYes(HWND hDlg, const ConfirmState& state) {
    MainApp& app = state.app;
    CBattery* pBattery = state.battery;
    ShowWindow(hDlg, SW_HIDE);
    if (const UINT refusal = RefusalOf(pBattery)) {
        TaskDlgMessageBox(hDlg, refusal, IDS_APP_TITLE, MB_OK | MB_ICONWARNING);
        ShowWindow(hDlg, SW_SHOW);
        return;
    }
    app.sleepAfterCompletion = IsDlgButtonChecked(hDlg, IDC_SLEEP_CHECK) == BST_CHECKED;
    const WORD battNo = pBattery ? static_cast<WORD>(pBattery->GetBattNo()) : 0;
    SendMessageW(app.mainWindow, WM_COMMAND, MAKEWPARAM(IDM_START_REFRESH, battNo), 0);
    // The refresh (or the main window, when it could not start) has taken
    // over: the main window's input comes back when the run's windows close.
    DestroyWindow(hDlg);
}

INT_PTR CALLBACK ConfirmDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    ConfirmState* state = zb::DialogState<ConfirmState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        OnInit(hDlg, *state);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnYes(hDlg, *state);
            break;
        case IDCANCEL:
            zb::CloseModeless(hDlg);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_NCDESTROY:
        state->app.confirmDialog.Forget(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

UINT RefusalForPowerStatus(const SYSTEM_POWER_STATUS& status, bool bRefreshToolPresent) {
    if (status.BatteryFlag == BATTERY_FLAG_UNKNOWN)
        return IDS_NO_BATTERY_CONNECTED;
    if (status.ACLineStatus != 1)
        return IDS_AC_NOT_CONNECTED;
    if (status.BatteryFlag & BATTERY_FLAG_NO_BATTERY)
        return IDS_NO_BATTERY_CONNECTED;
    if (!bRefreshToolPresent)
        return IDS_FILE_MISSING;
    return 0;
}

HWND CreateConfirmDialog(MainApp& app, HWND hParent, CBattery* pBattery) {
    std::unique_ptr<ConfirmState> state(new ConfirmState{app, pBattery});
    HWND hDlg = zb::CreateDialogWithState<ConfirmDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_CONFIRM), hParent, std::move(state));
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

} // namespace zbmain
