// zbbaretab: the least program that shows what the main screen shows at
// first (a dialog with a tab control, the common controls 6 loaded by the
// manifest), the second yardstick of the main screen's start-up in
// zbmainbench: what Wine costs any such program, apart from what the suite
// adds.
#include <windows.h>

#include <commctrl.h>

namespace {

constexpr int kDialogId = 100;
constexpr int kTabId = 101;

INT_PTR CALLBACK BareTabDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        HWND hTab = GetDlgItem(hDlg, kTabId);
        const wchar_t* labels[] = {L"first", L"second", L"third"};
        for (int i = 0; i < 3; ++i) {
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(labels[i]);
            TabCtrl_InsertItem(hTab, i, &item);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)
            EndDialog(hDlg, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(hDlg, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int APIENTRY wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls))
        return 1;
    return static_cast<int>(
        DialogBoxParamW(hInstance, MAKEINTRESOURCEW(kDialogId), nullptr, BareTabDlgProc, 0));
}
