// The read-me dialog: the flow of a refresh as a picture, and the choice
// not to be shown it at every start.
#include "main/main_app.h"

#include <commctrl.h>

#include <memory>

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

struct ReadMeState {
    POINT origin = {}; // of the picture, in the drawing area's client pixels
};

LRESULT CALLBACK DrawingAreaProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR uIdSubclass, DWORD_PTR dwRefData);

void OnInit(HWND hDlg, ReadMeState* state) {
    SetWindowTextW(hDlg, App().title);
    CheckDlgButton(hDlg, IDC_README_CHECK, GetRegReadMeCheck() == 1 ? BST_CHECKED : BST_UNCHECKED);
    RECT area = {};
    GetClientRect(GetDlgItem(hDlg, IDC_README_AREA), &area);
    double scaleX = 1.0;
    double scaleY = 1.0;
    if (!GetScaling(&scaleX, &scaleY))
        scaleX = scaleY = 1.0;
    state->origin.x = area.left + static_cast<LONG>(10 * scaleX);
    state->origin.y = area.top + static_cast<LONG>(20 * scaleY);
    SetWindowSubclass(GetDlgItem(hDlg, IDC_README_AREA), DrawingAreaProc, 1,
                      reinterpret_cast<DWORD_PTR>(state));
}

// The group box paints its inside itself, after the dialog: the picture
// goes on top of it from the box's own paint.
LRESULT CALLBACK DrawingAreaProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR uIdSubclass, DWORD_PTR dwRefData) {
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hWnd, DrawingAreaProc, uIdSubclass);
    const LRESULT result = DefSubclassProc(hWnd, message, wParam, lParam);
    if (message == WM_PAINT) {
        const auto* state = reinterpret_cast<const ReadMeState*>(dwRefData);
        HDC hdc = GetDC(hWnd);
        StretchImg(App().instance, hdc, MAKEINTRESOURCEW(IDB_README_FLOW), state->origin.x,
                   state->origin.y);
        ReleaseDC(hWnd, hdc);
    }
    return result;
}

void OnNext(HWND hDlg) {
    const DWORD check = IsDlgButtonChecked(hDlg, IDC_README_CHECK) == BST_CHECKED ? 1 : 0;
    const HRESULT hr = SetRegReadMeCheck(check);
    if (FAILED(hr))
        WriteErrorLog(IDS_ERR_README_WRITE, ERRLOG_CAPTION_ID, ERRLOG_FILE, static_cast<DWORD>(hr),
                      App().instance);
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
}

INT_PTR CALLBACK ReadMeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (lParam)
            OnInit(hDlg, reinterpret_cast<ReadMeState*>(lParam));
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
