// The main dialog: a tab control with the diagnosis page and one refresh
// page per battery present.
#include "main/main_app.h"

#include <commctrl.h>
#include <strsafe.h>

#include <memory>

#include "battery/refresh_repair.h"
#include "common/help.h"
#include "common/log.h"
#include "common/window_base.h"
#include "ipc/pipe.h"
#include "main/program_ids.h"
#include "main/reservation.h"
#include "main/result_info.h"

namespace zbmain {

namespace {

constexpr DWORD kMainHelpTopic = 10129;

// Control ids of one battery page.
struct PageIds {
    UINT battNo;
    int start, reserve, chargeMode;
    int schedule, lastDate;
    int group, explanation, modeLabel, modeText;
};
constexpr PageIds kPage1 = {1,
                            IDC_BUTTON_REFRESH1,
                            IDC_BUTTON_RESERVE1,
                            IDC_BUTTON_CHAREGEMODE1,
                            IDC_SCHEDULE1,
                            IDC_LASTDATE1,
                            IDC_MODE_GROUP1,
                            IDC_MODE_EXPLAIN1,
                            IDC_MODE_LABEL1,
                            IDC_MODE_TEXT1};
constexpr PageIds kPage2 = {2,
                            IDC_BUTTON_REFRESH2,
                            IDC_BUTTON_RESERVE2,
                            IDC_BUTTON_CHAREGEMODE2,
                            IDC_SCHEDULE2,
                            IDC_LASTDATE2,
                            IDC_MODE_GROUP2,
                            IDC_MODE_EXPLAIN2,
                            IDC_MODE_LABEL2,
                            IDC_MODE_TEXT2};

struct MainDialogState {
    MainApp& app;
};

struct BatteryPageState {
    MainApp& app;
    CBattery* battery;
};

struct DiagnosisPageState {
    MainApp& app;
    const CBatteryArray* batteries;
};

void SetItemTextFromResource(HINSTANCE hInstance, HWND hDlg, int id, UINT uStringId) {
    WCHAR text[260] = L"";
    LoadStringW(hInstance, uStringId, text, ARRAYSIZE(text));
    SetDlgItemTextW(hDlg, id, text);
}

void SetItemDate(HINSTANCE hInstance, HWND hDlg, int id, UINT uFormatId, const SYSTEMTIME& st,
                 bool bWithTime) {
    WCHAR format[64] = L"";
    WCHAR text[64] = L"";
    LoadStringW(hInstance, uFormatId, format, ARRAYSIZE(format));
    if (bWithTime)
        StringCchPrintfW(text, ARRAYSIZE(text), format, st.wYear, st.wMonth, st.wDay, st.wHour,
                         st.wMinute);
    else
        StringCchPrintfW(text, ARRAYSIZE(text), format, st.wYear, st.wMonth, st.wDay);
    SetDlgItemTextW(hDlg, id, text);
}

void EnableRefreshButtons(HWND hDlg, const PageIds& ids, BOOL bEnable) {
    for (int id : {ids.start, ids.reserve, ids.chargeMode})
        EnableWindow(GetDlgItem(hDlg, id), bEnable);
}

void ShowModeControls(HWND hDlg, const PageIds& ids, int nShow) {
    for (int id : {ids.chargeMode, ids.explanation, ids.group, ids.modeLabel, ids.modeText})
        ShowWindow(GetDlgItem(hDlg, id), nShow);
}

// Everything of a battery page but the reservation, which comes from the
// Task Scheduler and is filled for both pages at once (FillReservationTexts).
void SetBattDlgInfo(HINSTANCE hInstance, HWND hDlg, CBattery* pBattery, const PageIds& ids,
                    LPCWSTR lpszFunction) {
    if (!pBattery) {
        LogNullArg(lpszFunction, __LINE__, L"pBattery");
        return;
    }
    SetItemTextFromResource(hInstance, hDlg, ids.lastDate, IDS_NOT_YET_DONE);
    SYSTEMTIME last = {};
    if (SUCCEEDED(pBattery->GetLastRefreshDay(&last)))
        SetItemDate(hInstance, hDlg, ids.lastDate, IDS_DATE_FORMAT, last, false);

    // A battery to be replaced, or one the firmware protects, is not
    // refreshed; nothing on this page turns the buttons back on.
    if (pBattery->GetBatteryHealth() == BATTERY_HEALTH_CAUTION ||
        pBattery->IsBatteryChargeDisabled())
        EnableRefreshButtons(hDlg, ids, FALSE);

    if (!pBattery->IsChargeModeSupported())
        return;
    ShowModeControls(hDlg, ids, SW_SHOW);
    ShowWindow(GetDlgItem(hDlg, ids.modeText), SW_HIDE);
    DWORD mode = 0;
    if (FAILED(pBattery->GetChargeMode(&mode)))
        return;
    UINT textId = ChargeModeTextId(mode);
    if (mode == GetRegNotChargeLimit() && !IsRefreshToolRunning()) {
        // Charging held off belongs to a refresh; outside one the battery
        // goes back to full charge. During one it is the other battery's
        // hold, which the refresh tool gives back itself.
        const DWORD back = ChargeModeToGiveBack(pBattery->GetBattNo(), CHARGEMODE_FULL);
        textId = SUCCEEDED(pBattery->SetChargeMode(back)) ? ChargeModeTextId(back) : IDS_MODE_ERROR;
    }
    SetItemTextFromResource(hInstance, hDlg, ids.modeText, textId);
    ShowWindow(GetDlgItem(hDlg, ids.modeText), SW_SHOW);
}

// ---- Pages ------------------------------------------------------------------------

INT_PTR BatteryPageProc(const PageIds& ids, LPCWSTR lpszFill, HWND hDlg, UINT message,
                        WPARAM wParam, LPARAM) {
    BatteryPageState* state = zb::DialogState<BatteryPageState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        state->app.startupTrace.Mark(ids.battNo == 1 ? L"battery 1 page: dialog"
                                                     : L"battery 2 page: dialog");
        ShowModeControls(hDlg, ids, SW_HIDE);
        SetBattDlgInfo(state->app.instance, hDlg, state->battery, ids, lpszFill);
        state->app.startupTrace.Mark(ids.battNo == 1 ? L"battery 1 page: charge mode"
                                                     : L"battery 2 page: charge mode");
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        HWND hMain = state->app.mainWindow;
        if (id == ids.start)
            PostMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDM_CONFIRM_REFRESH, ids.battNo), 0);
        else if (id == ids.reserve)
            PostMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDM_RESERVATION, 0), 0);
        else if (id == ids.chargeMode)
            PostMessageW(hMain, WM_COMMAND, MAKEWPARAM(IDM_CHARGEMODE, ids.battNo), 0);
        return TRUE;
    }
    case WM_USER_UPDATEBATTERY:
        SetBattDlgInfo(state->app.instance, hDlg, state->battery, ids, lpszFill);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK Battery1PageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    return BatteryPageProc(kPage1, L"SetBattDlg1Info", hDlg, message, wParam, lParam);
}

INT_PTR CALLBACK Battery2PageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    return BatteryPageProc(kPage2, L"SetBattDlg2Info", hDlg, message, wParam, lParam);
}

INT_PTR CALLBACK DiagnosisPageDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    DiagnosisPageState* state = zb::DialogState<DiagnosisPageState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
    case WM_USER_UPDATERESULT:
        SetResultDlgInfo(hDlg, state->batteries);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return WhiteResultMessage(state->app, wParam, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_BUTTON_HISTORY)
            ShowHistoryDialog(state->app, state->app.mainWindow);
        else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            zb::CloseModeless(hDlg);
        return TRUE;
    default:
        return FALSE;
    }
}

// One Task Scheduler query for both pages. The main screen shows first and
// fills this after its first paint: the query is the slowest read of the
// start, and until it is done the pages leave the date empty rather than
// claim that nothing is reserved.
void FillReservationTexts(const MainApp& app) {
    SYSTEMTIME start = {};
    const bool reserved = GetReservationDisplay(app.instance, &start);
    for (const PageIds* ids : {&kPage1, &kPage2}) {
        HWND page = ids->battNo == 1 ? app.battery1Page : app.battery2Page;
        if (!page)
            continue;
        if (reserved)
            SetItemDate(app.instance, page, ids->schedule, IDS_FORMAT_MINUTE, start, true);
        else
            SetItemTextFromResource(app.instance, page, ids->schedule, IDS_NOT_SET);
    }
}

// ---- Main dialog --------------------------------------------------------------------

void PlacePage(HWND hTab, HWND hPage) {
    RECT rc = {};
    GetClientRect(hTab, &rc);
    MoveWindow(hPage, rc.left + 1, rc.top + 28, (rc.right - 3) - (rc.left + 1),
               (rc.bottom - 2) - (rc.top + 28), TRUE);
}

void ShowTabPage(const MainApp& app, HWND hTab, int nTab) {
    HWND selected = PageOfTab(app, nTab);
    for (HWND page : {app.diagnosisPage, app.battery1Page, app.battery2Page}) {
        if (page && page != selected)
            ShowWindow(page, SW_HIDE);
    }
    if (selected) {
        PlacePage(hTab, selected);
        ShowWindow(selected, SW_SHOW);
        InvalidateRect(selected, nullptr, TRUE);
    }
}

void InsertTab(HWND hTab, int nIndex, LPCWSTR lpszLabel) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<LPWSTR>(lpszLabel);
    TabCtrl_InsertItem(hTab, nIndex, &item);
}

void OnMainDialogInit(HWND hDlg, MainApp& app) {
    SetWindowTextW(hDlg, app.title);
    HWND hTab = GetDlgItem(hDlg, IDC_TAB);
    CBatteryArray* pBatteries = app.batteries;
    CBattery* pBattery1 = pBatteries ? pBatteries->GetBattery(1) : nullptr;
    CBattery* pBattery2 = pBatteries ? pBatteries->GetBattery(2) : nullptr;

    app.startupTrace.Mark(L"main dialog: template");
    app.diagnosisPage = zb::CreateDialogWithState<DiagnosisPageDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_DIAGNOSIS_PAGE), hTab,
        std::unique_ptr<DiagnosisPageState>(new DiagnosisPageState{app, pBatteries}));
    app.startupTrace.Mark(L"diagnosis page, picture");
    if (pBattery1) {
        app.battery1Page = zb::CreateDialogWithState<Battery1PageDlgProc>(
            app.instance, MAKEINTRESOURCEW(IDD_BATTERY1_PAGE), hTab,
            std::unique_ptr<BatteryPageState>(new BatteryPageState{app, pBattery1}));
    }
    if (pBattery2) {
        app.battery2Page = zb::CreateDialogWithState<Battery2PageDlgProc>(
            app.instance, MAKEINTRESOURCEW(IDD_BATTERY2_PAGE), hTab,
            std::unique_ptr<BatteryPageState>(new BatteryPageState{app, pBattery2}));
    }

    int index = 0;
    InsertTab(hTab, index++, L"バッテリ診断結果");
    if (pBattery1)
        InsertTab(hTab, index++, L"バッテリのリフレッシュ");
    if (pBattery2)
        InsertTab(hTab, index++, L"バッテリ（セカンダリ）のリフレッシュ");
    TabCtrl_SetCurSel(hTab, 0);
    ShowTabPage(app, hTab, 0);
}

INT_PTR CALLBACK MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    MainDialogState* state = zb::DialogState<MainDialogState>(hDlg);
    if (!state)
        return FALSE;
    MainApp& app = state->app;
    switch (message) {
    case WM_INITDIALOG:
        app.mainDialog = hDlg;
        OnMainDialogInit(hDlg, app);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr->idFrom == IDC_TAB && hdr->code == TCN_SELCHANGE)
            ShowTabPage(app, hdr->hwndFrom, TabCtrl_GetCurSel(hdr->hwndFrom));
        return TRUE;
    }
    case WM_PAINT: {
        HWND hTab = GetDlgItem(hDlg, IDC_TAB);
        if (HWND page = PageOfTab(app, TabCtrl_GetCurSel(hTab)))
            InvalidateRect(page, nullptr, TRUE);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            SendMessageW(GetParent(hDlg), WM_CLOSE, 0, 0);
            break;
        case IDC_BUTTON_HELP:
            OpenHelp(GetDesktopWindow(), kMainHelpTopic);
            break;
        case IDC_BUTTON_README:
            PostMessageW(GetParent(hDlg), WM_COMMAND, MAKEWPARAM(IDM_SHOW_README, 0), 0);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_USER_UPDATERESULT:
        if (app.diagnosisPage)
            SendMessageW(app.diagnosisPage, WM_USER_UPDATERESULT, 0, 0);
        return TRUE;
    case WM_USER_UPDATEBATTERY:
    case WM_USER_CHARGEMODECHANGED:
        for (HWND page : {app.battery1Page, app.battery2Page}) {
            if (page)
                SendMessageW(page, WM_USER_UPDATEBATTERY, 0, 0);
        }
        FillReservationTexts(app);
        return TRUE;
    case WM_USER_FILLRESERVATION:
        FillReservationTexts(app);
        // The last step of the start: the trace is complete.
        app.startupTrace.Mark(L"reservation query, after the first paint");
        app.startupTrace.WriteIfAsked();
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

UINT ChargeModeTextId(DWORD dwMode) {
    if (dwMode == CHARGEMODE_FULL)
        return IDS_MODE_FULL;
    if (dwMode >= 65 && dwMode <= 80)
        return IDS_MODE_80;
    if (dwMode >= 50 && dwMode <= 64)
        return IDS_MODE_50;
    return IDS_MODE_ERROR;
}

namespace {

// True when a start time was read and lies after now.
bool IsReservationAhead(HRESULT hrRead, const SYSTEMTIME& start, const SYSTEMTIME& now) {
    return SUCCEEDED(hrRead) && CompareSystemTime(&start, &now) > 0;
}

} // namespace

INT_PTR WhiteResultMessage(const MainApp& app, WPARAM wParam, LPARAM lParam) {
    if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_RESULT_MESSAGE || !app.whiteBrush)
        return FALSE;
    SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
    return reinterpret_cast<INT_PTR>(app.whiteBrush);
}

bool GetReservationDisplay(HINSTANCE hInstance, SYSTEMTIME* pStart) {
    if (!pStart)
        return false;
    const std::unique_ptr<TaskScheduling> tasks = CreateTaskScheduling(hInstance);
    const HRESULT hr = ReservationService(*tasks, hInstance).ReadStart(pStart);
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return IsReservationAhead(hr, *pStart, now);
}

HWND PageOfTab(const MainApp& app, int nTab) {
    switch (nTab) {
    case 0:
        return app.diagnosisPage;
    case 1:
        return app.battery1Page ? app.battery1Page : app.battery2Page;
    case 2:
        return app.battery2Page;
    default:
        return nullptr;
    }
}

HWND CreateMainDialog(MainApp& app, HWND hParent) {
    HWND hDlg = zb::CreateDialogWithState<MainDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_MAIN), hParent,
        std::unique_ptr<MainDialogState>(new MainDialogState{app}));
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

void SetDlgInfo(HWND hWnd, const CBatteryArray* pBatteryArray) {
    if (IsNullArg(pBatteryArray, L"SetDlgInfo", __LINE__, L"pBatteryArray"))
        return;
    SetResultDlgInfo(hWnd, pBatteryArray);
}

} // namespace zbmain
