// The read-me dialog: the flow of a refresh as a picture, and the choice
// not to be shown it at every start.
#include "main/main_app.h"

#include <memory>

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

// Nothing to keep yet beyond what the controls hold.
struct ReadMeState {};

void OnInit(HWND hDlg) {
    SetWindowTextW(hDlg, App().title);
    CheckDlgButton(hDlg, IDC_README_CHECK, GetRegReadMeCheck() == 1 ? BST_CHECKED : BST_UNCHECKED);
}

void OnNext(HWND hDlg) {
    const DWORD check = IsDlgButtonChecked(hDlg, IDC_README_CHECK) == BST_CHECKED ? 1 : 0;
    const HRESULT hr = SetRegReadMeCheck(check);
    if (FAILED(hr))
        WriteErrorLog(IDS_ERR_README_WRITE, ERRLOG_CAPTION_ID, ERRLOG_FILE, static_cast<DWORD>(hr),
                      App().instance);
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
}

INT_PTR CALLBACK ReadMeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit(hDlg);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            OnNext(hDlg);
        else if (LOWORD(wParam) == IDCANCEL)
            SendMessageW(hDlg, WM_CLOSE, 0, 0);
        return TRUE;
    case WM_CLOSE:
        EnableWindow(GetParent(hDlg), TRUE);
        DestroyWindow(hDlg);
        return TRUE;
    case WM_NCDESTROY:
        if (App().readMe == hDlg)
            App().readMe = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

HWND CreateReadMeDialog(HWND hParent) {
    HWND hDlg =
        CreateDialogParamW(App().instance, MAKEINTRESOURCEW(IDD_README), hParent, ReadMeDlgProc, 0);
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

} // namespace zbmain
