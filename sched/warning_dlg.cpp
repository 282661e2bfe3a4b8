// The battery warning dialog: a small modeless dialog telling the owner to
// replace a worn battery, with a box that hides it for that battery and
// that kind of warning.
#include "sched/sched.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "sched/resource.h"

namespace zbsched {

namespace {

struct WarningDlgState {
    DWORD battNo;
    int warningType;
    HWND* slot;  // the scheduler's handle of this type's dialog
    HWND* other; // and of the other type's
};

HWND* DialogSlot(SchedState& state, int nWarningType) {
    return &state.warningDlg[nWarningType == WARNINGTYPE_CAUTION ? 1 : 0];
}

void OnInitDialog(HWND hDlg, const WarningDlgState& dlg) {
    HINSTANCE hInstance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hDlg, GWLP_HINSTANCE));
    HICON hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_ZBSCHED));
    SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
    SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
    WriteLog(L"BatteryWarningDlgProc", __LINE__, L"BatteryWarningDlgProc dwBattNo:%d.",
             MAKELONG(dlg.battNo, dlg.warningType));
    CheckDlgButton(hDlg, IDC_WARNING_HIDE, BST_UNCHECKED);
    UINT uText = 0;
    if (dlg.warningType == WARNINGTYPE_DETERIORATION)
        uText = IDS_WARNING_DIALOG;
    else if (dlg.warningType == WARNINGTYPE_CAUTION)
        uText = IDS_CAUTION_DIALOG;
    if (uText == 0) {
        PostMessageW(hDlg, WM_CLOSE, 0, 0);
        return;
    }
    WCHAR szText[256] = {};
    LoadStringW(hInstance, uText, szText, static_cast<int>(ARRAYSIZE(szText)));
    SetDlgItemTextW(hDlg, IDC_WARNING_TEXT, szText);
}

// Every way out (OK, Esc, the title bar's close box, the system menu)
// comes here: the hidden window, disabled while a warning dialog is open,
// takes input again once the last one has gone.
void CloseWarningDialog(HWND hDlg, WarningDlgState* dlg) {
    if (dlg && dlg->slot && *dlg->slot == hDlg)
        *dlg->slot = nullptr;
    const bool otherOpen = dlg && dlg->other && *dlg->other && IsWindow(*dlg->other);
    if (!otherOpen)
        EnableWindow(GetWindow(hDlg, GW_OWNER), TRUE);
    DestroyWindow(hDlg);
}

INT_PTR CALLBACK BatteryWarningDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WarningDlgState* dlg = zb::DialogState<WarningDlgState>(hDlg);
    switch (uMsg) {
    case WM_INITDIALOG:
        OnInitDialog(hDlg, *reinterpret_cast<WarningDlgState*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (!dlg)
            return FALSE;
        if (LOWORD(wParam) == IDOK) {
            const DWORD dwHide = IsDlgButtonChecked(hDlg, IDC_WARNING_HIDE) == BST_CHECKED ? 1 : 0;
            WriteLog(L"BatteryWarningDlgProc", __LINE__,
                     L"SetRegHideWarningDialog. nWarningType: %d,dwHideFlag:%d,dwBattNo:%d.",
                     dlg->warningType, dwHide, dlg->battNo);
            SetRegHideWarningDialog(dlg->warningType, dwHide, dlg->battNo);
            CloseWarningDialog(hDlg, dlg);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            CloseWarningDialog(hDlg, dlg);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        CloseWarningDialog(hDlg, dlg);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool IsShowWarningDlg(HWND hDlg, int nWarningType, DWORD dwBattNo) {
    WriteLog(L"IsShowWarningDlg", __LINE__, L"IsShowWarningDlg  dwBattNo: %d.", dwBattNo);
    if (hDlg && IsWindow(hDlg))
        return false;
    DWORD dwHide = 0;
    const HRESULT hr = GetRegHideWarningDialog(nWarningType, &dwHide, dwBattNo);
    if (FAILED(hr)) {
        WriteLog(L"IsShowWarningDlg", __LINE__, L"Fail to GetRegHideWarningDialog(). hr: %08x.",
                 hr);
        dwHide = 0;
    }
    return dwHide != 1;
}

void OpenWarningDialog(HWND hWnd, SchedState& state, int nWarningType, DWORD dwBattNo) {
    HWND* slot = DialogSlot(state, nWarningType);
    HWND* other = DialogSlot(state, nWarningType == WARNINGTYPE_CAUTION ? WARNINGTYPE_DETERIORATION
                                                                        : WARNINGTYPE_CAUTION);
    if (!IsShowWarningDlg(*slot, nWarningType, dwBattNo))
        return;
    std::unique_ptr<WarningDlgState> dlg(new WarningDlgState{dwBattNo, nWarningType, slot, other});
    *slot = zb::CreateDialogWithState<BatteryWarningDlgProc>(
        state.instance, MAKEINTRESOURCEW(IDD_WARNING), hWnd, std::move(dlg));
    WriteLog(L"OpenWarningDialog", __LINE__, L"CreateDialogParam. battery: %d.", dwBattNo);
    if (!*slot) {
        WriteLog(L"OpenWarningDialog", __LINE__, L"Fail to CreateDialogParam. dwRet: %08x.",
                 GetLastError());
        return;
    }
    HWND hOther = *other;
    RECT rc = {};
    if (hOther && IsWindow(hOther) && GetWindowRect(hOther, &rc))
        MoveWindow(*slot, rc.left + 20, rc.top + 20, rc.right - rc.left, rc.bottom - rc.top, TRUE);
    ShowWindow(*slot, SW_SHOWNORMAL);
    EnableWindow(hWnd, FALSE);
}

} // namespace zbsched
