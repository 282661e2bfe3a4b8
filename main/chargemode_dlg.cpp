// The charge mode dialog: full charge, about 80 % or about 50 % for one
// battery. A mode outside those three (charging held off by a refresh, or
// a value the firmware made up) gets the refusal layout instead; a mode the
// administrator enforces ("ChargeMode" policy) is shown with nothing to
// choose.
#include "main/main_app.h"

#include "battery/refresh_repair.h"
#include "common/help.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "ipc/pipe.h"
#include "main/message_box.h"
#include "main/program_ids.h"

#include <memory>

namespace zbmain {

namespace {

constexpr DWORD kChargeModeHelpTopic = 10136;

struct ChargeModeState {
    MainApp& app;
    CBattery* battery;
};

void ShowRefusalLayout(HWND hDlg) {
    CheckRadioButton(hDlg, IDC_CM_FULL, IDC_CM_50, 0);
    for (int id : {IDC_CM_FULL, IDC_CM_80, IDC_CM_50, IDC_CM_FULL_TEXT, IDC_CM_80_TEXT,
                   IDC_CM_50_TEXT, IDC_CM_STORAGE_NOTE, IDOK}) {
        EnableWindow(GetDlgItem(hDlg, id), FALSE);
        ShowWindow(GetDlgItem(hDlg, id), SW_HIDE);
    }
    ShowWindow(GetDlgItem(hDlg, IDC_CM_PROMPT), SW_HIDE);
    ShowWindow(GetDlgItem(hDlg, IDCANCEL), SW_HIDE);
    ShowWindow(GetDlgItem(hDlg, IDC_CM_REFRESH_NEEDED), SW_SHOW);
    ShowWindow(GetDlgItem(hDlg, IDC_CM_REFUSAL_OK), SW_SHOW);
    SendMessageW(hDlg, DM_SETDEFID, IDC_CM_REFUSAL_OK, 0);
}

// The choice that stands for a mode; 0 for a mode outside the three.
int RadioOf(DWORD dwMode) {
    switch (ChargeModeTextId(dwMode)) {
    case IDS_MODE_FULL:
        return IDC_CM_FULL;
    case IDS_MODE_80:
        return IDC_CM_80;
    case IDS_MODE_50:
        return IDC_CM_50;
    default:
        return 0;
    }
}

// The administrator enforces a mode: it is shown, nothing can be chosen,
// and the note says who decides (in place of the note that only this tool
// changes the mode, which no longer holds).
void ShowPolicyLayout(HWND hDlg, DWORD dwPolicyMode) {
    CheckRadioButton(hDlg, IDC_CM_FULL, IDC_CM_50, RadioOf(dwPolicyMode));
    for (int id : {IDC_CM_FULL, IDC_CM_80, IDC_CM_50, IDC_CM_FULL_TEXT, IDC_CM_80_TEXT,
                   IDC_CM_50_TEXT, IDOK})
        EnableWindow(GetDlgItem(hDlg, id), FALSE);
    ShowWindow(GetDlgItem(hDlg, IDC_CM_ONLY_HERE), SW_HIDE);
    ShowWindow(GetDlgItem(hDlg, IDC_CM_POLICY_NOTE), SW_SHOW);
    SendMessageW(hDlg, DM_SETDEFID, IDCANCEL, 0);
}

void OnInit(HWND hDlg, const ChargeModeState& state) {
    SetWindowTextW(hDlg, state.app.title);
    CBattery* pBattery = state.battery;

    DWORD mode = 0;
    const HRESULT hr = pBattery ? pBattery->GetChargeMode(&mode) : E_POINTER;
    if (FAILED(hr)) {
        WriteLog(L"ChargeModeDlgProc", __LINE__, L"Fail to GetChargeMode(). hr: %08x.", hr);
        return;
    }
    const int radio = RadioOf(mode);
    if (!radio) {
        ShowRefusalLayout(hDlg);
        return;
    }
    DWORD policy = 0;
    if (GetPolicyChargeMode(&policy)) {
        ShowPolicyLayout(hDlg, policy);
        return;
    }
    CheckRadioButton(hDlg, IDC_CM_FULL, IDC_CM_50, radio);
}

void Warn(HWND hDlg, UINT uMessageId) {
    TaskDlgMessageBox(hDlg, uMessageId, IDS_APP_TITLE, MB_OK | MB_ICONWARNING);
}

void OnOk(HWND hDlg, const ChargeModeState& state) {
    CBattery* pBattery = state.battery;
    DWORD mode = 0;
    // Nothing ticked happens only when the battery's mode could not be read:
    // then there is no choice to write, and OK leaves the battery alone.
    if (!ChosenChargeMode(IsDlgButtonChecked(hDlg, IDC_CM_FULL) == BST_CHECKED,
                          IsDlgButtonChecked(hDlg, IDC_CM_80) == BST_CHECKED,
                          IsDlgButtonChecked(hDlg, IDC_CM_50) == BST_CHECKED, &mode)) {
        zb::CloseModeless(hDlg);
        return;
    }
    // A policy that came while the dialog was open still wins.
    DWORD policy = 0;
    if (GetPolicyChargeMode(&policy) && policy != mode) {
        WriteLog(L"ChargeModeDlgProc", __LINE__,
                 L"The administrator enforces charge mode %u: %u is not written.\n", policy, mode);
        zb::CloseModeless(hDlg);
        return;
    }
    // A running refresh has released this battery's mode or holds it off
    // charging; a mode written now would stall or undo the refresh.
    if (IsRefreshToolRunning()) {
        WriteLog(L"ChargeModeDlgProc", __LINE__, L"A refresh tool runs: the mode is left.\n");
        Warn(hDlg, IDS_MODE_LOCKED_BY_REFRESH);
        zb::CloseModeless(hDlg);
        return;
    }
    SYSTEM_POWER_STATUS status = {};
    if (!pBattery || !GetPowerStatusDoubleCheck(&status, pBattery) ||
        status.BatteryFlag == BATTERY_FLAG_UNKNOWN ||
        (status.BatteryFlag & BATTERY_FLAG_NO_BATTERY)) {
        Warn(hDlg, IDS_BATTERY_NOT_CONNECTED);
        return;
    }
    if (FAILED(pBattery->SetChargeMode(mode)))
        Warn(hDlg, IDS_CHARGEMODE_SET_FAILED);
    else
        OwnerChargeModeWritten(pBattery->GetBattNo());
    SendMessageW(state.app.mainWindow, WM_USER_CHARGEMODECHANGED, 0, 0);
    zb::CloseModeless(hDlg);
}

// A click on a choice's text chooses it. The texts report more than clicks
// (being enabled or disabled, for one): those choose nothing.
void SelectByText(HWND hDlg, WPARAM wParam, int idRadio) {
    if (HIWORD(wParam) == STN_CLICKED || HIWORD(wParam) == STN_DBLCLK)
        CheckRadioButton(hDlg, IDC_CM_FULL, IDC_CM_50, idRadio);
}

INT_PTR CALLBACK ChargeModeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    ChargeModeState* state = zb::DialogState<ChargeModeState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        OnInit(hDlg, *state);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(hDlg, *state);
            break;
        case IDCANCEL:
        case IDC_CM_REFUSAL_OK:
            zb::CloseModeless(hDlg);
            break;
        case IDC_BUTTON_HELP:
            OpenHelp(GetDesktopWindow(), kChargeModeHelpTopic);
            break;
        case IDC_CM_FULL_TEXT:
            SelectByText(hDlg, wParam, IDC_CM_FULL);
            break;
        case IDC_CM_80_TEXT:
            SelectByText(hDlg, wParam, IDC_CM_80);
            break;
        case IDC_CM_50_TEXT:
            SelectByText(hDlg, wParam, IDC_CM_50);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_NCDESTROY:
        state->app.chargeModeDialog.Forget(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

bool ChosenChargeMode(bool bFull, bool b80, bool b50, DWORD* pdwMode) {
    if (!pdwMode)
        return false;
    if (bFull)
        *pdwMode = CHARGEMODE_FULL;
    else if (b80)
        *pdwMode = CHARGEMODE_80;
    else if (b50)
        *pdwMode = CHARGEMODE_50;
    else
        return false;
    return true;
}

HWND CreateChargeModeDialog(MainApp& app, HWND hParent, CBattery* pBattery) {
    std::unique_ptr<ChargeModeState> state(new ChargeModeState{app, pBattery});
    HWND hDlg = zb::CreateDialogWithState<ChargeModeDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_CHARGEMODE), hParent, std::move(state));
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

} // namespace zbmain
