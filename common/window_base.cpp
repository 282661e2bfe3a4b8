#include "common/window_base.h"

#include "common/log.h"
#include "common/util.h"

namespace zb {

BOOL CenterOnOwner(HWND hWnd) {
    if (!hWnd) {
        LogNullArg(L"CenterOnOwner", __LINE__, L"hWnd");
        return FALSE;
    }
    if (GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD)
        return TRUE;
    RECT area = {};
    HWND owner = GetWindow(hWnd, GW_OWNER);
    if (!owner || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(owner, &area)) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        if (!GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
            LogApiFailure(L"CenterOnOwner", __LINE__, L"GetMonitorInfo", GetLastError());
            return FALSE;
        }
        area = monitor.rcWork;
    }
    RECT window = {};
    if (!GetWindowRect(hWnd, &window)) {
        LogApiFailure(L"CenterOnOwner", __LINE__, L"GetWindowRect", GetLastError());
        return FALSE;
    }
    const POINT pos =
        CenteredWindowPosition(area, window.right - window.left, window.bottom - window.top);
    if (!SetWindowPos(hWnd, nullptr, pos.x, pos.y, 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        LogApiFailure(L"CenterOnOwner", __LINE__, L"SetWindowPos", GetLastError());
        return FALSE;
    }
    return TRUE;
}

bool ModelessSlot::Open(HWND hDlg, HWND hOwner) {
    if (!hDlg)
        return false;
    dialog_ = hDlg;
    ShowWindow(hDlg, SW_SHOW);
    EnableWindow(hOwner, FALSE);
    return true;
}

void ModelessSlot::Destroy() {
    if (dialog_ && IsWindow(dialog_))
        DestroyWindow(dialog_);
    dialog_ = nullptr;
}

void CloseModeless(HWND hDlg) {
    EnableWindow(GetParent(hDlg), TRUE);
    DestroyWindow(hDlg);
}

ATOM RegisterAppWindowClass(HINSTANCE hInstance, LPCWSTR lpszClassName, WNDPROC proc, UINT uIconId,
                            UINT uSmallIconId, LPCWSTR lpszMenuName) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(uIconId));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = lpszMenuName;
    wc.lpszClassName = lpszClassName;
    wc.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(uSmallIconId));
    return RegisterClassExW(&wc);
}

} // namespace zb
