// The main window: an invisible frame around the main dialog that owns
// every other window of the program, runs its commands and takes the
// requests of other instances.
#include "main/main_app.h"

#include <shlobj.h>

#include "common/log.h"
#include "common/settings.h"
#include "common/toast.h"
#include "common/window_base.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"
#include "main/message_box.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

// Every present battery has its identity and presence, so its data can be
// shown; an absent battery counts as ready.
bool BatteriesReady(const CBatteryArray* pBatteries) {
    if (!pBatteries)
        return true;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = pBatteries->GetBattery(battNo);
        if (!pBattery)
            continue;
        WCHAR head[6] = {};
        lstrcpynW(head, pBattery->GetOWNID(), ARRAYSIZE(head));
        if (head[0] == L'\0' || !pBattery->IsBatteryReachable())
            return false;
    }
    return true;
}

void HandStatusToBatteries(const MainApp& app, DWORD dwStatus) {
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        if (CBattery* pBattery = app.batteries ? app.batteries->GetBattery(battNo) : nullptr)
            pBattery->SetRefreshState(static_cast<int>(dwStatus));
    }
}

// Closes the dialogs a hand-over from another instance replaces, then
// gives the main window its input back.
void CloseSmallDialogs(MainApp& app, HWND hWnd) {
    app.readMe.Destroy();
    app.confirmDialog.Destroy();
    app.reservationDialog.Destroy();
    app.chargeModeDialog.Destroy();
    if (app.historyDialog)
        EndDialog(app.historyDialog, IDCANCEL);
    EnableWindow(hWnd, TRUE);
}

bool AnotherUserRefreshing() {
    return RefreshToolUser() == PIPE_USER_OTHER;
}

void ShowOtherUserRefreshing(HWND hOwner) {
    TaskDlgMessageBox(hOwner, IDS_OTHER_USER_REFRESHING, IDS_APP_TITLE, MB_ICONWARNING, IDS_EXIT);
}

void OnCreate(HWND hWnd, MainApp& app) {
    app.mainWindow = hWnd;
    SetWindowTextW(hWnd, app.title);

    KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(hWnd);
    if (GetToastLibrary().IsLoaded())
        GetToastLibrary().InitToastCommonInfo(&info);

    if (!IsWindowsXP() && IsUserAnAdmin()) {
        zb::ChangeWindowMessageFilter(WM_USER_SHOWREFRESH, MSGFLT_ADD);
        zb::ChangeWindowMessageFilter(WM_USER_SHOWCOMPLETE, MSGFLT_ADD);
    }
    app.startupTrace.Mark(L"toast window info, message filter");

    app.whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    app.queryRetryCount = 0;
    if (!BatteriesReady(app.batteries)) {
        WriteLog(L"WndProc", __LINE__, L"Starting %d time to query battery\n", app.queryRetryCount);
        SetTimer(hWnd, TIMER_BATTERY_QUERY, 1000, nullptr);
    }

    app.mainDialog = CreateMainDialog(app, hWnd);
    app.startupTrace.Mark(L"main dialog created");
    if (app.mainDialog) {
        ShowWindow(app.mainDialog, SW_SHOW);
        RECT dialog = {};
        if (GetWindowRect(app.mainDialog, &dialog))
            SetClientRect(hWnd, &dialog);
        else
            WriteLog(L"WndProc", __LINE__, L"Fail to GetWindowRect(). dwRet: %08x.\n",
                     GetLastError());
    }

    DWORD status = 0;
    if (FAILED(GetRegLastRefreshStatus(&status))) {
        if (IsWindowShowMode(app) == 0) {
            // "/icon" follows a refresh that runs; with none and no outcome
            // to show there is nothing to open, and the hidden screen ends.
            if (IsRefreshToolRunning()) {
                SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_START_REFRESH, 0), 0);
            } else {
                WriteLog(L"WndProc", __LINE__, L"No refresh tool runs: nothing to follow.\n");
                PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
            }
        } else if (GetRegReadMeCheck() != 1)
            PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_SHOW_README, 0), 0);
        return;
    }
    HandStatusToBatteries(app, status);
    PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_SHOW_COMPLETE, 0), 0);
}

void OnQueryTimer(HWND hWnd, MainApp& app) {
    if (!BatteriesReady(app.batteries) && ++app.queryRetryCount <= BATTERY_QUERY_MAX_TICKS)
        return;
    KillTimer(hWnd, TIMER_BATTERY_QUERY);
    SetDlgInfo(app.mainDialog, app.batteries);
    // The result fill above does not reach the pages' fields: redraw them too.
    SendMessageW(app.mainDialog, WM_USER_UPDATERESULT, 0, 0);
    SendMessageW(app.mainDialog, WM_USER_UPDATEBATTERY, 0, 0);
}

void OnStartRefresh(HWND hWnd, MainApp& app, UINT uBattNo) {
    if (AnotherUserRefreshing()) {
        ShowOtherUserRefreshing(hWnd);
        PostQuitMessage(0);
        return;
    }
    // Battery 0 only follows a refresh tool that already runs; a refresh
    // starts from the confirmation alone, which checks the mains and the
    // battery and has the person's consent.
    if (uBattNo == 0 && !IsRefreshToolRunning()) {
        WriteLog(L"WndProc", __LINE__, L"No refresh tool runs: nothing to follow.\n");
        return;
    }
    ShowWindow(hWnd, SW_HIDE);
    HWND hRefresh = CreateRefreshWindow(app, uBattNo);
    if (!hRefresh) {
        // Nothing took the screen over: the main window stays the user's.
        if (IsWindowShowMode(app) == 1)
            ShowWindow(hWnd, SW_SHOW);
        return;
    }
    if (IsWindowShowMode(app) != 1 && app.refreshDialog)
        PostMessageW(app.refreshDialog.Get(), WM_COMMAND, 3, 0);
}

void OnChargeMode(HWND hWnd, MainApp& app, UINT uBattNo) {
    if (uBattNo != 1 && uBattNo != 2)
        return;
    CBattery* pBattery = app.batteries ? app.batteries->GetBattery(uBattNo) : nullptr;
    DWORD mode = 0;
    if (pBattery && SUCCEEDED(pBattery->GetChargeMode(&mode)) &&
        (mode & CHARGEMODE_REFRESH_NEEDED)) {
        WCHAR text[512] = L"";
        LoadStringW(app.instance, IDS_REFRESH_NEEDED, text, ARRAYSIZE(text));
        MessageBoxW(hWnd, text, app.title, MB_OK);
        return;
    }
    app.chargeModeDialog.Open(CreateChargeModeDialog(app, hWnd, pBattery), hWnd);
}

void OnCommand(HWND hWnd, MainApp& app, WORD id, WORD battNo) {
    switch (id) {
    case IDM_SHOW_COMPLETE:
        ShowWindow(hWnd, SW_HIDE);
        if (!CreateCompleteWindow(app) && IsWindowShowMode(app) == 1)
            ShowWindow(hWnd, SW_SHOW);
        break;
    case IDM_START_REFRESH:
        OnStartRefresh(hWnd, app, battNo);
        break;
    case IDM_SHOW_README:
        if (!app.readMe)
            app.readMe.Open(CreateReadMeDialog(app, hWnd), hWnd);
        break;
    case IDM_CONFIRM_REFRESH:
        app.confirmDialog.Open(
            CreateConfirmDialog(app, hWnd,
                                app.batteries ? app.batteries->GetBattery(battNo) : nullptr),
            hWnd);
        break;
    case IDM_RESERVATION:
        app.reservationDialog.Open(CreateReservationDialog(app, hWnd, app.batteries), hWnd);
        break;
    case IDM_CHARGEMODE:
        OnChargeMode(hWnd, app, battNo);
        break;
    case IDM_ABOUT:
        ShowAboutBox(app.instance, hWnd);
        break;
    case IDM_EXIT:
        if (app.whiteBrush)
            DeleteObject(app.whiteBrush);
        app.whiteBrush = nullptr;
        DestroyWindow(hWnd);
        break;
    default:
        break;
    }
}

void OnShowComplete(HWND hWnd, MainApp& app) {
    if (FindWindowW(COMPLETE_WINDOW_CLASS, nullptr))
        return;
    DWORD status = 0;
    if (FAILED(GetRegLastRefreshStatus(&status)))
        return;
    HandStatusToBatteries(app, status);
    if (app.refreshDialog && IsWindow(app.refreshDialog.Get()))
        DestroyWindow(GetParent(app.refreshDialog.Get()));
    app.refreshDialog.Forget(app.refreshDialog.Get());
    CloseSmallDialogs(app, hWnd);
    SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_SHOW_COMPLETE, 0), 0);
}

void OnShowRefresh(HWND hWnd, MainApp& app, WPARAM wParam) {
    if (FindWindowW(REFRESH_WINDOW_CLASS, nullptr))
        return;
    // Nothing runs to follow: the outcome of the refresh that ended, if one
    // is stored; the person's open dialogs stay as they are otherwise.
    if (!IsRefreshToolRunning()) {
        OnShowComplete(hWnd, app);
        return;
    }
    app.sleepAfterCompletion = (wParam & 1) ? TRUE : FALSE;
    // The completion window never stands beside a small dialog (the main
    // window they need is hidden while it is shown).
    if (HWND hComplete = FindWindowW(COMPLETE_WINDOW_CLASS, nullptr))
        DestroyWindow(hComplete);
    CloseSmallDialogs(app, hWnd);
    SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDM_START_REFRESH, 0), 0);
}

void OnToastActivated(HWND hWnd, const MainApp& app, WPARAM wParam) {
    HWND target = nullptr;
    if (wParam == 1)
        target = app.refreshDialog.Get();
    else if (wParam == 7 || wParam == 8)
        target = hWnd;
    if (!target)
        return;
    const HRESULT hr = GetToastLibrary().SwitchToDesktop(target);
    if (FAILED(hr))
        WriteLog(L"WndProc", __LINE__, L"Failed to KX_NTF_SwitchToDT. hr: %08x.\n", hr);
}

void OnActivate(const MainApp& app) {
    for (HWND page : {app.battery1Page, app.battery2Page, app.mainDialog}) {
        if (!page || !IsWindowVisible(page))
            continue;
        for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongPtrW(child, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON &&
                IsWindowVisible(child) && IsWindowEnabled(child)) {
                SetFocus(child);
                return;
            }
        }
    }
    if (app.mainDialog)
        SetFocus(app.mainDialog);
}

} // namespace

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState* state = zb::WindowState<MainWindowState>(hWnd);
    if (!state) // messages before WM_NCCREATE
        return DefWindowProcW(hWnd, message, wParam, lParam);
    MainApp& app = state->app;
    switch (message) {
    case WM_CREATE:
        OnCreate(hWnd, app);
        return 0;
    case WM_TIMER:
        if (wParam == TIMER_BATTERY_QUERY)
            OnQueryTimer(hWnd, app);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == 0x800A)
            break;
        OnCommand(hWnd, app, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_USER_SHOWREFRESH:
        OnShowRefresh(hWnd, app, wParam);
        return 0;
    case WM_USER_SHOWCOMPLETE:
        OnShowComplete(hWnd, app);
        return 0;
    case WM_USER_UPDATERESULT:
    case WM_USER_UPDATEBATTERY:
    case WM_USER_CHARGEMODECHANGED:
        if (app.mainDialog)
            SendMessageW(app.mainDialog, message, wParam, lParam);
        return 0;
    case WM_USER_TOASTACTIVATED:
        OnToastActivated(hWnd, app, wParam);
        return 0;
    case TOAST_MSG_SHOWN:
    case TOAST_MSG_TIMEDOUT:
    case TOAST_MSG_DISMISSED:
    case TOAST_MSG_FAILED:
        return 0;
    case WM_QUERYENDSESSION:
        if (IsWindowsXP())
            return TRUE;
        return app.refreshDialog ? FALSE : TRUE;
    case WM_ACTIVATE:
        OnActivate(app);
        return 0;
    case WM_SHOWWINDOW:
        if (wParam)
            app.windowShown = TRUE;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_DESTROY:
        if (app.refreshDialog)
            EndDialog(app.refreshDialog.Get(), 1);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

void ShowAboutBox(HINSTANCE hInstance, HWND hParent) {
    DialogBoxParamW(
        hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hParent,
        [](HWND hDlg, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
            if (message == WM_INITDIALOG)
                return TRUE;
            if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
                EndDialog(hDlg, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        },
        0);
}

} // namespace zbmain
